// A recording as a folder: frame-000000.png, frame-000001.png, ... and
// frames.csv with one line per frame: index, milliseconds since start, bytes
// moved.
//
// Owns: creating the folder, the file names, the index. Does not own: the
// PNG encoding (png_file) or the pacing.
#pragma once

#include <memory>
#include <string>

#include "capture/recorder.h"

constexpr const char* kFramesCsvName = "frames.csv";
constexpr const char* kFramesCsvHeader = "index,ms,bytes";

// The name of frame `index` inside the folder.
std::string RecordedFrameName(uint64_t index);

std::unique_ptr<FrameRecorder> OpenPngFolderRecorder(const std::string& folder, std::string* error);
