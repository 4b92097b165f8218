// soak: the real Linux `server` under a long, steady session. One phone,
// admitted by the access list, sends the test card at 30 frames a second
// and speaks without pause; PC programs play into the simulated sound
// device at the same time; and each minute a burst of handshake cycles from
// the load generator comes and goes beside it. Every minute a row: the
// server's resident memory, descriptors, threads and CPU share, the time
// from a frame leaving the phone to its picture in the camera's shared
// memory, and the audio latency both ways. At the end the rows are judged:
// memory, descriptors or threads that grow steadily, or latencies that
// creep, fail the run.
//
// The simulated device's two files are pipes here: what the server plays
// is read and thrown away as it comes (nothing grows on disk), and what PC
// programs "play" is written a block or two ahead of the server's reads.
//
// The long mode (--long: two hours) adds what a day brings: the phone
// records a minute every 5 minutes (each file checked with ffprobe at the
// end), leaves and comes back every 10 minutes, and the sound is real
// PulseAudio (a private daemon, killed and started again once an hour in):
// parec records the phone's microphone "lumora_wave_mic" and pacat plays
// into "lumora_wave" in place of the simulated device's pipes.
//
// Usage: soak [--minutes N] [--row-seconds S] [--churn CYCLES] [--profile ID]
//             [--long] [--pulse] [--record-every MIN] [--record-seconds S]
//             [--reconnect-every MIN] [--restart-sound-at MIN]
// Exit: 0 nothing grew, 1 a failure or steady growth, 2 could not run or
// stopped early.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/logging.h"
#include "base/message_loop.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "components/component_message.h"
#include "components/video/shared_section.h"
#include "tools/loadgen/loadgen.h"
#include "tools/phonesim/phone_audio.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/session_messages.h"
#include "tools/phonesim/video_sender.h"
#include "tools/soak/audio_markers.h"
#include "tools/soak/frame_probe.h"
#include "tools/soak/long_run.h"
#include "tools/soak/trend.h"
#include "tools/vcamview/camera_view.h"

namespace {

using soak::Clock;

constexpr double kPi = 3.14159265358979323846;
constexpr char kPhoneId[] = "soak-phone";
constexpr size_t kBlockBytes = 960;  // 10 ms at 48 kHz, 16-bit mono
constexpr size_t kCaptureLeadBytes = 2 * kBlockBytes;
// Markers are this far apart in both directions: a delay is told apart
// only from one that is a whole period longer, so the period stands well
// beyond any delay the run could meet (a 1 s period read a 1.09 s delay as
// 90 ms).
constexpr int kMarkerPeriodSeconds = 4;

// Ctrl-C or a TERM ends the run early: the rows so far are judged and the
// server is ended as usual.
std::atomic<bool> g_stopRequested{false};
void requestStop(int) { g_stopRequested = true; }

int64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

struct Options {
  double minutes = 30;
  int rowSeconds = 60;
  int churn = 100;
  std::string profile = "lpcm-20ms-8kHz";
  bool pulse = false;  // real PulseAudio instead of the simulated device
  soak::LongPlan plan;
};

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--long") {
      o->minutes = 120;
      o->pulse = true;
      o->plan.recordEverySeconds = 5 * 60;
      o->plan.reconnectEverySeconds = 10 * 60;
      o->plan.soundRestartAtSeconds = 60.5 * 60;
      continue;
    }
    if (a == "--pulse") {
      o->pulse = true;
      continue;
    }
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!value) return false;
    if (a == "--minutes") o->minutes = std::atof(value);
    else if (a == "--row-seconds") o->rowSeconds = std::atoi(value);
    else if (a == "--churn") o->churn = std::atoi(value);
    else if (a == "--profile") o->profile = value;
    else if (a == "--record-every") o->plan.recordEverySeconds = 60 * std::atof(value);
    else if (a == "--record-seconds") o->plan.recordSeconds = std::atof(value);
    else if (a == "--reconnect-every") o->plan.reconnectEverySeconds = 60 * std::atof(value);
    else if (a == "--restart-sound-at") o->plan.soundRestartAtSeconds = 60 * std::atof(value);
    else return false;
    ++i;
  }
  // The sound server can be restarted only when it is ours.
  if (o->plan.soundRestartAtSeconds >= 0) o->pulse = true;
  return o->minutes > 0 && o->rowSeconds > 0 && o->churn >= 0 && o->plan.recordSeconds > 0;
}

