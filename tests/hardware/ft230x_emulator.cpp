// vesk3_ft230x_emulator: runs a program against emulated FT230X bridges.
//
//   vesk3_ft230x_emulator [--bridge <model>:<vid>:<pid>:<serial>:<description>]... [--] program
//   args...
//
// Owns: the umockdev testbed, the bridges on it (EmulatedBridge), the clock
// that drives them, the control socket through which the program under test
// adds, plugs and unplugs bridges and asks what they saw, and the program
// under test, started under umockdev's preload library so the real libftdi1
// and libusb run unchanged against the bridges. Exits with the program's
// status. The emulator runs itself under the preload as well: umockdev's
// events and device records are only visible through it.
// Does not own: what a bridge or its device does (usbfs_bridge, ft230x_chip).
#include <fcntl.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/hardware/usbfs_bridge.h"
#include "tests/hardware/vesk3_serial_device.h"

namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";
constexpr const char* kPreloadedMark = "VESK3_EMULATOR_PRELOADED";
constexpr const char* kSocketVariable = "VESK3_EMULATOR_SOCKET";
constexpr const char* kChildAsanOptions = "VESK3_EMULATOR_CHILD_ASAN_OPTIONS";
constexpr guint kTickMs = 1;

struct Emulator {
  UMockdevTestbed* testbed = nullptr;
  std::mutex lock;
  std::vector<std::unique_ptr<EmulatedBridge>> bridges;
  uint8_t nextDevnum = 2;  // 1 is the root hub's
  GMainLoop* loop = nullptr;
  int exitStatus = 1;
};

struct Connection {
  Emulator* emulator;
  int fd;
  std::string pending;
};

std::unique_ptr<SerialDevice> MakeDevice(const std::string& model) {
  if (model == "echo") return std::make_unique<EchoDevice>();
  if (model == "vesk3") return MakeVesk3SerialDevice();
  return nullptr;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char two[3];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    text += two;
  }
  return text;
}

EmulatedBridge* FindBridge(Emulator& em, std::istringstream& words) {
  size_t index = 0;
  if (!(words >> index) || index >= em.bridges.size()) return nullptr;
  return em.bridges[index].get();
}

std::string AddBridge(Emulator& em, std::istringstream& words) {
  std::string model, vid, pid, serial, strings, description;
  if (!(words >> model >> vid >> pid >> serial >> strings)) return "error usage";
  std::getline(words >> std::ws, description);
  std::unique_ptr<SerialDevice> device = MakeDevice(model);
  if (!device) return "error unknown model " + model;
  BridgeSpec spec;
  spec.vendor = static_cast<uint16_t>(std::strtoul(vid.c_str(), nullptr, 16));
  spec.product = static_cast<uint16_t>(std::strtoul(pid.c_str(), nullptr, 16));
  spec.serial = serial;
  spec.description = description;
  spec.sysfsStrings = strings == "sysfs";
  int port = static_cast<int>(em.bridges.size()) + 1;
  em.bridges.push_back(
      std::make_unique<EmulatedBridge>(em.testbed, em.lock, spec, port, std::move(device)));
  return "ok " + std::to_string(em.bridges.size() - 1);
}

std::string State(EmulatedBridge& b) {
  char text[512];
  if (!b.plugged()) {
    std::snprintf(text, sizeof text, "ok plugged=0 openings=%d", b.openings());
    return text;
  }
  Ft230xChip& c = b.chip();
  std::snprintf(text, sizeof text,
                "ok plugged=1 devnum=%u baud=%u latency=%u data=0x%04x flow=0x%04x mode=0x%02x "
                "mask=0x%02x pins=0x%02x openings=%d open=%d towardhost=%zu",
                b.devnum(), c.baud(), c.latencyMs(), c.dataCharacteristics(), c.flowControl(),
                c.bitMode(), c.bitMask(), c.Pins(), b.openings(), b.OpenClients(),
                c.BytesTowardHost());
  return text;
}

std::string Execute(Emulator& em, const std::string& line) {
  std::istringstream words(line);
  std::string verb;
  words >> verb;
  std::lock_guard<std::mutex> hold(em.lock);
  if (verb == "add") return AddBridge(em, words);
  EmulatedBridge* b = FindBridge(em, words);
  if (!b) return "error no such bridge";
  if (verb == "plug") {
    std::string error;
    if (!b->plugged() && !b->Plug(em.nextDevnum++, &error)) return "error " + error;
    return "ok " + std::to_string(b->devnum());
  }
  if (verb == "unplug") {
    b->Unplug();
    return "ok";
  }
  if (verb == "state") return State(*b);
  if (!b->plugged()) return "error unplugged";
  if (verb == "requests") {
    std::string text = "ok";
    char item[32];
    for (const ChipRequest& r : b->chip().requests) {
      std::snprintf(item, sizeof item, " %02x:%04x:%04x", r.request, r.value, r.index);
      text += item;
    }
    return text;
  }
  if (verb == "heard") {
    std::string text = "ok";
    for (const auto& run : b->chip().heard) {
      text += " " + std::to_string(run.baud) + ":" + Hex(run.bytes);
    }
    return text;
  }
  if (verb == "clear") {
    b->chip().requests.clear();
    b->chip().heard.clear();
    return "ok";
  }
  if (verb == "hold") {
    int on = 0;
    words >> on;
    b->HoldOut(on != 0);
    return "ok";
  }
  if (verb == "device") {
    std::string rest;
    std::getline(words >> std::ws, rest);
    return b->device().Control(rest);
  }
  return "error unknown command " + verb;
}

