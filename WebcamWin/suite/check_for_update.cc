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
constexpr int kMaxDigits = 9;
constexpr int kMaxMajor = 4000;
constexpr int kMaxMinorOrBuild = 1000;

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
  }
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

bool CCheckForUpdate::parseVersion(const std::string& text, Version* version) {
  size_t pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' ||
                               text[pos] == '\n'))
    ++pos;
  int numbers[4] = {0, 0, 0, 0};
  int count = 0;
  while (count < 4) {
    if (count > 0) {
      // A dot must be followed by a number to count.
      if (pos + 1 >= text.size() || text[pos] != '.' || text[pos + 1] < '0' || text[pos + 1] > '9')
        break;
      ++pos;
    }
    int digits = 0;
    long value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      if (++digits > kMaxDigits) return false;
      value = value * 10 + (text[pos] - '0');
      ++pos;
    }
    if (digits == 0) break;
    numbers[count++] = static_cast<int>(value);
  }
  if (count < 2) return false;
  if (numbers[0] >= kMaxMajor || numbers[1] >= kMaxMinorOrBuild || numbers[2] >= kMaxMinorOrBuild)
    return false;
  *version = {numbers[0], numbers[1], numbers[2], numbers[3]};
  return true;
}

bool CCheckForUpdate::isNewer(const Version& candidate, const Version& current) {
  if (candidate.major != current.major) return candidate.major > current.major;
  if (candidate.minor != current.minor) return candidate.minor > current.minor;
  return candidate.build > current.build;
}

uint32_t CCheckForUpdate::encode(const Version& version) {
  return static_cast<uint32_t>(version.major) * 1000000u + static_cast<uint32_t>(version.minor) * 1000u +
         static_cast<uint32_t>(version.build);
}

uint64_t CCheckForUpdate::fileTimeFromUnix(int64_t seconds) {
  const int64_t since1601 = seconds + kFileTimeEpochSeconds;
  return since1601 <= 0 ? 0 : static_cast<uint64_t>(since1601) * kFileTimeUnitsPerSecond;
}

int64_t CCheckForUpdate::unixFromFileTime(uint64_t fileTime) {
  return static_cast<int64_t>(fileTime / kFileTimeUnitsPerSecond) - kFileTimeEpochSeconds;
}
