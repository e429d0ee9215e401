#include "capture/png_folder_recorder.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "capture/png_file.h"

namespace {

class PngFolderRecorder final : public FrameRecorder {
 public:
  PngFolderRecorder(std::string folder, std::FILE* csv) : folder_(std::move(folder)), csv_(csv) {}
  ~PngFolderRecorder() override { (void)Finish(); }

  std::string Add(const RecordedFrame& frame) override {
    if (csv_ == nullptr) return "the recording is finished";
    std::string error = WritePng(folder_ + "/" + RecordedFrameName(index_), *frame.image);
    if (!error.empty()) return error;
    // Each line reaches the file at once: an interrupted run keeps a whole table.
    if (std::fprintf(csv_, "%" PRIu64 ",%" PRIu64 ",%" PRIu64 "\n", index_, frame.msSinceStart,
                     frame.bytesMoved) < 0 ||
        std::fflush(csv_) != 0) {
      return "cannot write " + folder_ + "/" + kFramesCsvName + ": " + std::strerror(errno);
    }
    ++index_;
    return "";
  }

  std::string Finish() override {
    if (csv_ == nullptr) return "";
    const bool closed = std::fclose(csv_) == 0;
    csv_ = nullptr;
    if (!closed)
      return "cannot write " + folder_ + "/" + kFramesCsvName + ": " + std::strerror(errno);
    return "";
  }

 private:
  std::string folder_;
  std::FILE* csv_;
  uint64_t index_ = 0;
};

}  // namespace

std::string RecordedFrameName(uint64_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "frame-%06" PRIu64 ".png", index);
  return name;
}

std::unique_ptr<FrameRecorder> OpenPngFolderRecorder(const std::string& folder,
                                                     std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder)) {
    *error = "cannot make the folder " + folder + (ec ? ": " + ec.message() : ": not a folder");
    return nullptr;
  }
  const std::string csvPath = folder + "/" + kFramesCsvName;
  std::FILE* csv = std::fopen(csvPath.c_str(), "w");
  if (csv == nullptr || std::fprintf(csv, "%s\n", kFramesCsvHeader) < 0) {
    *error = "cannot write " + csvPath + ": " + std::strerror(errno);
    if (csv != nullptr) std::fclose(csv);
    return nullptr;
  }
  return std::make_unique<PngFolderRecorder>(folder, csv);
}
