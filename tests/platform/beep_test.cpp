// RealPlatform::Beep against a real PulseAudio server: the test starts its
// own server (own runtime folder and socket, a null sink), records the sink's
// monitor with parec while the beep plays, and measures the tone. The server
// is reached only through this process's PULSE_SERVER, so nothing else on the
// machine sees it. Where the server cannot start here, the test says why and
// skips. The fallbacks need no server: a socket path nobody serves, and one
// that accepts the connection but never answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/tone.h"
#include "tests/platform/tone_analysis.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kBeepHz = 3000;
constexpr uint32_t kBeepMs = 50;
constexpr milliseconds kBeepOverrunAllowed{100};
constexpr const char* kSinkName = "beep_test";
constexpr uint32_t kRecordRate = 48000;
constexpr milliseconds kServerStartTimeout{10000};
constexpr milliseconds kProcessExitTimeout{3000};
// How long the recording goes on after the beep returned: the monitor lags
// the sink by its latency.
constexpr milliseconds kRecordAfterBeep{300};
// Analysis windows of 1 ms hold exactly 3 periods of the tone.
constexpr size_t kWindowSamples = kRecordRate / 1000;

// Polls condition every few milliseconds until it holds or timeout passes:
// these are waits for what a real process does, observed from outside.
bool WaitFor(const std::function<bool()>& condition, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

bool SocketAnswers(const fs::path& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (text.size() >= sizeof(address.sun_path)) {
    close(fd);
    return false;
  }
  text.copy(address.sun_path, text.size());
  const bool answered = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return answered;
}

std::optional<std::string> FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return std::nullopt;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A child process with its output in a file; ended (SIGTERM, then SIGKILL)
// when it goes out of scope.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& environment, const fs::path& output) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Stop(SIGTERM); }

  bool Started() const { return pid_ > 0; }
  bool Exited() {
    if (pid_ <= 0) return true;
    if (waitpid(pid_, nullptr, WNOHANG) != pid_) return false;
    pid_ = -1;
    return true;
  }
  // Sends signal, waits for the exit, and kills the process if it lingers.
  void Stop(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    if (!WaitFor([&] { return Exited(); }, kProcessExitTimeout)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
};

// Sets an environment variable for the test's lifetime, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "vesk3-beep-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

milliseconds TimeBeep() {
  RealPlatform platform;
  const auto start = Clock::now();
  platform.Beep(kBeepHz, kBeepMs);
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// Standard error as a pseudo-terminal while it lives, so the terminal bell
// can be seen; restored afterwards.
class StderrOnTerminal {
 public:
  StderrOnTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const int terminal = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (terminal < 0) return;
    saved_ = dup(STDERR_FILENO);
    dup2(terminal, STDERR_FILENO);
    close(terminal);
  }
  StderrOnTerminal(const StderrOnTerminal&) = delete;
  StderrOnTerminal& operator=(const StderrOnTerminal&) = delete;
  ~StderrOnTerminal() {
    Restore();
    if (master_ >= 0) close(master_);
  }
  bool Ready() const { return saved_ >= 0; }
  // Restores standard error and returns what was written to the terminal.
  std::string Written() {
    Restore();
    std::string text;
    fcntl(master_, F_SETFL, O_NONBLOCK);
    char buffer[256];
    ssize_t got;
    while ((got = read(master_, buffer, sizeof(buffer))) > 0) text.append(buffer, got);
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  int master_ = -1;
  int saved_ = -1;
};

// A PulseAudio server of the test's own with one null sink, reached at
// unix:<folder>/native.
class PulseServerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty()) << "no temporary folder";
    const std::optional<std::string> pulseaudio = FindProgram("pulseaudio");
    parec_ = FindProgram("parec").value_or("");
    if (!pulseaudio || parec_.empty()) {
      GTEST_SKIP() << "pulseaudio or parec is not installed (Debian: pulseaudio, pulseaudio-utils)";
    }
    const fs::path dir = folder_.Path();
    socket_ = dir / "native";
    const fs::path log = dir / "server.log";
    // The sink loads first: once the socket answers, the sink is there.
    server_.emplace(
        *pulseaudio,
        std::vector<std::string>{
            "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1", "--disallow-exit",
            "--realtime=no", "--high-priority=no", "--log-target=stderr", "-L",
            std::string("module-null-sink rate=48000 channels=1 sink_name=") + kSinkName, "-L",
            "module-native-protocol-unix auth-anonymous=1 socket=" + socket_.string()},
        std::vector<std::string>{
            "PATH=/usr/bin:/bin", "HOME=" + dir.string(), "XDG_RUNTIME_DIR=" + dir.string(),
            "XDG_CONFIG_HOME=" + dir.string(), "PULSE_RUNTIME_PATH=" + dir.string(),
            "PULSE_STATE_PATH=" + dir.string()},
        log);
    const bool answered =
        server_->Started() &&
        WaitFor([&] { return SocketAnswers(socket_) || server_->Exited(); }, kServerStartTimeout) &&
        SocketAnswers(socket_);
    if (!answered) {
      GTEST_SKIP() << "the PulseAudio server did not start here; its log:\n" << ReadText(log);
    }
  }

  void TearDown() override {
    if (server_) server_->Stop(SIGTERM);
  }

  std::string Server() const { return "unix:" + socket_.string(); }

  TempFolder folder_;
  std::optional<ChildProcess> server_;
  std::string parec_;
  fs::path socket_;
};

