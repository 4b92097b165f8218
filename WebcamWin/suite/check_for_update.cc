#include "WebcamWin/suite/check_for_update.h"

#include <cstdlib>
#include <ctime>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/settings/settings.h"
#include "base/logging.h"

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeEpochSeconds = 11644473600LL;
constexpr int64_t kFileTimeUnitsPerSecond = 10000000LL;
constexpr uintptr_t kTimeoutTimerId = 1;
constexpr char16_t kTimerWindowClass[] = u"com.quillonlabs.webcam.UpdateCheckTimer";

const CCheckForUpdate::Version kCurrentVersion = {kVersionMajor, kVersionMinor, kVersionPatch, 0};

}  // namespace

CCheckForUpdate::CCheckForUpdate() : back_(this), downloader_(this) {
  const uint64_t stored = CSettings::Instance().lastUpdateCheckTime();
  if (stored) lastCheck_ = unixFromFileTime(stored);
}

CCheckForUpdate::~CCheckForUpdate() = default;

int64_t CCheckForUpdate::now() const {
  return clock_ ? clock_() : static_cast<int64_t>(std::time(nullptr));
}

base::string16 CCheckForUpdate::updateUrl() {
  const char* value = std::getenv(kUrlVariable);
  if (value && *value) return base::utf8ToWide(value);
  return loadString(kIdsUpdateUrl);
}

void CCheckForUpdate::check(base::MessageWindow* window, bool userAsked) {
  if (running()) {
    // The user asking during an automatic check gets that check's answer.
    if (userAsked) {
      userAsked_ = true;
      window_ = window;
    }
    return;
  }
  const int64_t sinceLast = now() - lastCheck_;
  // A last check "in the future" (the clock was set back) does not hold the
  // next one off.
  if (!userAsked && sinceLast >= 0 && sinceLast < kAutomaticIntervalSeconds) return;
  window_ = window;
  userAsked_ = userAsked;
  {
    std::lock_guard<std::mutex> lock(resultMutex_);
    resultReady_ = false;
  }
  const base::string16 url = updateUrl();
  const int32_t hr = url.empty() ? static_cast<int32_t>(0x80070057u)  // E_INVALIDARG
                                 : downloader_.start(url);
  if (hr != CDownloader::kPending) {
    LOGF(ERROR, "Error trying check for update hresult = %d", hr);
    // The user is told; an automatic check just tries again later.
    if (userAsked_) post(kMsgUpdateFailed, 0);
    return;
  }
  if (!timer_) timer_ = std::make_unique<base::MessageWindow>(kTimerWindowClass, static_cast<base::MessageWindow::Handler*>(this));
  timer_->setTimer(kTimeoutTimerId, timeoutMs_);
}

void CCheckForUpdate::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t) {
  if (msg == base::kMsgTimer && wparam == kTimeoutTimerId) timedOut();
}

void CCheckForUpdate::timedOut() {
  timer_->killTimer(kTimeoutTimerId);
  if (!running()) return;  // the answer is on its way back
  LOG(WARNING) << "The update check got no whole answer within " << timeoutMs_ / 1000 << " s; abandoned";
  downloader_.cancel();
  {
    // An answer that came in meanwhile is dropped with the check.
    std::lock_guard<std::mutex> lock(resultMutex_);
    resultReady_ = false;
  }
  if (userAsked_) post(kMsgUpdateFailed, 0);
}

void CCheckForUpdate::OnDownloadComplete(const char* data, size_t length) {
  {
    std::lock_guard<std::mutex> lock(resultMutex_);
    resultReady_ = true;
    resultOk_ = true;
    resultText_.assign(data, length < kVersionTextBytes ? length : kVersionTextBytes);
  }
  back_.post();
}

void CCheckForUpdate::OnDownloadFailed() {
  {
    std::lock_guard<std::mutex> lock(resultMutex_);
    resultReady_ = true;
    resultOk_ = false;
    resultText_.clear();
  }
  back_.post();
}

void CCheckForUpdate::run() {
  bool ok;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(resultMutex_);
    if (!resultReady_) return;
    resultReady_ = false;
    if (timer_) timer_->killTimer(kTimeoutTimerId);
    ok = resultOk_;
    text = resultText_;
  }
  Version latest;
  if (ok && !parseVersion(text, &latest)) {
    LOG(WARNING) << "The update answer does not start with a version";
    ok = false;
  }
  if (!ok) {
    if (userAsked_) post(kMsgUpdateFailed, 0);
    return;
  }
  lastCheck_ = now();
  CSettings::Instance().setLastUpdateCheckTime(fileTimeFromUnix(lastCheck_));
  LOG(INFO) << "Latest version " << latest.major << "." << latest.minor << "." << latest.build << "."
            << latest.revision;
  if (isNewer(latest, kCurrentVersion)) {
    post(kMsgUpdateResult, encode(latest));
  } else if (userAsked_) {
    post(kMsgUpdateResult, 0);
  }
}

void CCheckForUpdate::post(uint32_t msg, uintptr_t wparam) {
  if (window_) window_->post(msg, wparam, 0);
}

uint64_t CCheckForUpdate::fileTimeFromUnix(int64_t seconds) {
  const int64_t since1601 = seconds + kFileTimeEpochSeconds;
  return since1601 <= 0 ? 0 : static_cast<uint64_t>(since1601) * kFileTimeUnitsPerSecond;
}

int64_t CCheckForUpdate::unixFromFileTime(uint64_t fileTime) {
  return static_cast<int64_t>(fileTime / kFileTimeUnitsPerSecond) - kFileTimeEpochSeconds;
}
