#include "WebcamWin/e2e/server_process.h"

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/platform/desktop.h"
#include "base/file_util.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"

#include <regex>

void PrivateUser::rememberOldLogs() {
  for (const base::string16& name : base::listDirectory(shell::logFolder())) oldLogs_.insert(name);
}

std::string PrivateUser::logOf(uint32_t pid) {
  const base::string16 folder = shell::logFolder();
  const std::string tag = "[" + std::to_string(pid) + ":";
  std::string lines;
  for (const base::string16& name : base::listDirectory(folder)) {
    if (oldLogs_.count(name)) continue;
    std::string text;
    if (!base::readFile(base::joinPath(folder, name), &text)) continue;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      if (line.find(tag) != std::string::npos) lines += line + "\n";
      start = end + 1;
    }
  }
  return lines;
}

std::string PrivateUser::sanitizerReports() {
  static const char* const kMarks[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                       "WARNING: ThreadSanitizer", "runtime error:"};
  std::string reports;
  for (const base::string16& name : base::listDirectory(folder_)) {
    if (name.size() < 4 || name.compare(name.size() - 4, 4, u".out") != 0) continue;
    std::string text;
    if (!base::readFile(base::joinPath(folder_, name), &text)) continue;
    for (const char* mark : kMarks)
      if (text.find(mark) != std::string::npos) reports += base::wideToUtf8(name) + ":\n" + text;
  }
  return reports;
}

bool PrivateUser::allowPhone(const std::string& uid, const base::string16& name) {
  base::RegKey app, acl, phone;
  return app.create(base::RegRoot::kCurrentUser, kAppRegistryKey) == base::kRegOk &&
         app.createSubkey(u"ACL", &acl) == base::kRegOk &&
         acl.createSubkey(base::utf8ToWide(uid), &phone) == base::kRegOk &&
         phone.writeValue(u"Name", name) == base::kRegOk && phone.writeValueDW(u"Status", 1) == base::kRegOk;
}

namespace e2e {
namespace {
constexpr uint32_t kPollMs = 50;
}  // namespace

int listeningPort(const std::string& log) {
  std::smatch match;
  static const std::regex kListen("Listen on [0-9.]+:([0-9]+)");
  return std::regex_search(log, match, kListen) ? std::stoi(match[1]) : 0;
}

int startServer(PrivateUser& user, ServerProcess* server, uint32_t timeoutMs) {
  if (!server->start(ServerProcess::defaultProgram(), {}, base::joinPath(user.folder(), u"server.out"))) return 0;
  for (uint32_t waited = 0; waited < timeoutMs; waited += kPollMs) {
    if (const int port = listeningPort(user.logOf(server->pid()))) return port;
    if (!server->running()) break;
    base::PlatformThread::sleepMs(kPollMs);
  }
  return 0;
}

bool waitForLogCount(PrivateUser& user, ServerProcess* server, const std::string& text, size_t count,
                     uint32_t timeoutMs) {
  for (uint32_t waited = 0; waited < timeoutMs; waited += kPollMs) {
    const std::string log = user.logOf(server->pid());
    size_t found = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
    if (found >= count) return true;
    base::PlatformThread::sleepMs(kPollMs);
  }
  return false;
}

int endServer(PrivateUser& user, ServerProcess* server, uint32_t timeoutMs) {
  ServerProcess exit;
  int code = -100;
  if (!exit.start(ServerProcess::defaultProgram(), {"-exit"}, base::joinPath(user.folder(), u"exit.out")) ||
      !exit.wait(timeoutMs, &code) || !server->wait(timeoutMs, &code)) {
    return -100;
  }
  return code;
}

}  // namespace e2e
