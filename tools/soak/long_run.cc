#include "tools/soak/long_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

extern char** environ;

namespace soak {

namespace {

double nowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string run(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    *status = -1;
    return out;
  }
  char buffer[512];
  while (size_t n = std::fread(buffer, 1, sizeof(buffer), pipe)) out.append(buffer, n);
  *status = ::pclose(pipe);
  return out;
}

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void endProcess(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

}  // namespace

std::vector<LongPlan::Due> LongPlan::schedule(double runSeconds) const {
  std::vector<Due> due;
  if (recordEverySeconds > 0) {
    for (double at = recordEverySeconds / 2; at + recordSeconds < runSeconds; at += recordEverySeconds) {
      due.push_back({at, Event::kRecordStart});
      due.push_back({at + recordSeconds, Event::kRecordStop});
    }
  }
  if (reconnectEverySeconds > 0) {
    for (double period = reconnectEverySeconds; period < runSeconds; period += reconnectEverySeconds) {
      // A reconnect that would cut a recording waits until it is done.
      double at = period;
      for (const Due& d : due)
        if (d.event == Event::kRecordStart && at >= d.at - 1 && at <= d.at + recordSeconds + 1)
          at = d.at + recordSeconds + 5;
      if (at < runSeconds) due.push_back({at, Event::kReconnect});
    }
  }
  if (soundRestartAtSeconds >= 0 && soundRestartAtSeconds < runSeconds)
    due.push_back({soundRestartAtSeconds, Event::kSoundRestart});
  std::stable_sort(due.begin(), due.end(), [](const Due& a, const Due& b) { return a.at < b.at; });
  return due;
}

PipedProgram::PipedProgram(std::vector<std::string> argv, Direction direction)
    : argv_(std::move(argv)), direction_(direction) {}

PipedProgram::~PipedProgram() { close(); }

int PipedProgram::fd() {
  if (fd_ >= 0) return fd_;
  // A program that cannot run yet (its device is not there) is not tried
  // more than once a second.
  if (nowSeconds() - lastStart_ < 1) return -1;
  lastStart_ = nowSeconds();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
  const bool reading = direction_ == Direction::kRead;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, reading ? ends[1] : ends[0], reading ? 1 : 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (auto& a : argv_) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int spawned = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(reading ? ends[1] : ends[0]);
  if (spawned != 0) {
    ::close(reading ? ends[0] : ends[1]);
    pid_ = -1;
    return -1;
  }
  fd_ = reading ? ends[0] : ends[1];
  ++starts_;
  return fd_;
}

void PipedProgram::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  endProcess(pid_);
  pid_ = -1;
}

bool PrivatePulse::start() {
  int status = 0;
  run(quoted(script_) + " " + quoted(dir_) + " 2>&1", &status);
  if (status != 0) return false;
  std::ifstream pid(dir_ + "/pid");
  pid >> pid_;
  ::setenv("PULSE_SERVER", ("unix:" + dir_ + "/native").c_str(), 1);
  return pid_ > 0;
}

void PrivatePulse::stop() {
  if (pid_ <= 0) return;
  // Not our child (the script started it): wait for it to be gone.
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 250 && ::kill(pid_, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (::kill(pid_, 0) == 0) ::kill(pid_, SIGKILL);
  pid_ = -1;
}

double probeField(const std::string& text, const std::string& key) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex("(^|\\n)" + key + "=([0-9.]+)"))) return -1;
  return std::stod(match[2]);
}

RecordingCheck checkRecording(const std::string& file) {
  RecordingCheck check;
  check.file = file;
  int videoStatus = 0, audioStatus = 0;
  const std::string video = run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=nb_read_frames,avg_frame_rate:format=duration -of default=noprint_wrappers=1 " +
                                    quoted(file) + " 2>&1",
                                &videoStatus);
  const std::string audio = run("ffprobe -v error -select_streams a:0 -show_entries stream=duration "
                                "-of default=noprint_wrappers=1 " +
                                    quoted(file) + " 2>&1",
                                &audioStatus);
  check.probed = videoStatus == 0 && audioStatus == 0 && video.find("error") == std::string::npos;
  check.frames = probeField(video, "nb_read_frames");
  check.videoSeconds = probeField(video, "duration");
  std::smatch rate;
  if (std::regex_search(video, rate, std::regex("avg_frame_rate=([0-9]+)/([0-9]+)")) && std::stod(rate[2]) > 0)
    check.frameRate = std::stod(rate[1]) / std::stod(rate[2]);
  check.audioSeconds = probeField(audio, "duration");
  return check;
}

bool RecordingCheck::playable(double expectedSeconds) const {
  // The frames counted fill the time the file claims: a file cut short
  // keeps the length its header was written with.
  const bool whole = frameRate > 0 && frames >= 0.9 * videoSeconds * frameRate;
  return probed && whole && frames > 0 && videoSeconds > 0 && audioSeconds > 0 &&
         std::fabs(videoSeconds - expectedSeconds) <= 3 && std::fabs(audioSeconds - videoSeconds) <= 0.5;
}

}  // namespace soak
