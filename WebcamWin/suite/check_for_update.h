// CCheckForUpdate: asks the maker's web site for the latest released
// version and tells a window whether it is newer than this program. An
// automatic check runs at most every 12 hours (the time of the last
// successful check is the `LastUpdateCheckTime` setting); a check the user
// asked for always runs and is always answered.
//
// Results are posted to the window given to check():
//   kMsgUpdateResult (WM_USER + 100) with wparam = major*1000000 +
//     minor*1000 + build of a newer version, or 0 = up to date (only when
//     the user asked);
//   kMsgUpdateFailed (WM_USER + 101) when the check failed (only when the
//     user asked): no answer, another status than 200, an empty, too long
//     or unreadable answer, or none within kOverallTimeoutMs.
//
// Thread: the user-interface thread. The download ends on the internet
// library's thread and comes back through a cross-thread call, so the
// settings and the window are only touched here.
#ifndef WEBCAMWIN_CHECK_FOR_UPDATE_H_
#define WEBCAMWIN_CHECK_FOR_UPDATE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "WebcamWin/suite/downloader.h"
#include "base/message_loop.h"
#include "base/thread_call.h"

class CCheckForUpdate : public IDownloadCompleteCallback,
                        private base::ThreadCall::Delegate,
                        private base::MessageWindow::Handler {
 public:
  static constexpr uint32_t kMsgUpdateResult = base::kMsgUser + 100;  // 1124
  static constexpr uint32_t kMsgUpdateFailed = base::kMsgUser + 101;  // 1125
  // The About box's "Check for updates" asks the main window with this.
  static constexpr uint32_t kMsgCheckNow = 0xBC3;  // 3011
  static constexpr int64_t kAutomaticIntervalSeconds = 12 * 60 * 60;
  // The address of the update information (string resource 50041) and the
  // variable that replaces it (tests point it at a local server).
  static constexpr uint32_t kIdsUpdateUrl = 50041;
  static constexpr const char* kUrlVariable = "LUMORA_UPDATE_URL";
  // Only the beginning of the answer is read as the version.
  static constexpr size_t kVersionTextBytes = 20;
  // A check that has not ended by then is abandoned as failed, whatever the
  // server keeps sending (or not).
  static constexpr uint32_t kOverallTimeoutMs = 30000;

  struct Version {
    int major = 0, minor = 0, build = 0, revision = 0;
  };

  // Takes the last check's time from the settings.
  CCheckForUpdate();
  ~CCheckForUpdate() override;
  CCheckForUpdate(const CCheckForUpdate&) = delete;
  CCheckForUpdate& operator=(const CCheckForUpdate&) = delete;

  // Starts a check that reports to `window` (see above). Returns at once
  // while a check runs, and for an automatic check within 12 hours of the
  // last successful one.
  void check(base::MessageWindow* window, bool userAsked);
  bool running() const { return downloader_.state() == CDownloader::kRunning; }

  // The address asked: $LUMORA_UPDATE_URL, else string 50041.
  static base::string16 updateUrl();

  // "major.minor[.build[.revision]]" at the start of `text` (a byte-order
  // mark or white space before it is allowed): at least two numbers of
  // digits only (no sign), major below 4000, minor and build below 1000 so
  // that encode() is unambiguous. False for anything else.
  static bool parseVersion(const std::string& text, Version* version);
  // Whether `candidate` is newer on major, minor and build (the revision
  // does not count).
  static bool isNewer(const Version& candidate, const Version& current);
  static uint32_t encode(const Version& version);

  // Seconds since 1970 <-> a Windows file time (100 ns since 1601).
  static uint64_t fileTimeFromUnix(int64_t seconds);
  static int64_t unixFromFileTime(uint64_t fileTime);

  void setClockForTesting(std::function<int64_t()> nowSeconds) { clock_ = std::move(nowSeconds); }
  void setTimeoutForTesting(uint32_t ms) { timeoutMs_ = ms; }

 private:
  // IDownloadCompleteCallback, on the library's thread.
  void OnDownloadComplete(const char* data, size_t length) override;
  void OnDownloadFailed() override;
  // base::ThreadCall::Delegate: the result on the interface thread.
  void run() override;
  // base::MessageWindow::Handler: the overall time-out.
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  void timedOut();

  void post(uint32_t msg, uintptr_t wparam);
  int64_t now() const;

  std::function<int64_t()> clock_;
  base::MessageWindow* window_ = nullptr;
  bool userAsked_ = false;
  int64_t lastCheck_ = 0;  // seconds since 1970; 0: never

  std::mutex resultMutex_;
  bool resultReady_ = false;
  bool resultOk_ = false;
  std::string resultText_;  // the first kVersionTextBytes of the answer

  uint32_t timeoutMs_ = kOverallTimeoutMs;
  std::unique_ptr<base::MessageWindow> timer_;  // made with the first check

  base::ThreadCall back_;
  CDownloader downloader_;  // declared last: ends (and stops calling) first
};

#endif  // WEBCAMWIN_CHECK_FOR_UPDATE_H_
