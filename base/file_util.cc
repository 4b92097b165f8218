#include "base/file_util.h"

namespace base {

string16 joinPath(const string16& folder, const string16& name) {
  if (folder.empty()) return name;
  const char16_t last = folder.back();
  if (last == u'/' || last == u'\\') return folder + name;
  return folder + kPathSeparator + name;
}

string16 baseName(const string16& path) {
  size_t pos = path.find_last_of(u'/');
  if (pos == string16::npos) pos = path.find_last_of(u'\\');
  return pos == string16::npos ? path : path.substr(pos + 1);
}

std::string baseName(const std::string& path) {
  size_t pos = path.find_last_of('/');
  if (pos == std::string::npos) pos = path.find_last_of('\\');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

string16 dirName(const string16& path) {
  const size_t pos = path.find_last_of(u"/\\");
  return pos == string16::npos ? string16() : path.substr(0, pos);
}

}  // namespace base
