// _vesk3: the extension behind the Python package `vesk3`. One hand
// controller session per process on the core's own road, through the same
// session, key, mirror, expect and capture code as vesk3ctl.
//
// Owns: the Session object (the backend, the program scope, the session),
// moving images between RgbImage and numpy arrays, releasing the GIL around
// every blocking exchange, turning Python's pending signals (Ctrl+C) into the
// session's interrupt between exchanges, and raising failures as
// vesk3.Vesk3Error. Does not own: the Python API, its checks and its
// documentation (vesk3/_device.py), or any device logic.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "capture/frame_image.h"
#include "capture/png_file.h"
#include "capture/recorder.h"
#include "capture/screen_compare.h"
#include "ctl/device_session.h"
#include "ctl/interrupt.h"
#include "ctl/key_press.h"
#include "ctl/mirror_loop.h"
#include "ctl/screen_expect.h"
#include "ctl/session_driver.h"
#include "protocol/command_channel.h"
#include "services/buttons.h"
#include "services/display_frame.h"
#include "services/program_state.h"
#include "sim/simulated_setup.h"
#ifdef VESK3_PYTHON_LIBFTDI
#include "drivers/libftdi_driver.h"
#endif

namespace py = pybind11;

namespace {

constexpr double kMsPerSecond = 1000;
constexpr const char* kConsolePrefix = "vesk3ctl: ";
constexpr int kMaxTolerance = 255;

// A device failure on its way to Python as vesk3.Vesk3Error.
struct DeviceError {
  SessionFailure failure;
};

// A file that cannot be read or written, on its way to Python as OSError.
struct FileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A Python exception raised by a signal handler while the core ran without
// the GIL: kept until the call returns, then raised.
struct CapturedSignal {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  bool Pending() const { return type != nullptr; }
};
CapturedSignal capturedSignal;

// Asked by the session between exchanges: runs Python's signal handlers.
bool PythonSignalRaised() {
  if (capturedSignal.Pending()) return true;
  py::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() == 0) return false;
  PyErr_Fetch(&capturedSignal.type, &capturedSignal.value, &capturedSignal.traceback);
  return capturedSignal.Pending();
}

// With the GIL held: raises what a signal handler raised during the call.
void RaiseCapturedSignal() {
  if (!capturedSignal.Pending()) return;
  PyErr_Restore(capturedSignal.type, capturedSignal.value, capturedSignal.traceback);
  capturedSignal = CapturedSignal{};
  throw py::error_already_set();
}

// Runs a blocking call into the core without the GIL.
template <typename F>
auto WithoutGil(F&& call) {
  if constexpr (std::is_void_v<decltype(call())>) {
    {
      py::gil_scoped_release release;
      call();
    }
    RaiseCapturedSignal();
  } else {
    std::optional<decltype(call())> result;
    {
      py::gil_scoped_release release;
      result.emplace(call());
    }
    RaiseCapturedSignal();
    return std::move(*result);
  }
}

py::array_t<uint8_t> ArrayOf(const RgbImage& image) {
  py::array_t<uint8_t> array({image.height, image.width, 3});
  std::memcpy(array.mutable_data(), image.rgb.data(), image.rgb.size());
  return array;
}

using InputArray = py::array_t<uint8_t, py::array::c_style | py::array::forcecast>;

RgbImage ImageOf(const InputArray& array) {
  if (array.ndim() != 3 || array.shape(2) != 3) {
    throw py::value_error("an image is an array of height x width x 3 uint8 values (RGB)");
  }
  RgbImage image = MakeImage(static_cast<int>(array.shape(1)), static_cast<int>(array.shape(0)));
  std::memcpy(image.rgb.data(), array.data(), image.rgb.size());
  return image;
}

RgbImage ReferenceOf(const InputArray& array) {
  RgbImage reference;
  const std::string error = ReferenceAtDeviceSize(ImageOf(array), &reference);
  if (!error.empty()) throw py::value_error(error);
  return reference;
}

std::string FieldText(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

// Device bytes are not trusted to be UTF-8: each byte is its own code point.
py::str Latin1(const std::string& bytes) {
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeLatin1(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr));
}

