#include "WebcamWin/app/server_main.h"

#include <cstdio>
#include <memory>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/platform/desktop.h"
#include "WebcamWin/platform/instance.h"
#include "WebcamWin/app/startup.h"
#include "base/dns_sd.h"
#include "base/file_util.h"
#include "base/logging.h"
#include "base/message_loop.h"
#include "base/platform_thread.h"
#include "base/socket.h"
#include "base/sys_info.h"

namespace {

constexpr int kLogFilesKept = 10;
constexpr char16_t kLogPrefix[] = u"Webcam";
constexpr char16_t kNoResourceLibrary[] = u"Unable to load resource dll";

void startLogging() {
  const base::string16 folder = shell::logFolder();
  base::createDirectories(folder);
  // The logs carry the unique ids the access list trusts.
  base::restrictToOwner(folder);
  const base::string16 file = base::makeLogFileName(folder, kLogFilesKept, kLogPrefix);
  // Each start has a file of its own (a second start in the same second is
  // named apart), so a leftover of that name is replaced.
  shell::keepLogOffTerminal();
  base::initLogging(file, base::kLogToFileAndDebugger, base::kLockInProcess, 0);
  base::setLogItems(true, true);
}

// The "exit" switch: ask the running instance to close, a few times.
void closeRunningInstance() {
  shell::InstanceRequest close;
  close.kind = shell::InstanceRequest::kClose;
  close.param = kCloseWithoutQuestion;
  for (int attempt = 0; attempt < kExitAttempts && shell::instanceRunning(kInstanceName);
       ++attempt) {
    shell::sendToInstance(kInstanceName, close);
    base::PlatformThread::sleepMs(kExitRetryMs);
  }
}

// "allow", "allow-once" and "deny": answer the running instance's
// authorization prompt. The switches are cut at '-', so "-allow-once" comes
// as "allow" and "once". Exit code 0 when a phone was waiting, 1 otherwise.
int answerRunningInstance(const std::set<base::string16>& switches) {
  shell::InstanceRequest answer;
  answer.kind = shell::InstanceRequest::kAnswer;
  if (switches.count(u"deny")) answer.param = shell::kAnswerDeny;
  else if (switches.count(u"once")) answer.param = shell::kAnswerAllowOnce;
  else answer.param = shell::kAnswerAllowAlways;
  if (shell::sendToInstance(kInstanceName, answer)) {
    LOG(INFO) << "The running instance took the answer";
    return 0;
  }
  LOG(INFO) << "No phone is waiting for an answer.";
  std::fputs("No phone is waiting for an answer.\n", stdout);
  std::fflush(stdout);
  return 1;
}

// Between the settings and the message loop; its result is the exit code.
int runStep(int showCommand, shell::InstanceLock* instance) {
  base::MessageLoop loop;
  CSettings& settings = CSettings::Instance();
  settings.load();

  ResourceLibrary resources;
  if (!resources.load(ResourceLibrary::defaultPath())) {
    shell::showBuiltInError(kNoResourceLibrary, kProductName);
    return -1;
  }
  LOG(INFO) << "Resource library was loaded";
  ResourceLibrary::setCurrent(&resources);

  setInterfaceLanguage(readInterfaceLanguage());
  if (upgradeLegacySettings(&settings))
    LOG(INFO) << "The media folders of an older version were taken over";
  settings.setVersion(base::utf8ToWide(kProgramVersion));
  settings.save();

  auto frame = std::make_unique<CMainFrame>();
  if (!frame->createWindow(loadString(kIdsMainTitle))) {
    LOG(ERROR) << "Main window creation failed!";
    return 0;
  }
  FrameWindow* window = frame->window();
  instance->serveRequests([window](const shell::InstanceRequest& request) {
    if (request.kind == shell::InstanceRequest::kAnswer) return window->answerFromAnotherStart(request.param);
    if (request.kind == shell::InstanceRequest::kClose) window->postClose(request.param);
    else window->postShow();
    return true;
  });
  window->centre();
  window->show(showCommand);
  const int result = loop.run();
  instance->stopServing();
  settings.save();
  frame.reset();
  return result;
}

}  // namespace

int serverMain(const base::string16& commandLine, int showCommand) {
  startLogging();
  LOG(INFO) << base::operatingSystemName();
  LOG(INFO) << kProductName << " v" << kVersionMajor << "." << kVersionMinor << "."
            << kVersionPatch << " (" << kApplicationId << ")";
  if (!commandLine.empty()) LOG(INFO) << "Called with arguments: " << commandLine;

  const std::set<base::string16> switches = parseSwitches(commandLine);
  if (switches.count(u"minimize")) showCommand = kShowHide;
  if (switches.count(u"exit")) {
    closeRunningInstance();
    return 0;
  }
  if (switches.count(u"allow") || switches.count(u"deny")) return answerRunningInstance(switches);

  LOG(INFO) << "Prevent the second instance of application";
  auto instance = std::make_unique<shell::InstanceLock>();
  if (!instance->acquire(kInstanceName)) {
    shell::InstanceRequest show;
    show.kind = shell::InstanceRequest::kShow;
    shell::sendToInstance(kInstanceName, show);
    return 0;
  }

  int32_t error = 0;
  if (!shell::raisePriority(&error))
    LOG(INFO) << "Can't set process priority class. Code " << error;

  shell::initializeInterfaceLibraries();
  base::initializeSockets();  // a failure shows later, when sockets fail
  // Without the DNS-SD library the server works but cannot be discovered.
  base::dnssd::loadSystemLibrary();

  const int result = runStep(showCommand, instance.get());

  base::dnssd::unloadSystemLibrary();
  shell::shutdownInterfaceLibraries();
  instance.reset();
  LOG(INFO) << "Exit";
  return result;
}
