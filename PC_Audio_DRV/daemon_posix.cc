#include "PC_Audio_DRV/daemon_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "PC_Audio_DRV/service_host.h"
#include "PC_Audio_DRV/trace.h"
#include "PC_Audio_DRV/wave_service.h"
#include "base/logging.h"

namespace {

constexpr char kSocketName[] = "lumora-wave-service.sock";
constexpr char kUnitName[] = "lumora-wave-service.service";
constexpr int kRequestTimeoutMs = 1000;

// The watchdog's sleep, ended early by the stop.
class Sleeper {
 public:
  bool sleepMs(unsigned ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
  }
  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
};

int g_signalFd = -1;

void onSignal(int) {
  const char byte = 1;
  if (g_signalFd >= 0) {
    ssize_t n = ::write(g_signalFd, &byte, 1);
    (void)n;
  }
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads one request line; false (logged) when it is too long, cut short or
// late.
bool readRequest(int fd, std::string* line) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestTimeoutMs);
  line->clear();
  char buffer[64];
  for (;;) {
    pollfd p = {fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, remainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      LOG(WARNING) << "A control request did not come in time; dropped";
      return false;
    }
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      LOG(WARNING) << "A control connection ended before its request line";
      return false;
    }
    const RequestLine state = appendRequestBytes(line, buffer, static_cast<size_t>(n));
    if (state == RequestLine::kComplete) return true;
    if (state == RequestLine::kTooLong) break;
  }
  LOG(WARNING) << "A control request longer than " << kMaxRequestBytes << " bytes; dropped";
  return false;
}

void sendLine(int fd, const std::string& text) {
  const std::string line = text + "\n";
  ssize_t n = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  (void)n;
}

void serveConnection(int fd, CWaveService* service) {
  std::string request;
  if (!readRequest(fd, &request)) {
    sendLine(fd, "error bad request");
    return;
  }
  sendLine(fd, answerControlRequest(request, [service](uint32_t code) {
             if (code) service->CtrlHandler(code);
             return service->currentState();
           }));
}

// True when a daemon answers on `path`.
bool daemonAnswers(const std::string& path) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return answers;
}

int listenOn(const std::string& path) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    LOG(ERROR) << "The control socket path " << path << " is too long";
    return -1;
  }
  if (daemonAnswers(path)) {
    LOG(ERROR) << "Another wavehost already answers on " << path;
    return -1;
  }
  ::unlink(path.c_str());  // left behind by a daemon that died
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const mode_t old = ::umask(0077);
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && ::listen(fd, 16) == 0;
  ::umask(old);
  if (!ok) {
    LOG(ERROR) << "Can't listen on " << path << ": " << std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string exePath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return "wavehost";
  return std::string(buffer, static_cast<size_t>(n));
}

std::string defaultTracePath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  std::string folder;
  if (state && *state) {
    folder = state;
  } else if (home && *home) {
    folder = std::string(home) + "/.local/state";
  } else {
    return std::string();
  }
  ::mkdir(folder.c_str(), 0700);
  folder += "/quillon-labs";
  ::mkdir(folder.c_str(), 0700);
  return folder + "/wavehost-trace.log";
}

}  // namespace

std::string waveSocketPath() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = (dir && *dir) ? dir : "/run/user/" + std::to_string(::getuid());
  return folder + "/" + kSocketName;
}

std::string waveUnitPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return std::string(config) + "/systemd/user/" + kUnitName;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/systemd/user/" + kUnitName;
  return std::string();
}

int runWaveDaemon(const std::string& socketPath, BridgeFactory* factory, UserDeviceNames* userNames, int stopFd) {
  int signalPipe[2] = {-1, -1};
  if (stopFd < 0) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    g_signalFd = signalPipe[1];
    struct sigaction action = {};
    action.sa_handler = &onSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    stopFd = signalPipe[0];
  }
  const int listenFd = listenOn(socketPath);
  if (listenFd < 0) return 1;

  Sleeper sleeper;
  WaveServiceEnv env;
  env.bridge = factory;
  env.userNames = userNames;
  env.sleepMs = [&sleeper](unsigned ms) { return sleeper.sleepMs(ms); };
  env.raisePriority = [] {
    // A user may not raise its priority; the bridge runs at normal priority
    // then.
    if (::setpriority(PRIO_PROCESS, 0, -10) != 0) LOG(INFO) << "Process priority left as it is";
  };
  CWaveService service(env);
  LOG(INFO) << "wavehost listens on " << socketPath;
  if (!service.startService(0, nullptr)) {
    ::close(listenFd);
    ::unlink(socketPath.c_str());
    return 1;
  }
  std::thread worker([&service] { service.ServiceThread(); });

  for (;;) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) break;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    serveConnection(fd, &service);
    ::close(fd);
  }
  ::close(listenFd);
  ::unlink(socketPath.c_str());
  service.CtrlHandler(kControlStop);
  sleeper.stop();
  worker.join();
  if (signalPipe[0] >= 0) {
    g_signalFd = -1;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
  }
  LOG(INFO) << "wavehost stopped";
  return 0;
}

int installService() {
  const std::string unit = waveUnitPath();
  if (unit.empty()) {
    std::printf("Can't open SCM\n");
    return 1;
  }
  // Create the folders of the unit.
  for (size_t slash = unit.find('/', 1); slash != std::string::npos; slash = unit.find('/', slash + 1))
    ::mkdir(unit.substr(0, slash).c_str(), 0755);
  const std::string binary = exePath();
  const std::string temporary = unit + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << "[Unit]\n"
           "Description=Lumora Wave Service\n"
           "After=pulseaudio.service pipewire-pulse.service\n"
           "\n"
           "[Service]\n"
           "ExecStart=\"" << binary << "\" run\n"
           "Restart=on-failure\n"
           "\n"
           "[Install]\n"
           "WantedBy=default.target\n";
    out.close();
    if (!out || ::rename(temporary.c_str(), unit.c_str()) != 0) {
      ::unlink(temporary.c_str());
      std::printf("Registration error!\n");
      return 2;
    }
  }
  std::printf("Successfully registered \"%s\"\n", binary.c_str());
  std::printf("Start it with your session: systemctl --user enable --now %s\n", kUnitName);
  return 0;
}

int removeService() {
  const std::string unit = waveUnitPath();
  if (unit.empty()) {
    std::printf("Can't open SCM\n");
    return 1;
  }
  struct stat st;
  if (::stat(unit.c_str(), &st) != 0) {
    std::printf("Can't open service\n");
    return 2;
  }
  if (::unlink(unit.c_str()) != 0) {
    std::printf("Can't delete service\n");
    return 3;
  }
  std::printf("Service deleted\n");
  std::printf("If it was enabled: systemctl --user disable --now %s\n", kUnitName);
  return 0;
}

int runServiceHost(const std::vector<base::string16>& args) {
  if (args.empty() || args[0] != u"run") {
    std::fprintf(stderr, "usage: wavehost install | remove | run\n");
    return 0;
  }
  const char* tracePath = std::getenv("LUMORA_WAVEHOST_TRACE");
  wave::setTraceFile(tracePath ? tracePath : defaultTracePath());
  auto factory = createSystemBridgeFactory();
  auto userNames = createUserDeviceNames();
  return runWaveDaemon(waveSocketPath(), factory.get(), userNames.get(), -1);
}
