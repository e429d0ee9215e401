// A recording as a video file through FFmpeg's libraries: lossless FFV1 in
// Matroska, or H.264 in MP4 where this FFmpeg has an H.264 encoder. Every
// frame carries the real time it arrived (millisecond time base), so the
// video plays at the pace the mirror ran.
//
// Owns: the muxer, the encoder, the colour conversion (libswscale), the
// trailer that makes the file playable. Does not own: the frames' content.
#pragma once

#include <memory>
#include <string>

#include "capture/recorder.h"

enum class VideoCodec { Ffv1, H264 };

constexpr int kVideoTimeBaseHz = 1000;  // timestamps in milliseconds

std::unique_ptr<FrameRecorder> OpenVideoRecorder(const std::string& path, VideoCodec codec,
                                                 int width, int height, std::string* error);