// Per 1 ms window of the recording, the amplitude at the tone's pitch.
std::vector<double> ToneLevelPerMs(const std::vector<int16_t>& recording) {
  std::vector<double> levels;
  for (size_t at = 0; at + kWindowSamples <= recording.size(); at += kWindowSamples) {
    levels.push_back(AmplitudeAt({recording.data() + at, kWindowSamples}, kBeepHz, kRecordRate));
  }
  return levels;
}

TEST_F(PulseServerTest, BeepPlaysAToneOfThePitchAndLengthOnTheSoundServer) {
  const fs::path recordingFile = folder_.Path() / "monitor.raw";
  ChildProcess recorder(
      parec_,
      {"--server=" + Server(), "--device=" + std::string(kSinkName) + ".monitor", "--raw",
       "--format=s16le", "--rate=48000", "--channels=1", "--latency-msec=5"},
      {"PATH=/usr/bin:/bin", "HOME=" + folder_.Path().string(),
       "PULSE_COOKIE=" + (folder_.Path() / "cookie").string()},
      recordingFile);
  ASSERT_TRUE(recorder.Started());
  const auto recorded = [&] {
    std::error_code ignored;
    return fs::exists(recordingFile) ? fs::file_size(recordingFile, ignored) : 0;
  };
  // The monitor delivers silence from the start: once bytes arrive, it records.
  ASSERT_TRUE(WaitFor([&] { return recorded() > kRecordRate / 10; }, kServerStartTimeout))
      << ReadText(recordingFile);

  const ScopedEnv server("PULSE_SERVER", Server());
  const ScopedEnv cookie("PULSE_COOKIE", (folder_.Path() / "cookie").string());
  StderrOnTerminal terminal;
  ASSERT_TRUE(terminal.Ready());
  const milliseconds took = TimeBeep();
  EXPECT_EQ(terminal.Written().find('\a'), std::string::npos)
      << "the bell rang although a server played";
  EXPECT_GE(took, milliseconds(kBeepMs));
  EXPECT_LE(took, milliseconds(kBeepMs) + kBeepOverrunAllowed);

  const uintmax_t atReturn = recorded();
  const uintmax_t wanted = atReturn + kRecordRate * 2 * kRecordAfterBeep.count() / 1000;
  ASSERT_TRUE(WaitFor([&] { return recorded() >= wanted; }, kServerStartTimeout));
  recorder.Stop(SIGINT);

  std::ifstream in(recordingFile, std::ios::binary);
  std::vector<int16_t> recording(fs::file_size(recordingFile) / 2);
  in.read(reinterpret_cast<char*>(recording.data()),
          static_cast<std::streamsize>(recording.size() * 2));
  const std::vector<double> levels = ToneLevelPerMs(recording);
  ASSERT_FALSE(levels.empty());

  // The tone: the windows at more than half its peak level, in one run.
  const double peak = *std::max_element(levels.begin(), levels.end());
  ASSERT_GT(peak, kTonePeak / 4) << "no tone at " << kBeepHz << " Hz in the recording";
  size_t first = levels.size();
  size_t last = 0;
  size_t loud = 0;
  for (size_t i = 0; i < levels.size(); ++i) {
    if (levels[i] <= peak / 2) continue;
    first = std::min(first, i);
    last = i;
    ++loud;
  }
  std::cout << "beep took " << took.count() << " ms; recorded a tone of " << loud << " ms at level "
            << peak << "\n";
  EXPECT_NEAR(static_cast<double>(loud), kBeepMs, 15) << "ms above half the tone's level";
  EXPECT_LE(last - first + 1 - loud, 2u) << "the tone breaks up";

  // Where it is loud, nearly all of the sound is at the tone's pitch.
  for (size_t i = first; i <= last; ++i) {
    if (levels[i] <= peak / 2) continue;
    const std::span<const int16_t> window(recording.data() + i * kWindowSamples, kWindowSamples);
    ASSERT_GT(levels[i] / (Rms(window) * std::sqrt(2.0)), 0.9) << "at " << i << " ms";
  }
}

// Where no server answers, the beep falls back to the terminal bell and
// still takes its duration and not much longer.
class BeepWithoutServer : public testing::TestWithParam<const char*> {};

TEST_P(BeepWithoutServer, RingsTheBellAndReturnsInTime) {
  TempFolder folder;
  ASSERT_FALSE(folder.Path().empty());
  const fs::path socketPath = folder.Path() / "native";
  int listener = -1;
  if (std::string(GetParam()) == "silent") {
    // Accepts connections (the kernel does, from the backlog) but never
    // answers the client's greeting.
    listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.string().copy(address.sun_path, sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
  }
  const ScopedEnv server("PULSE_SERVER", "unix:" + socketPath.string());
  const ScopedEnv cookie("PULSE_COOKIE", (folder.Path() / "cookie").string());

  StderrOnTerminal terminal;
  ASSERT_TRUE(terminal.Ready());
  const milliseconds took = TimeBeep();
  EXPECT_NE(terminal.Written().find('\a'), std::string::npos);
  EXPECT_GE(took, milliseconds(kBeepMs));
  EXPECT_LE(took, milliseconds(kBeepMs) + kBeepOverrunAllowed);
  if (listener >= 0) close(listener);
}

INSTANTIATE_TEST_SUITE_P(Servers, BeepWithoutServer, testing::Values("absent", "silent"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
