// Reads a recorded video back through FFmpeg's libraries and prints one line:
// "frames N pts A,B,C..." (milliseconds), or the error with exit status 1.
// The capture end-to-end test reads what the window recorded with it.
#include <cstdio>

#include "tests/capture/video_probe.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: video_frames VIDEO\n");
    return 2;
  }
  const ProbedVideo video = ProbeVideo(argv[1]);
  if (!video.error.empty()) {
    std::fprintf(stderr, "%s\n", video.error.c_str());
    return 1;
  }
  std::printf("frames %zu pts", video.ptsMs.size());
  for (size_t i = 0; i < video.ptsMs.size(); ++i) {
    std::printf("%c%lld", i == 0 ? ' ' : ',', static_cast<long long>(video.ptsMs[i]));
  }
  std::printf("\n");
  return 0;
}