bool sessionOpen = false;

class Session {
 public:
  Session(const std::optional<std::string>& serial, bool sim) : console_{out_, err_} {
    if (sessionOpen) {
      throw std::runtime_error(
          "a Vesk-3 is already open in this process (there is one link per process); "
          "close it before opening another");
    }
    OpenFailureHint hint;
    if (sim) {
      sim_ = std::make_unique<SimulatedSetup>(/*realTime=*/true);
      backend_ = &sim_->bridge;
      platform_ = &sim_->platform;
    } else {
#ifdef VESK3_PYTHON_LIBFTDI
      ftdi_ = std::make_unique<LibFtdiDriver>();
      backend_ = ftdi_.get();
      platform_ = &realPlatform_;
      LibFtdiDriver* driver = ftdi_.get();
      hint = [driver] { return driver->OpenFailureInPlainWords(); };
#else
      throw std::runtime_error("this build has no libftdi1 backend; use sim=True");
#endif
    }
    driver_ = std::make_unique<SessionDriver>(*backend_);
    if (serial) driver_->ChooseSerial(*serial);
    scope_ = std::make_unique<ProgramScope>(*driver_, *platform_);
    session_ = std::make_unique<DeviceSession>(*driver_, console_, hint);
    sessionOpen = true;
    SetInterruptProbe(PythonSignalRaised);
  }
  ~Session() {
    Close();
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void Close() {
    if (!session_) return;
    ticks_.reset();
    session_.reset();
    {
      py::gil_scoped_release release;
      scope_.reset();  // ends the link
    }
    driver_.reset();
    sim_.reset();
#ifdef VESK3_PYTHON_LIBFTDI
    ftdi_.reset();
#endif
    SetInterruptProbe(nullptr);
    sessionOpen = false;
  }
  bool IsOpen() const {
    return session_ != nullptr;
  }

  void Connect() {
    Check(WithoutGil([&] { return Live().Connect(); }));
  }

  py::tuple Info() {
    DeviceInfo info;
    Check(WithoutGil([&] { return Live().ReadInfo(&info); }));
    return py::make_tuple(Latin1(FieldText(info.bridgeSerial, sizeof info.bridgeSerial)),
                          info.bootMode != 0 ? "BOOT" : "APP", info.protocolVersion1,
                          info.protocolVersion2, info.chipId,
                          Latin1(FieldText(info.uniqueId, sizeof info.uniqueId)));
  }

  py::array_t<uint8_t> Screenshot() {
    Check(WithoutGil([&] { return Live().ReadWholeFrame(); }));
    return ArrayOf(ImageOfFrame(FrameBuffer));
  }

  void Press(const std::vector<int>& keys, uint32_t holdMs, uint32_t gapMs) {
    ResultCode failed = kResultOk;
    const PressOutcome outcome =
        WithoutGil([&] { return PressKeys(Live(), keys, holdMs, gapMs, &failed); });
    if (outcome == PressOutcome::Failed) Check(failed);
  }

  void PushEscLine() {
    Check(WithoutGil([&] { return Live().PushEscLine(); }));
  }

  // (matched, ms, differing, screen, diff)
  py::tuple Expect(const InputArray& referenceArray, const std::optional<Region>& wanted,
                   int tolerance, double timeoutS) {
    const RgbImage reference = ReferenceOf(referenceArray);
    const Region region = wanted ? *wanted : WholeImage(reference);
    if (!RegionFits(region, reference)) {
      throw py::value_error("the region must lie inside the 240 x 320 screen");
    }
    if (tolerance < 0 || tolerance > kMaxTolerance) {
      throw py::value_error("tolerance is 0 .. 255 per colour channel");
    }
    const ExpectOutcome outcome =
        WithoutGil([&] { return ExpectScreen(Live(), reference, region, tolerance, timeoutS); });
    if (outcome.end == MirrorEnd::Failed) Check(outcome.failed);
    const bool matched = outcome.end == MirrorEnd::Stopped;
    py::object screen = py::none();
    py::object diff = py::none();
    if (outcome.differing >= 0) {
      screen = ArrayOf(outcome.screen);
      if (!matched) diff = ArrayOf(DiffImage(outcome.screen, reference, region, tolerance));
    }
    return py::make_tuple(matched, outcome.matchedMs, outcome.differing, screen, diff);
  }

  void StartFrames() {
    ticks_ = std::make_unique<MirrorTicks>(Live());
    Check(WithoutGil([&] { return ticks_->Start(); }));
  }

  // The next refreshed frame as (ms since the first, image), or None once
  // limitMs (0: none) has passed without one.
  py::object NextFrame(uint64_t limitMs) {
    if (!ticks_) throw std::logic_error("frames were not started");
    MirrorFrame frame;
    uint64_t nowMs = 0;
    ResultCode failed = kResultOk;
    for (;;) {
      const MirrorTicks::Tick tick =
          WithoutGil([&] { return ticks_->Next(&frame, &nowMs, &failed); });
      if (tick == MirrorTicks::Tick::Failed) Check(failed);
      if (tick == MirrorTicks::Tick::Refreshed) {
        return py::make_tuple(frame.msSinceStart, ArrayOf(ImageOfFrame(FrameBuffer)));
      }
      if (limitMs != 0 && nowMs >= limitMs) return py::none();
    }
  }

  uint64_t Record(const std::string& out, double seconds) {
    namespace fs = std::filesystem;
    if (RecordingKindOf(out) == RecordingKind::PngFolder && fs::exists(out) &&
        !fs::is_directory(out)) {
      throw py::value_error(out + " is a file: the path ends in .mkv or .mp4, or names a folder");
    }
    // No file is made for a device that is not there.
    Connect();
    std::string error;
    std::unique_ptr<FrameRecorder> recorder = OpenRecorder(out, &error);
    if (!recorder) throw FileError(error);
    uint64_t frames = 0;
    std::string writeError;
    MirrorLimits limits;
    limits.ms = static_cast<uint64_t>(seconds * kMsPerSecond + 0.5);
    ResultCode failed = kResultOk;
    MirrorEnd end = MirrorEnd::Done;
    {
      py::gil_scoped_release release;
      auto onFrame = [&](const MirrorFrame& frame) {
        const RgbImage image = ImageOfFrame(FrameBuffer);
        writeError = recorder->Add({&image, frame.msSinceStart, frame.bytesMoved});
        ++frames;
        return writeError.empty();
      };
      end = RunMirror(Live(), limits, onFrame, nullptr, &failed);
      // Whatever ended the loop, the file is completed so it plays or opens.
      const std::string finishError = recorder->Finish();
      if (writeError.empty()) writeError = finishError;
    }
    RaiseCapturedSignal();
    if (!writeError.empty()) throw FileError(writeError);
    if (end == MirrorEnd::Failed) Check(failed);
    return frames;
  }

  // The notes the session wrote since the last call, one a line.
  std::vector<std::string> TakeNotes() {
    std::vector<std::string> notes;
    std::istringstream lines(err_.str());
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(kConsolePrefix, 0) == 0) line.erase(0, std::strlen(kConsolePrefix));
      notes.push_back(line);
    }
    err_.str("");
    return notes;
  }

  // The simulated device, for tests.
  std::vector<int> SimButtonEvents() {
    std::vector<int> events;
    for (const ReceivedCommand& cmd : Sim().controller.ReceivedCommands()) {
      if (cmd.command != kCmdButtonEvent || cmd.params.size() != 1) continue;
      const uint8_t id = cmd.params[0].first;
      events.push_back((id & 0x0F) + ((id & 0x10) != 0 ? kButtonRelease : 0));
    }
    return events;
  }
  void SimNotify(int code, bool inPlaceOfNextAnswer) {
    Sim().controller.SendNotification(
        static_cast<uint8_t>(code),
        inPlaceOfNextAnswer ? NotifyWhen::InPlaceOfNextAnswer : NotifyWhen::Now);
  }
  py::array_t<uint8_t> SimScreen() {
    return ArrayOf(ImageOfFrame(Sim().controller.Screen()));
  }

 private:
  DeviceSession& Live() {
    if (!session_) throw std::runtime_error("the device is closed");
    return *session_;
  }
  SimulatedSetup& Sim() {
    if (!sim_) throw std::runtime_error("not the simulated device");
    return *sim_;
  }
  void Check(ResultCode code) {
    if (code != kResultOk) throw DeviceError{session_->Failure(code)};
  }

  std::ostringstream out_;
  std::ostringstream err_;
  Console console_;
  std::unique_ptr<SimulatedSetup> sim_;
