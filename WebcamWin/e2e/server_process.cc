#include "WebcamWin/e2e/server_process.h"

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/platform/desktop.h"
#include "base/file_util.h"
#include "base/reg_key.h"

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
