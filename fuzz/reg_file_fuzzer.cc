// The Linux registry file reader on arbitrary bytes: it must never crash or
// grow without bound, and what it writes back must read the same again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/file_util.h"
#include "base/logging.h"
#include "base/reg_key.h"

namespace {

// Every key below `key` with its values, as one text.
void dump(const base::RegKey& key, const base::string16& path, int depth, std::string* out) {
  *out += base::wideToUtf8(path) + "\n";
  for (const base::string16& name : key.valueNames()) {
    uint32_t type = 0;
    std::string data;
    if (key.readRawValue(name, &type, &data) != base::kRegOk) continue;
    *out += "  " + base::wideToUtf8(name) + " " + std::to_string(type) + " " + data + "\n";
    base::string16 text;
    uint32_t dword;
    uint64_t qword;
    key.readValue(name, &text);
    key.readValueDW(name, &dword);
    key.readValueQW(name, &qword);
  }
  if (depth > 64) return;
  for (const base::string16& name : key.subkeyNames()) {
    base::RegKey child;
    if (key.openSubkey(name, &child) == base::kRegOk) dump(child, path + u"\\" + name, depth + 1, out);
  }
}

std::string dumpHive() {
  base::RegKey root;
  std::string out;
  if (root.open(base::RegRoot::kCurrentUser, u"") == base::kRegOk) dump(root, u"", 0, &out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    base::setMinLogSeverity(base::LOG_FATAL + 1);  // damaged files are the normal case here
    std::atexit(base::endRegistryOverrideForTesting);
    return base::beginRegistryOverrideForTesting();
  }();
  if (!ready) return 0;
  const base::string16 file = base::registryHiveFile(base::RegRoot::kCurrentUser);
  const base::string16 folder = base::dirName(file);
  for (const base::string16& name : base::listDirectory(folder))
    if (name != base::baseName(file)) base::deleteFile(base::joinPath(folder, name));

  base::writeFileAtomic(file, std::string(reinterpret_cast<const char*>(data), size));
  dumpHive();

  // A write makes the file our own text; read afresh (the byte-order mark
  // makes it new bytes) it must give the same keys and values.
  base::RegKey key;
  if (key.create(base::RegRoot::kCurrentUser, u"Software\\Fuzz") != base::kRegOk ||
      key.writeValueDW(u"n", static_cast<uint32_t>(size)) != base::kRegOk) {
    return 0;
  }
  const std::string before = dumpHive();
  std::string text;
  if (!base::readFile(file, &text)) return 0;
  base::writeFileAtomic(file, "\xEF\xBB\xBF" + text);
  if (dumpHive() != before) std::abort();
  return 0;
}
