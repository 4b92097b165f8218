// The hand-off to the support tool: the main program starts `support` as a
// child process and writes it seven "Key:Value\n" lines (product, company,
// version, log file, support form, the last phone's model and system) as
// UTF-16LE through its standard input, closes it, and reads the tool's
// output in 512-byte pieces until the tool closes it.
//
// The "Support" command runs it on a worker thread (CSupportHandOff) so
// that the window keeps answering while the tool works; the internal-error
// path runs it on its own thread and waits (runSupportHandOff()).
//
// Windows: anonymous pipes and CreateProcessW of "support.exe" with the
// usual search rules. Linux: posix_spawn of `support` from the folder of the
// running program, else from PATH; the child gets only the two pipe ends,
// default signal dispositions, an empty signal mask and a session of its
// own (no terminal: the tool runs without asking).
#ifndef WEBCAMWIN_SUPPORT_HANDOFF_H_
#define WEBCAMWIN_SUPPORT_HANDOFF_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/platform_thread.h"
#include "base/string_util.h"
#include "base/thread_call.h"

// What the tool is told.
struct SupportFacts {
  base::string16 log;             // "Log": the current log file
  base::string16 supportForm;     // "SupportForm": string resource 50040
  base::string16 deviceModel;     // "DeviceModel" of the last phone, or empty
  base::string16 deviceSoftware;  // "DeviceSoftware": "<system> v<version>", or empty
};

constexpr uint32_t kIdsSupportForm = 50040;
// The tool's output is read in pieces of this size and dropped.
constexpr size_t kSupportDrainBytes = 512;

// The facts of this run: the log file, string 50040 and the last phone.
SupportFacts currentSupportFacts();
// The seven lines, in order, each "%s:%s\n".
base::string16 supportHandOffText(const SupportFacts& facts);
// UTF-16LE without byte-order mark or terminating zero.
std::string utf16LeBytes(const base::string16& text);

// "support.exe" on Windows; on Linux the path of `support` beside the
// running program when it is there, else "support" (looked up on PATH).
base::string16 defaultSupportProgram();

// Starts `program`, writes `input` and drains the output until the tool
// closes it or, when `stop` is given, until *stop turns true (checked at
// least every 50 ms). 0 on success, else the system error as a result code
// (0x80070000 | error), logged as "Stdout pipe creation failed", "Stdin pipe
// creation failed", "CreateProcess failed", "Close pipe failed" or "Closing
// handle failed".
int32_t runSupportTool(const base::string16& program, const std::string& input,
                       const std::atomic<bool>* stop);

// The whole hand-off on the calling thread, waiting for the tool.
int32_t runSupportHandOff();

// The hand-off on a worker thread. Construct and use on the interface
// thread; `onDone` runs there with the result.
class CSupportHandOff : private base::PlatformThread::Delegate, private base::ThreadCall::Delegate {
 public:
  using DoneCallback = std::function<void(int32_t result)>;

  CSupportHandOff();
  // Stops waiting for a tool that still runs (the tool goes on) and joins.
  ~CSupportHandOff() override;
  CSupportHandOff(const CSupportHandOff&) = delete;
  CSupportHandOff& operator=(const CSupportHandOff&) = delete;

  // Starts handing `input` to `program`. False when a hand-off still runs
  // or no thread could be started.
  bool start(const base::string16& program, const std::string& input, DoneCallback onDone);
  bool running() const { return running_; }

 private:
  void threadMain() override;     // worker
  void run() override;            // interface thread: the end
  void join();

  base::string16 program_;
  std::string input_;
  DoneCallback onDone_;
  bool running_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int32_t> result_{0};
  base::ThreadCall done_;
  base::PlatformThread::Handle thread_;
};

#endif  // WEBCAMWIN_SUPPORT_HANDOFF_H_
