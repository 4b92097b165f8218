#include "WebcamWin/suite/support_handoff.h"

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/platform/resource_library.h"
#include "base/logging.h"

namespace {

constexpr char16_t kCompanyName[] = u"Quillon Labs";

void appendLine(base::string16* text, const char16_t* key, const base::string16& value) {
  *text += key;
  *text += u':';
  *text += value;
  *text += u'\n';
}

}  // namespace

SupportFacts currentSupportFacts() {
  SupportFacts facts;
  facts.log = base::logFileName();
  facts.supportForm = loadString(kIdsSupportForm);
  facts.deviceModel = CMainFrame::deviceModel();
  facts.deviceSoftware = CMainFrame::deviceSoftware();
  return facts;
}

base::string16 supportHandOffText(const SupportFacts& facts) {
  base::string16 text;
  appendLine(&text, u"Product", kProductName);
  appendLine(&text, u"Company", kCompanyName);
  appendLine(&text, u"Version", base::utf8ToWide(kProgramVersion));
  appendLine(&text, u"Log", facts.log);
  appendLine(&text, u"SupportForm", facts.supportForm);
  appendLine(&text, u"DeviceModel", facts.deviceModel);
  appendLine(&text, u"DeviceSoftware", facts.deviceSoftware);
  return text;
}

std::string utf16LeBytes(const base::string16& text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

int32_t runSupportHandOff() {
  return runSupportTool(defaultSupportProgram(), utf16LeBytes(supportHandOffText(currentSupportFacts())),
                        nullptr);
}

CSupportHandOff::CSupportHandOff() : done_(this) {}

CSupportHandOff::~CSupportHandOff() {
  stop_.store(true);
  join();
}

bool CSupportHandOff::start(const base::string16& program, const std::string& input, DoneCallback onDone) {
  if (running_) return false;
  join();  // the thread of the last hand-off has ended; reap it
  program_ = program;
  input_ = input;
  onDone_ = std::move(onDone);
  stop_.store(false);
  if (!base::PlatformThread::create(this, &thread_)) {
    LOG(ERROR) << "Can't start the support hand-off thread";
    return false;
  }
  running_ = true;
  return true;
}

void CSupportHandOff::threadMain() {
  result_.store(runSupportTool(program_, input_, &stop_));
  done_.post();
}

void CSupportHandOff::run() {
  join();
  running_ = false;
  if (onDone_) onDone_(result_.load());
}

void CSupportHandOff::join() { thread_.join(); }