// Markers made and found on different threads.
class MarkerLog {
 public:
  void made(int64_t at) {
    std::lock_guard<std::mutex> lock(mutex_);
    made_.push_back(at);
  }
  void found(int64_t at) {
    std::lock_guard<std::mutex> lock(mutex_);
    found_.push_back(at);
  }
  // The latencies of the markers found since the last call.
  std::vector<double> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double> out = soak::matchMarkers(made_, found_);
    found_.clear();
    // Older markers can no longer be the newest before anything found.
    if (made_.size() > 16) made_.erase(made_.begin(), made_.end() - 16);
    return out;
  }

 private:
  std::mutex mutex_;
  std::vector<int64_t> made_;
  std::vector<int64_t> found_;
};

// The far side of the server's sound: reads what the server plays (finding
// the phone's markers) and feeds what PC programs play (laying markers).
// Either the simulated device's two pipes in `folder`, or, with `folder`
// empty, PulseAudio's "lumora_wave_mic" through parec and "lumora_wave"
// through pacat, started again whenever the sound server went away.
class DeviceEnd {
 public:
  DeviceEnd(const std::string& folder, MarkerLog* toDevice, MarkerLog* fromDevice)
      : toDevice_(toDevice), fromDevice_(fromDevice) {
    if (folder.empty()) {
      recorder_ = std::make_unique<soak::PipedProgram>(
          std::vector<std::string>{"parec", "--device=lumora_wave_mic", "--raw", "--format=s16le", "--rate=48000",
                                   "--channels=1", "--latency-msec=10", "--client-name=soak-recorder"},
          soak::PipedProgram::Direction::kRead);
      player_ = std::make_unique<soak::PipedProgram>(
          std::vector<std::string>{"pacat", "--playback", "--device=lumora_wave", "--raw", "--format=s16le",
                                   "--rate=48000", "--channels=1", "--latency-msec=20", "--client-name=soak-player"},
          soak::PipedProgram::Direction::kWrite);
    } else {
      const std::string render = folder + "/render.raw", capture = folder + "/capture.raw";
      if (::mkfifo(render.c_str(), 0600) != 0 || ::mkfifo(capture.c_str(), 0600) != 0) return;
      // Both ends held here: the server's opens never wait, its writes never
      // fail, and nothing is inherited by the server.
      render_ = ::open(render.c_str(), O_RDWR | O_CLOEXEC);
      capture_ = ::open(capture.c_str(), O_RDWR | O_CLOEXEC);
      if (render_ < 0 || capture_ < 0) return;
    }
    reader_ = std::thread([this] { readRender(); });
    writer_ = std::thread([this] { writeCapture(); });
  }
  ~DeviceEnd() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (writer_.joinable()) writer_.join();
    if (render_ >= 0) ::close(render_);
    if (capture_ >= 0) ::close(capture_);
  }
  bool ok() const { return recorder_ || (render_ >= 0 && capture_ >= 0); }
  uint64_t renderedBytes() const { return rendered_; }
  // How often parec and pacat were started (PulseAudio only).
  int recorderStarts() const { return recorderStarts_; }
  int playerStarts() const { return playerStarts_; }

 private:
  int renderFd() {
    if (!recorder_) return render_;
    const int fd = recorder_->fd();
    recorderStarts_ = recorder_->starts();
    return fd;
  }
  int captureFd() {
    if (!player_) return capture_;
    const int fd = player_->fd();
    playerStarts_ = player_->starts();
    return fd;
  }

  void readRender() {
    soak::OnsetFinder finder(48000 / 5);
    std::vector<uint8_t> bytes(4 * kBlockBytes + 1);
    size_t carry = 0;
    while (!stop_) {
      const int fd = renderFd();
      if (fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
      pollfd p = {fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const ssize_t got = ::read(fd, bytes.data() + carry, bytes.size() - 1 - carry);
      if (got <= 0) {
        // parec ended: the device or the sound server went away.
        if (recorder_ && got == 0) recorder_->close(), carry = 0;
        continue;
      }
      const int64_t at = nowUs();
      rendered_ += static_cast<uint64_t>(got);
      const size_t have = carry + static_cast<size_t>(got);
      // A late read brings several blocks written a tick apart.
      const size_t count = have / 2;
      finder.feed(reinterpret_cast<const int16_t*>(bytes.data()), count,
                  [&](int64_t, size_t i) { toDevice_->found(soak::deviceTimeOf(at, count, i)); });
      carry = have % 2;
      if (carry) bytes[0] = bytes[have - 1];
    }
    if (recorder_) recorder_->close();
  }

  void writeCapture() {
    std::vector<int16_t> block(kBlockBytes / 2);
    int64_t index = 0;
    while (!stop_) {
      const int fd = captureFd();
      int queued = 0;
      if (player_ && fd >= 0) {
        // pacat gone (the sound server went away): what it left unread
        // stays in the pipe, so only the pipe's error tells.
        pollfd p = {fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & POLLERR)) {
          player_->close();
          continue;
        }
      }
      if (fd < 0 || ::ioctl(fd, FIONREAD, &queued) != 0 || static_cast<size_t>(queued) >= kCaptureLeadBytes) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      bool marker = false;
      for (auto& s : block) {
        const int64_t inPeriod = index % (kMarkerPeriodSeconds * 48000);
        marker |= inPeriod == 0;
        s = inPeriod < 96 ? soak::kMarkerAmplitude
                          : static_cast<int16_t>(3000 * std::sin(2 * kPi * 300 * double(index) / 48000));
        ++index;
      }
      if (::write(fd, block.data(), kBlockBytes) != static_cast<ssize_t>(kBlockBytes)) {
        // pacat ended (a broken pipe): start it again.
        if (player_) player_->close();
        continue;
      }
      if (marker) fromDevice_->made(nowUs());
    }
    if (player_) player_->close();
  }

  MarkerLog* toDevice_;
  MarkerLog* fromDevice_;
  int render_ = -1;
  int capture_ = -1;
  std::unique_ptr<soak::PipedProgram> recorder_;
  std::unique_ptr<soak::PipedProgram> player_;
  std::atomic<int> recorderStarts_{0};
  std::atomic<int> playerStarts_{0};
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> rendered_{0};
  std::thread reader_;
  std::thread writer_;
};

