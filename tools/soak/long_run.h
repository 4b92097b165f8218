// The long soak's extra churn and checks: when recordings start and stop,
// when the phone reconnects and when the sound server restarts (a plan of
// events over the run); a private PulseAudio that can be killed and started
// again; programs on a pipe (parec and pacat stand for the PC programs that
// record the phone's microphone and play to it); and what ffprobe says of
// each recording. Linux only; the soak's main thread owns all of it, except
// `PipedProgram`, which each device thread owns one of.
#ifndef TOOLS_SOAK_LONG_RUN_H_
#define TOOLS_SOAK_LONG_RUN_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace soak {

// Seconds from the start of the run.
struct LongPlan {
  double recordEverySeconds = 0;  // 0: no recordings
  double recordSeconds = 60;
  double reconnectEverySeconds = 0;  // 0: the phone stays
  double soundRestartAtSeconds = -1;  // negative: never

  enum class Event { kRecordStart, kRecordStop, kReconnect, kSoundRestart };
  struct Due {
    double at;
    Event event;
  };
  // Every event within [0, runSeconds), in time order. Recordings start half
  // a period in (2.5, 7.5, ... minutes for a 5-minute period) and reconnects
  // fall on whole periods, or just after a recording they would cut; a
  // recording that could not end before the run does is not started.
  std::vector<Due> schedule(double runSeconds) const;
};

// A program whose standard output (`kRead`) or input (`kWrite`) is a pipe
// to us. A program that ended (the sound server went away) is noticed as an
// end of file or a broken pipe; `reopen` starts it again, at most once a
// second.
class PipedProgram {
 public:
  enum class Direction { kRead, kWrite };
  PipedProgram(std::vector<std::string> argv, Direction direction);
  ~PipedProgram();
  PipedProgram(const PipedProgram&) = delete;
  PipedProgram& operator=(const PipedProgram&) = delete;

  // The pipe's end, started if it is not running; -1 while it cannot be.
  int fd();
  // The program is done with (end of file, broken pipe): end it.
  void close();
  int starts() const { return starts_; }

 private:
  std::vector<std::string> argv_;
  Direction direction_;
  pid_t pid_ = -1;
  int fd_ = -1;
  int starts_ = 0;
  double lastStart_ = -1e9;
};

// A private PulseAudio daemon in `dir` (scripts/start-private-pulse.sh),
// reached by everything started after `start` through PULSE_SERVER.
class PrivatePulse {
 public:
  PrivatePulse(std::string script, std::string dir) : script_(std::move(script)), dir_(std::move(dir)) {}
  ~PrivatePulse() { stop(); }
  bool start();
  // Kills the daemon and waits until it is gone.
  void stop();
  const std::string& dir() const { return dir_; }

 private:
  std::string script_;
  std::string dir_;
  pid_t pid_ = -1;
};

// What ffprobe says of one recording.
struct RecordingCheck {
  std::string file;
  bool probed = false;  // ffprobe read it without an error
  double videoSeconds = -1;
  double frames = -1;
  double frameRate = -1;
  double audioSeconds = -1;
  // Readable, and both tracks about as long as the recording was meant to be.
  bool playable(double expectedSeconds) const;
};
RecordingCheck checkRecording(const std::string& file);
// Reads ffprobe's "key=value" lines: the value of `key`, -1 when absent.
double probeField(const std::string& text, const std::string& key);

}  // namespace soak

#endif  // TOOLS_SOAK_LONG_RUN_H_
