#include "tests/hardware/emulator_control.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

EmulatorControl::EmulatorControl() {
  const char* path = std::getenv("VESK3_EMULATOR_SOCKET");
  if (!path || std::strlen(path) >= sizeof(sockaddr_un::sun_path)) return;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return;
  }
  fd_ = fd;
}

EmulatorControl::~EmulatorControl() {
  if (fd_ >= 0) close(fd_);
}

std::string EmulatorControl::Command(const std::string& line) {
  if (fd_ < 0) return "error not under the emulator";
  std::string out = line + "\n";
  size_t sent = 0;
  while (sent < out.size()) {
    ssize_t n = write(fd_, out.data() + sent, out.size() - sent);
    if (n <= 0) return "error control connection lost";
    sent += static_cast<size_t>(n);
  }
  std::string answer;
  char c;
  while (read(fd_, &c, 1) == 1) {
    if (c == '\n') return answer;
    answer += c;
  }
  return "error control connection lost";
}

int EmulatorControl::AddBridge(const std::string& model, unsigned vendor, unsigned product,
                               const std::string& serial, const std::string& description,
                               bool sysfsStrings) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "%04x %04x", vendor, product);
  std::string answer = Command("add " + model + " " + ids + " " + serial + " " +
                               (sysfsStrings ? "sysfs " : "nosysfs ") + description);
  if (answer.rfind("ok ", 0) != 0) return -1;
  int bridge = std::atoi(answer.c_str() + 3);
  return Plug(bridge) ? bridge : -1;
}

bool EmulatorControl::Plug(int bridge) {
  return Command("plug " + std::to_string(bridge)).rfind("ok", 0) == 0;
}

bool EmulatorControl::Unplug(int bridge) {
  return Command("unplug " + std::to_string(bridge)).rfind("ok", 0) == 0;
}

std::map<std::string, std::string> EmulatorControl::State(int bridge) {
  std::map<std::string, std::string> state;
  std::istringstream words(Command("state " + std::to_string(bridge)));
  std::string word;
  while (words >> word) {
    size_t eq = word.find('=');
    if (eq != std::string::npos) state[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return state;
}
