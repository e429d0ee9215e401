// Recording the mirror: every refreshed frame with the time it arrived and
// the bytes its refresh moved.
//
// Owns: the FrameRecorder interface and the choice of recorder by the output
// name: "*.mkv" lossless FFV1, "*.mp4" H.264 (video_recorder), anything else a
// folder of numbered PNGs with frames.csv (png_folder_recorder).
// Does not own: the mirror loop or its pacing (the caller decides when a
// frame arrives). Errors come back as text ("" on success).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/frame_image.h"

struct RecordedFrame {
  const RgbImage* image = nullptr;
  uint64_t msSinceStart = 0;
  uint64_t bytesMoved = 0;
};

class FrameRecorder {
 public:
  virtual ~FrameRecorder() = default;
  virtual std::string Add(const RecordedFrame& frame) = 0;
  // Completes the file so it plays or opens; safe to call more than once.
  virtual std::string Finish() = 0;
};

enum class RecordingKind { Mkv, Mp4, PngFolder };

RecordingKind RecordingKindOf(const std::string& out);

// Opens the recording of device-sized frames; null with *error on failure.
std::unique_ptr<FrameRecorder> OpenRecorder(const std::string& out, std::string* error);
