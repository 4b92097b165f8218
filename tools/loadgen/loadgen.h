// Bounded load against a server on this machine (loopback only): phones that
// connect, handshake and leave, over and over; connections that never say a
// word; garbage senders; slow senders that trickle one byte at a time; and
// phones that handshake and then fall silent. Everything runs on the current
// thread's MessageLoop, on the project's own sockets, so the same generator
// runs on both builds.
//
// Thread: create, run and destroy on one thread that has a MessageLoop.
#ifndef TOOLS_LOADGEN_LOADGEN_H_
#define TOOLS_LOADGEN_LOADGEN_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/message_loop.h"
#include "tools/phonesim/phone_connection.h"

namespace loadgen {

struct LoadPlan {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  // Connect, handshake, leave: this many in all, `parallel` at a time.
  int cycles = 0;
  int parallel = 8;
  // Held open until stop() or until the server closes them.
  int idle = 0;                  // connect and say nothing
  int garbage = 0;               // send random bytes, garbageBytesPerTick each tick
  int slow = 0;                  // send one byte of a handshake frame every slowIntervalMs
  int silentAfterHandshake = 0;  // handshake, then nothing
  size_t garbageBytesPerTick = 16 * 1024;
  uint32_t garbageTickMs = 20;
  uint32_t slowIntervalMs = 1000;
};

struct LoadStats {
  int connected = 0;
  int connectFailures = 0;         // never connected
  int cyclesDone = 0;              // handshake answered, then left
  int handshakesAnswered = 0;
  int farewells[3] = {0, 0, 0};    // by reason 0, 1, 2
  int closedByServer = 0;          // held connections the server ended
  uint64_t garbageBytesSent = 0;
};

// Only loopback hosts: the generator is no tool against other machines.
bool isLoopbackHost(const std::string& host);

class LoadGenerator : private phonesim::PhoneConnection::Observer, private base::MessageWindow::Handler {
 public:
  static constexpr const char16_t* kWindowClass = u"com.quillonlabs.loadgen.LoadGenerator";

  LoadGenerator();
  ~LoadGenerator() override;
  LoadGenerator(const LoadGenerator&) = delete;
  LoadGenerator& operator=(const LoadGenerator&) = delete;

  // Starts every connection of the plan; false (nothing started) for a host
  // that is not loopback or a plan without a port.
  bool start(const LoadPlan& plan);
  // The cycles are done (held connections may still be open).
  bool cyclesFinished() const { return stats_.cyclesDone + cycleFailures_ >= plan_.cycles; }
  // Held connections still open.
  size_t openHeld() const;
  // Closes every connection at once.
  void stop();

  const LoadStats& stats() const { return stats_; }

 private:
  enum class Kind { kCycle, kIdle, kGarbage, kSlow, kSilent };
  struct Conn {
    Kind kind;
    std::unique_ptr<phonesim::PhoneConnection> phone;
    size_t slowSent = 0;
    bool connected = false;
    bool done = false;
  };

  void open(Kind kind);
  void startCycles();
  Conn* find(phonesim::PhoneConnection* phone);
  void retire(phonesim::PhoneConnection* phone);

  // PhoneConnection::Observer
  void onPhoneConnected(phonesim::PhoneConnection* phone) override;
  void onServerHandshake(phonesim::PhoneConnection* phone, const transport::ServerHandshake& handshake,
                         uint32_t sequence) override;
  void onFarewell(phonesim::PhoneConnection* phone, uint32_t reason, uint32_t sequence) override;
  void onPhoneDisconnected(phonesim::PhoneConnection* phone, const transport::Error* error) override;

  // MessageWindow::Handler: ticks of the senders, deferred deletions.
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;

  LoadPlan plan_;
  LoadStats stats_;
  int cyclesStarted_ = 0;
  int cycleFailures_ = 0;
  std::vector<Conn> conns_;
  std::vector<std::unique_ptr<phonesim::PhoneConnection>> retired_;
  bool cleanupPosted_ = false;
  std::vector<uint8_t> slowBytes_;  // a whole handshake frame, sent a byte at a time
  std::mt19937 random_{20261208};
  std::unique_ptr<base::MessageWindow> window_;
};

// The open descriptors (handles on Windows) and resident memory of a process.
struct ProcessStats {
  size_t descriptors = 0;
  size_t residentBytes = 0;
  double cpuSeconds = 0;  // user and system time so far
};
// `pid` 0 is this process.
bool readProcessStats(int pid, ProcessStats* out);

}  // namespace loadgen

#endif  // TOOLS_LOADGEN_LOADGEN_H_