gboolean OnConnectionData(gint fd, GIOCondition, gpointer data) {
  auto* conn = static_cast<Connection*>(data);
  char chunk[1024];
  ssize_t n = read(fd, chunk, sizeof chunk);
  if (n <= 0) {
    close(fd);
    delete conn;
    return G_SOURCE_REMOVE;
  }
  conn->pending.append(chunk, static_cast<size_t>(n));
  size_t newline;
  while ((newline = conn->pending.find('\n')) != std::string::npos) {
    std::string answer = Execute(*conn->emulator, conn->pending.substr(0, newline)) + "\n";
    conn->pending.erase(0, newline + 1);
    if (write(fd, answer.data(), answer.size()) < 0) break;
  }
  return G_SOURCE_CONTINUE;
}

gboolean OnControlConnect(gint fd, GIOCondition, gpointer data) {
  int client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (client >= 0) {
    g_unix_fd_add(client, G_IO_IN, OnConnectionData,
                  new Connection{static_cast<Emulator*>(data), client, {}});
  }
  return G_SOURCE_CONTINUE;
}

gboolean OnTick(gpointer data) {
  auto* em = static_cast<Emulator*>(data);
  std::lock_guard<std::mutex> hold(em->lock);
  uint64_t now = static_cast<uint64_t>(g_get_monotonic_time());
  for (auto& b : em->bridges) b->Tick(now);
  return G_SOURCE_CONTINUE;
}

void OnChildExit(GPid, gint status, gpointer data) {
  auto* em = static_cast<Emulator*>(data);
  if (WIFEXITED(status))
    em->exitStatus = WEXITSTATUS(status);
  else
    em->exitStatus = 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  g_main_loop_quit(em->loop);
}

int ListenOn(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof address.sun_path) return -1;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Runs this program again with the preload library in front, once.
void EnterPreload(char** argv) {
  if (std::getenv(kPreloadedMark)) return;
  std::string preload = kPreloadLibrary;
  if (const char* old = std::getenv("LD_PRELOAD"); old && *old) preload += std::string(":") + old;
  setenv("LD_PRELOAD", preload.c_str(), 1);
  setenv(kPreloadedMark, "1", 1);
  // A sanitizer runtime cannot be first in line behind a preload library.
  // The program under test gets the caller's options; the emulator itself
  // leaves its testbed to process exit and counts no leaks.
  std::string asan;
  if (const char* old = std::getenv("ASAN_OPTIONS"); old && *old) asan = std::string(old) + ":";
  asan += "verify_asan_link_order=0";
  setenv(kChildAsanOptions, asan.c_str(), 1);
  setenv("ASAN_OPTIONS", (asan + ":detect_leaks=0").c_str(), 1);
  execv("/proc/self/exe", argv);
  std::perror("vesk3_ft230x_emulator: cannot run itself under the preload library");
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  EnterPreload(argv);
  Emulator em;
  em.testbed = umockdev_testbed_new();
  int first = 1;
  for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
    if (std::strcmp(argv[first], "--") == 0) {
      ++first;
      break;
    }
    if (std::strcmp(argv[first], "--bridge") == 0 && first + 1 < argc) {
      std::string spec = argv[++first];
      for (char& c : spec) {
        if (c == ':') c = ' ';
      }
      std::istringstream words(spec);
      std::string model, vid, pid, serial, description;
      words >> model >> vid >> pid >> serial;
      std::getline(words >> std::ws, description);
      std::string answer = Execute(
          em, "add " + model + " " + vid + " " + pid + " " + serial + " sysfs " + description);
      if (answer.rfind("ok ", 0) != 0 || Execute(em, "plug " + answer.substr(3)).rfind("ok", 0)) {
        std::fprintf(stderr, "vesk3_ft230x_emulator: bridge %s: %s\n", argv[first], answer.c_str());
        return 1;
      }
    }
  }
  if (first >= argc) {
    std::fprintf(stderr,
                 "usage: %s [--bridge model:vid:pid:serial:description]... [--] program...\n",
                 argv[0]);
    return 2;
  }

  gchar* root = umockdev_testbed_get_root_dir(em.testbed);
  std::string socketPath = std::string(root) + "/control";
  g_free(root);
  int listener = ListenOn(socketPath);
  if (listener < 0) {
    std::perror("vesk3_ft230x_emulator: control socket");
    return 1;
  }
  setenv(kSocketVariable, socketPath.c_str(), 1);

  em.loop = g_main_loop_new(nullptr, FALSE);
  g_unix_fd_add(listener, G_IO_IN, OnControlConnect, &em);
  g_timeout_add(kTickMs, OnTick, &em);

  if (const char* childAsan = std::getenv(kChildAsanOptions)) {
    setenv("ASAN_OPTIONS", childAsan, 1);
  }
  GPid child = 0;
  GError* error = nullptr;
  if (!g_spawn_async(nullptr, argv + first, nullptr,
                     static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                              G_SPAWN_CHILD_INHERITS_STDIN),
                     nullptr, nullptr, &child, &error)) {
    std::fprintf(stderr, "vesk3_ft230x_emulator: cannot start %s: %s\n", argv[first],
                 error->message);
    return 127;
  }
  g_child_watch_add(child, OnChildExit, &em);
  g_main_loop_run(em.loop);
  {
    std::lock_guard<std::mutex> hold(em.lock);
    for (auto& b : em.bridges) b->Unplug();
  }
  close(listener);
  return em.exitStatus;
}