// The server's counters from /proc.
struct ServerSample {
  double rssKb = -1, fds = -1, threads = -1;
  double cpuSeconds = -1;
};

ServerSample sampleServer(uint32_t pid) {
  ServerSample s;
  loadgen::ProcessStats stats;
  if (loadgen::readProcessStats(static_cast<int>(pid), &stats)) {
    s.rssKb = static_cast<double>(stats.residentBytes) / 1024;
    s.fds = static_cast<double>(stats.descriptors);
  }
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close != std::string::npos) {
    // Fields from the state on: state(3) ... utime(14) stime(15) ... num_threads(20).
    std::istringstream rest(text.substr(close + 2));
    std::vector<std::string> fields;
    std::string f;
    while (rest >> f) fields.push_back(f);
    if (fields.size() > 17) {
      const double hz = static_cast<double>(::sysconf(_SC_CLK_TCK));
      s.cpuSeconds = (std::stod(fields[11]) + std::stod(fields[12])) / hz;
      s.threads = std::stod(fields[17]);
    }
  }
  return s;
}

int waitForPort(PrivateUser& user, ServerProcess& server) {
  static const std::regex kListen("Listen on [0-9.]+:([0-9]+)");
  for (int waited = 0; waited < 30000 && server.running(); waited += 50) {
    std::smatch match;
    const std::string log = user.logOf(server.pid());
    if (std::regex_search(log, match, kListen)) return std::stoi(match[1]);
    base::PlatformThread::sleepMs(50);
  }
  return 0;
}

