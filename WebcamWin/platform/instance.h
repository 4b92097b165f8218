// The single-instance lock of `server` and the channel through which other
// starts reach the running instance (show it, close it, answer its
// authorization prompt).
// Windows: a named mutex, FindWindowW and window messages.
// Linux: a lock file and a Unix control socket beside it.
#ifndef WEBCAMWIN_PLATFORM_INSTANCE_H_
#define WEBCAMWIN_PLATFORM_INSTANCE_H_

#include <cstdint>
#include <functional>
#include <memory>

#include "base/string_util.h"

namespace shell {

// What another start of the program asks of the running instance.
struct InstanceRequest {
  // kAnswer answers the authorization prompt with `param`, one of the
  // kAnswer* codes below.
  enum Kind { kShow, kClose, kAnswer };
  Kind kind = kShow;
  uintptr_t param = 0;  // first parameter of the close message; the answer
};

// The answers another start can give ("-allow", "-allow-once", "-deny").
constexpr uintptr_t kAnswerAllowAlways = 1;
constexpr uintptr_t kAnswerAllowOnce = 2;
constexpr uintptr_t kAnswerDeny = 3;

// Windows: the main window's message that carries kAnswer (WM_APP + 2); it
// returns 1 when a phone was waiting for the answer. Its second parameter is
// the tick count at which the sender stops waiting (0: none); later it is
// dropped.
constexpr uint32_t kMsgAnswerRequest = 0x8002;

// The running instance's claim on its name, held until destroyed (or until
// the process ends, whichever comes first).
class InstanceLock {
 public:
  // Returns whether the request was carried out (a kAnswer finds no phone
  // waiting: false).
  using Handler = std::function<bool(const InstanceRequest&)>;

  InstanceLock();
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // False when another instance holds the name or the claim failed.
  bool acquire(const base::string16& name);

  // Linux: serves the requests of other starts on a helper thread, calling
  // `handler` there for each. Windows: the requests are window messages to
  // the main window; nothing to do. Call after acquire().
  bool serveRequests(Handler handler);
  void stopServing();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Whether an instance of `name` runs (Windows: its main window exists).
bool instanceRunning(const base::string16& name);
// Delivers a request to that instance: kShow shows it normally and brings it
// to the foreground; kClose sends it the close message with `param`; kAnswer
// answers its authorization prompt. False when no instance could be reached
// or it did not carry the request out (`reached`, when given, tells which).
bool sendToInstance(const base::string16& name, const InstanceRequest& request,
                    bool* reached = nullptr);

}  // namespace shell

#endif  // WEBCAMWIN_PLATFORM_INSTANCE_H_