#ifdef VESK3_PYTHON_LIBFTDI
  std::unique_ptr<LibFtdiDriver> ftdi_;
#endif
  RealPlatform realPlatform_;
  FtDriver* backend_ = nullptr;
  Platform* platform_ = nullptr;
  std::unique_ptr<SessionDriver> driver_;
  std::unique_ptr<ProgramScope> scope_;
  std::unique_ptr<DeviceSession> session_;
  std::unique_ptr<MirrorTicks> ticks_;
};

Region RegionOf(const py::tuple& t) {
  if (t.size() != 4) throw py::value_error("region is (x, y, w, h)");
  return Region{t[0].cast<int>(), t[1].cast<int>(), t[2].cast<int>(), t[3].cast<int>()};
}

}  // namespace

PYBIND11_MODULE(_vesk3, m) {
  m.doc() = "The hand controller session behind the vesk3 package (use vesk3.Device).";

  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const DeviceError& e) {
      py::object type = py::module_::import("vesk3._errors").attr("Vesk3Error");
      py::object error = type(e.failure.code, e.failure.text, e.failure.detail, e.failure.hint);
      PyErr_SetObject(type.ptr(), error.ptr());
    } catch (const FileError& e) {
      PyErr_SetString(PyExc_OSError, e.what());
    }
  });

  m.def(
      "result_text", [](int code) { return std::string(ResultText(code)); },
      "The result table's text of a code.");
  m.def(
      "write_png",
      [](const std::string& path, const InputArray& array, int scale) {
        if (scale < 1 || scale > kMaxScale) throw py::value_error("scale is 1 .. 16");
        const std::string error = WritePng(path, ScaleNearest(ImageOf(array), scale));
        if (!error.empty()) throw FileError(error);
      },
      py::arg("path"), py::arg("image"), py::arg("scale") = 1);
  m.def(
      "read_png",
      [](const std::string& path) {
        RgbImage read;
        const std::string error = ReadPng(path, &read);
        if (!error.empty()) throw FileError(error);
        return ArrayOf(read);
      },
      py::arg("path"));
  m.def(
      "key_code", [](const std::string& name) { return DeviceKeyNamed(name); }, py::arg("name"));
  m.attr("KEY_NAMES") = KeyNames();
  m.attr("MIRROR_PERIOD_MS") = kMirrorPeriodMs;
  m.attr("DISPLAY_WIDTH") = kDisplayWidth;
  m.attr("DISPLAY_HEIGHT") = kDisplayHeight;

  py::class_<Session>(m, "Session")
      .def(py::init<const std::optional<std::string>&, bool>(), py::arg("serial"), py::arg("sim"))
      .def("close", &Session::Close)
      .def_property_readonly("is_open", &Session::IsOpen)
      .def("connect", &Session::Connect)
      .def("info", &Session::Info)
      .def("screenshot", &Session::Screenshot)
      .def("press", &Session::Press)
      .def("push_esc", &Session::PushEscLine)
      .def("expect",
           [](Session& s, const InputArray& reference, const std::optional<py::tuple>& region,
              int tolerance, double timeoutS) {
             std::optional<Region> r;
             if (region) r = RegionOf(*region);
             return s.Expect(reference, r, tolerance, timeoutS);
           })
      .def("start_frames", &Session::StartFrames)
      .def("next_frame", &Session::NextFrame)
      .def("record", &Session::Record)
      .def("take_notes", &Session::TakeNotes)
      .def("sim_button_events", &Session::SimButtonEvents)
      .def("sim_notify", &Session::SimNotify)
      .def("sim_screen", &Session::SimScreen);
}