size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one;
  in >> one;
  return one;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, &options)) {
    std::cerr << "usage: soak [--minutes N] [--row-seconds S] [--churn CYCLES] [--profile ID]\n"
                 "            [--long] [--pulse] [--record-every MIN] [--record-seconds S]\n"
                 "            [--reconnect-every MIN] [--restart-sound-at MIN]\n"
                 "  --long is two hours with --pulse --record-every 5 --reconnect-every 10\n"
                 "  --restart-sound-at 60.5\n";
    return 2;
  }
  base::setMinLogSeverity(base::LOG_ERROR);
  struct sigaction stop = {};
  stop.sa_handler = requestStop;
  ::sigaction(SIGINT, &stop, nullptr);
  ::sigaction(SIGTERM, &stop, nullptr);
  PrivateUser user;
  if (!user.setUp()) {
    std::cerr << "soak: no private user\n";
    return 2;
  }
  base::initializeSockets();
  const std::string section = "LumoraZuvIridarSoak-" + std::to_string(::getpid());
  ::setenv("LUMORA_CAMERA_SECTION", section.c_str(), 1);
  component::SharedSection::unlink(section);
  user.allowPhone(kPhoneId, u"Soak phone");

  // The long run's recordings land in a folder of their own.
  const base::string16 movies = base::joinPath(base::joinPath(user.folder(), u"Videos"), u"Soak recordings");
  {
    base::RegKey app;
    if (app.create(base::RegRoot::kCurrentUser, kAppRegistryKey) == base::kRegOk)
      app.writeValue(u"MoviesFolder", movies);
  }

  // Real PulseAudio: a private daemon, reached by the server and by parec
  // and pacat through PULSE_SERVER.
  std::unique_ptr<soak::PrivatePulse> pulse;
  if (options.pulse) {
    pulse = std::make_unique<soak::PrivatePulse>(std::string(LUMORA_SOURCE_DIR) + "/scripts/start-private-pulse.sh",
                                                 base::wideToUtf8(base::joinPath(user.folder(), u"pulse")));
    if (!pulse->start()) {
      std::cerr << "soak: cannot start a private PulseAudio in " << pulse->dir() << "\n";
      return 2;
    }
    ::unsetenv("LUMORA_AUDIO_DEVICE");
  }
  // A pacat or parec that finds its sound server gone must not end us.
  ::signal(SIGPIPE, SIG_IGN);

  MarkerLog toDevice, fromDevice;
  const std::string deviceFolder =
      options.pulse ? std::string() : base::wideToUtf8(base::joinPath(user.folder(), u"device"));
  if (!options.pulse) {
    base::createDirectories(base::joinPath(user.folder(), u"device"));
    ::setenv("LUMORA_AUDIO_DEVICE", ("sim:" + deviceFolder).c_str(), 1);
  }

  ServerProcess server;
  const base::string16 serverOut = base::joinPath(user.folder(), u"server.out");
  if (!server.start(ServerProcess::defaultProgram(), {}, serverOut)) {
    std::cerr << "soak: cannot start " << base::wideToUtf8(ServerProcess::defaultProgram()) << "\n";
    return 2;
  }
  const int port = waitForPort(user, server);
  vcamview::CameraView camera(section);
  if (port == 0 || !camera.ok()) {
    std::cerr << "soak: the server did not start listening\n" << user.logOf(server.pid());
    return 1;
  }
  camera.request(352, 288);
  // Made after the server, whose PulseAudio devices parec and pacat open.
  DeviceEnd device(deviceFolder, &toDevice, &fromDevice);
  if (!device.ok()) {
    std::cerr << "soak: cannot make the simulated device's pipes in " << deviceFolder << "\n";
    return 2;
  }

  base::MessageLoop loop;
  std::ostringstream audioReport;
  phonesim::AudioOptions audioOptions;
  audioOptions.awaitAuth = true;
  audioOptions.profile = options.profile;
  // The phone speaks a quiet tone with a marker at the start of every period.
  audioOptions.microphone = [&](uint64_t packet, Clock::time_point takenAt, int16_t* pcm) {
    for (size_t i = 0; i < phonesim::PhoneAudio::kPacketSamples; ++i) {
      const double t = double(packet * phonesim::PhoneAudio::kPacketSamples + i) / 8000;
      pcm[i] = static_cast<int16_t>(3000 * std::sin(2 * kPi * 200 * t));
    }
    if (packet % (50 * kMarkerPeriodSeconds) == 0) {
      for (size_t i = 0; i < 16; ++i) pcm[i] = soak::kMarkerAmplitude;
      toDevice.made(std::chrono::duration_cast<std::chrono::microseconds>(takenAt.time_since_epoch()).count());
    }
  };
  soak::OnsetFinder phoneFinder(8000 / 5);
  audioOptions.onReceived = [&](const int16_t* samples, size_t count) {
    const int64_t at = nowUs();
    phoneFinder.feed(samples, count, [&](int64_t, size_t) { fromDevice.found(at); });
  };

  // One visit of the phone: its connection and its audio (which goes first).
  struct Visit {
    phonesim::PhoneConnection phone;
    std::unique_ptr<phonesim::PhoneAudio> audio;
  };
  std::string error;
  auto visit = [&]() -> std::unique_ptr<Visit> {
    auto v = std::make_unique<Visit>();
    bool audioOk = false;
    v->audio = std::make_unique<phonesim::PhoneAudio>(audioOptions, &v->phone, audioReport, &audioOk);
    phonesim::PhoneIdentity identity;
    identity.deviceModel = "Soak";
    if (!phonesim::startVideoSession(&loop, &v->phone, static_cast<uint16_t>(port), identity, kPhoneId, "soak",
                                     &error))
      return nullptr;
    loop.runFor(500);  // the acceptance goes first
    return v->phone.isConnected() ? std::move(v) : nullptr;
  };
  std::unique_ptr<Visit> phone = visit();
  if (!phone) {
    std::cerr << "soak: cannot connect: " << error << "\n";
    return 1;
  }
  phonesim::VideoOptions video;
  video.source = "pattern";
  video.orientation = 4;
  const std::vector<std::vector<uint8_t>> frames = phonesim::videoFrameMessages(video, &error);
  if (frames.empty()) {
    std::cerr << "soak: no test card: " << error << "\n";
    return 1;
  }

  std::cout << "soak: server " << server.pid() << " on port " << port << ", " << options.minutes
            << " min, a row every " << options.rowSeconds << " s, " << options.churn
            << " handshake cycles a row, audio " << options.profile
            << (options.pulse ? " through PulseAudio" : " through the simulated device") << "\n";
  if (options.plan.recordEverySeconds > 0 || options.plan.reconnectEverySeconds > 0 ||
      options.plan.soundRestartAtSeconds >= 0)
    std::cout << "soak: events: R a recording starts, S it stops, C the phone reconnects, P PulseAudio restarts\n";
  std::printf("%6s %9s %5s %7s %5s %6s %9s %9s %9s %9s %9s %9s %5s %5s %s\n", "minute", "rss_kb", "fds", "threads",
              "cpu%", "frames", "frame_med", "frame_p99", "toDev_med", "toDev_p99", "toPh_med", "toPh_p99", "churn", "load",
              "events");
  std::fflush(stdout);

  soak::CameraWatcher watcher(&camera, 500);
  std::vector<double> rss, fds, threads, frameMedian, toDeviceMedian, toPhoneMedian;
  const auto frameSlot = std::chrono::microseconds(1000000 / 30);
  const int rows = std::max(1, static_cast<int>(std::lround(options.minutes * 60 / options.rowSeconds)));
  ServerSample last = sampleServer(server.pid());
  Clock::time_point rowStart = Clock::now();
  Clock::time_point slot = rowStart;
  uint64_t frameIndex = 0;
  int status = 0;
  const Clock::time_point runStart = rowStart;
  const std::vector<soak::LongPlan::Due> schedule = options.plan.schedule(rows * options.rowSeconds);
  size_t nextEvent = 0;
  int recordingsStarted = 0, recordingsStopped = 0, reconnects = 0;
  bool recording = false;
  std::thread soundRestart;
  std::atomic<bool> soundBack{false};
  std::string events;
  // What the plan says is due now; false when the phone could not come back.
  auto handle = [&](soak::LongPlan::Event event) {
    switch (event) {
      case soak::LongPlan::Event::kRecordStart:
        phone->phone.sendMessage(phonesim::kActionType, phonesim::actionMessage(1));
        ++recordingsStarted;
        recording = true;
        events += 'R';
        return true;
      case soak::LongPlan::Event::kRecordStop:
        phone->phone.sendMessage(phonesim::kActionType, phonesim::actionMessage(2));
        ++recordingsStopped;
        recording = false;
        events += 'S';
        return true;
      case soak::LongPlan::Event::kReconnect:
        events += 'C';
        ++reconnects;
        phone->phone.disconnect();
        loop.runFor(300);
        phone.reset();
        phone = visit();
        return phone != nullptr;
      case soak::LongPlan::Event::kSoundRestart:
        events += 'P';
        // Off this thread: the phone keeps sending while the daemon is down.
        soundRestart = std::thread([&] {
          pulse->stop();
          std::this_thread::sleep_for(std::chrono::seconds(2));
          soundBack = pulse->start();
        });
        return true;
    }
    return true;
  };
  for (int row = 1; row <= rows && status == 0 && !g_stopRequested; ++row) {
    std::unique_ptr<loadgen::LoadGenerator> churn;
    if (options.churn > 0) {
      loadgen::LoadPlan plan;
      plan.port = static_cast<uint16_t>(port);
      plan.cycles = options.churn;
      plan.parallel = 4;
      churn = std::make_unique<loadgen::LoadGenerator>();
      churn->start(plan);
    }
    std::vector<double> frameMs;
    const Clock::time_point rowEnd = rowStart + std::chrono::seconds(options.rowSeconds);
    while (Clock::now() < rowEnd && !g_stopRequested) {
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(slot - Clock::now()).count();
      if (wait > 0) loop.runFor(static_cast<uint32_t>(wait));
      // Behind by more than a frame (a slow measurement): start again from now.
      slot = std::max(slot + frameSlot, Clock::now() - frameSlot);
      const double elapsed = std::chrono::duration<double>(Clock::now() - runStart).count();
      while (phone && nextEvent < schedule.size() && schedule[nextEvent].at <= elapsed)
        if (!handle(schedule[nextEvent++].event)) std::cout << "soak: the phone could not come back: " << error << "\n";
      if (!phone || !phone->phone.isConnected()) break;
      double ms = 0;
      const auto& message = frames[frameIndex++ % frames.size()];
      // The watcher's own thread dates the change, so the turns may wait a
      // little: a spinning turn would keep this thread, which also sends the
      // phone's audio, runnable all the time and late on a loaded machine.
      if (soak::measureFrame(
              watcher, [&] { phone->phone.sendMessage(component::kVideoComponentId, message); },
              [&] { loop.runFor(1); }, &ms))
        frameMs.push_back(ms);
    }
    if (g_stopRequested) {
      std::cout << "soak: stopped by a signal; judging the rows so far\n";
      break;
    }
    rowStart = rowEnd;
    const int cycles = churn ? churn->stats().cyclesDone : 0;
    churn.reset();
    if (!server.running()) {
      std::cout << "soak: FAIL the server ended\n" << user.logOf(server.pid());
      status = 1;
      break;
    }
    if (!phone || !phone->phone.isConnected()) {
      std::cout << "soak: FAIL the phone lost its connection\n";
      status = 1;
      break;
    }
    const ServerSample now = sampleServer(server.pid());
    const double cpu = 100 * (now.cpuSeconds - last.cpuSeconds) / options.rowSeconds;
    last = now;
    const std::vector<double> toDev = toDevice.take(), toPhone = fromDevice.take();
    rss.push_back(now.rssKb);
    fds.push_back(now.fds);
    threads.push_back(now.threads);
    frameMedian.push_back(soak::percentile(frameMs, 0.5));
    toDeviceMedian.push_back(soak::percentile(toDev, 0.5));
    toPhoneMedian.push_back(soak::percentile(toPhone, 0.5));
    std::printf("%6.1f %9.0f %5.0f %7.0f %5.1f %6zu %9.2f %9.2f %9.1f %9.1f %9.1f %9.1f %5d %5s %s\n",
                row * options.rowSeconds / 60.0, now.rssKb, now.fds, now.threads, cpu, frameMs.size(),
                frameMedian.back(), soak::percentile(frameMs, 0.99), toDeviceMedian.back(),
                soak::percentile(toDev, 0.99), toPhoneMedian.back(), soak::percentile(toPhone, 0.99),
                cycles, loadAverage().c_str(), events.c_str());
    events.clear();
    std::fflush(stdout);
    if (frameMs.empty() || toDev.empty() || toPhone.empty()) {
      std::cout << "soak: FAIL no " << (frameMs.empty() ? "frame" : toDev.empty() ? "phone audio" : "PC audio")
                << " reached its end during the row\n";
      status = 1;
    }
  }

  // Rows are judged per minute: the allowed slopes are per minute.
  const double perRow = options.rowSeconds / 60.0;
  struct Judged {
    const char* name;
    const std::vector<double>* series;
    double maxPerMinute;
  };
  const Judged judged[] = {
      {"rss_kb", &rss, 100},       {"fds", &fds, 0.05},
      {"threads", &threads, 0.05}, {"frame_median_ms", &frameMedian, 0.2},
      {"to_device_median_ms", &toDeviceMedian, 1.0}, {"to_phone_median_ms", &toPhoneMedian, 1.0},
  };
  bool allJudged = true;
  for (const Judged& j : judged) {
    soak::TrendRule rule;
    rule.name = j.name;
    rule.maxSlopePerRow = j.maxPerMinute * perRow;
    // The whole run after the warm-up: a long run is judged over all of it.
    rule.window = std::max(rule.window, j.series->size());
    const soak::TrendVerdict verdict = soak::judgeTrend(*j.series, rule);
    std::cout << "soak: " << verdict.describe(j.name, perRow) << "\n";
    allJudged = allJudged && verdict.judged;
    if (verdict.grows) {
      std::cout << "soak: FAIL " << j.name << " grows steadily (more than " << j.maxPerMinute << " a minute)\n";
      status = 1;
    }
  }
  std::cout << "soak: " << device.renderedBytes() / 1024 << " KiB played into the device and thrown away\n";

  if (soundRestart.joinable()) {
    soundRestart.join();
    if (!soundBack) {
      std::cout << "soak: FAIL PulseAudio did not start again\n";
      status = 1;
    }
  }
  if (pulse) {
    const std::string serverLog = user.logOf(server.pid());
    std::cout << "soak: PulseAudio: the server said \"PulseAudio connection lost\" "
              << occurrences(serverLog, "PulseAudio connection lost") << " time(s) and \"PulseAudio answers again\" "
              << occurrences(serverLog, "PulseAudio answers again") << " time(s); parec started "
              << device.recorderStarts() << " time(s), pacat " << device.playerStarts() << "\n";
  }
  if (reconnects > 0) std::cout << "soak: the phone left and came back " << reconnects << " time(s)\n";

  // The server sums up the phone's audio when the phone goes.
  if (phone) phone->phone.abort();
  static const std::regex kAudioSummary("Audio session: [^\\n]*");
  std::smatch summary;
  std::string log;
  for (int i = 0; i < 40 && !std::regex_search(log = user.logOf(server.pid()), summary, kAudioSummary); ++i)
    base::PlatformThread::sleepMs(50);
  if (!summary.empty()) std::cout << "soak: " << summary.str() << "\n";
  server.terminate();
  int code = 0;
  server.wait(10000, &code);
  component::SharedSection::unlink(section);

  // Every recording plays: both tracks there and about as long as asked.
  if (recordingsStarted > 0) {
    std::vector<base::string16> files = base::listDirectory(movies);
    std::sort(files.begin(), files.end());
    std::printf("soak: %-36s %8s %7s %8s %s\n", "recording", "video_s", "frames", "audio_s", "verdict");
    int playable = 0;
    for (size_t i = 0; i < files.size(); ++i) {
      const soak::RecordingCheck check = soak::checkRecording(base::wideToUtf8(base::joinPath(movies, files[i])));
      // The last one may have been cut by a stop signal.
      const bool cut = recording && i + 1 == files.size();
      const bool ok = cut ? check.probed && check.frames > 0 : check.playable(options.plan.recordSeconds);
      playable += ok;
      std::printf("soak: %-36s %8.2f %7.0f %8.2f %s\n", base::wideToUtf8(files[i]).c_str(), check.videoSeconds,
                  check.frames, check.audioSeconds, ok ? (cut ? "plays (cut short)" : "plays") : "FAIL");
    }
    std::cout << "soak: " << recordingsStarted << " recording(s) started, " << recordingsStopped << " stopped, "
              << files.size() << " file(s), " << playable << " playable\n";
    if (static_cast<int>(files.size()) != recordingsStarted || playable != recordingsStarted) {
      std::cout << "soak: FAIL a recording is missing or does not play\n";
      status = 1;
    }
  }
  if (status != 0) {
    std::cout << "soak: FAILED\n";
  } else if (g_stopRequested) {
    std::cout << "soak: stopped early\n";
    status = 2;
  } else {
    std::cout << (allJudged ? "soak: flat\n" : "soak: nothing grew, but the run was too short to judge\n");
  }
  return status;
}
