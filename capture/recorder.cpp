#include "capture/recorder.h"

#include "capture/png_folder_recorder.h"
#include "capture/video_recorder.h"
#include "services/display_frame.h"

namespace {
bool EndsWith(const std::string& text, const char* end) {
  const std::string tail(end);
  return text.size() > tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

RecordingKind RecordingKindOf(const std::string& out) {
  if (EndsWith(out, ".mkv")) return RecordingKind::Mkv;
  if (EndsWith(out, ".mp4")) return RecordingKind::Mp4;
  return RecordingKind::PngFolder;
}

std::unique_ptr<FrameRecorder> OpenRecorder(const std::string& out, std::string* error) {
  switch (RecordingKindOf(out)) {
    case RecordingKind::Mkv:
      return OpenVideoRecorder(out, VideoCodec::Ffv1, kDisplayWidth, kDisplayHeight, error);
    case RecordingKind::Mp4:
      return OpenVideoRecorder(out, VideoCodec::H264, kDisplayWidth, kDisplayHeight, error);
    case RecordingKind::PngFolder:
      break;
  }
  return OpenPngFolderRecorder(out, error);
}
