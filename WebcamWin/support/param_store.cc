#include "WebcamWin/support/param_store.h"

#include "base/logging.h"

namespace support {

CParamStore& CParamStore::instance() {
  static CParamStore* store = new CParamStore;  // lives as long as the process
  return *store;
}

bool CParamStore::insert(const string16& key, const string16& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  return values_.emplace(key, value).second;
}

void CParamStore::set(const string16& key, const string16& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
}

bool CParamStore::lookup(const string16& key, string16* value) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return false;
  if (value) *value = it->second;
  return true;
}

string16 CParamStore::get(const string16& key) const {
  string16 value;
  lookup(key, &value);
  return value;
}

size_t CParamStore::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return values_.size();
}

void CParamStore::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  values_.clear();
}

string16 decodeUtf16Le(const std::string& bytes) {
  string16 text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                         (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  }
  return text;
}

bool isToolOwnedKey(const string16& key) {
  return key == kKeyCompressedLog || key == kKeyShippedLog || key == kKeyTarFile;
}

size_t parseRequest(const string16& text, CParamStore* store) {
  size_t parsed = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t lineEnd = text.find(u'\n', pos);
    if (lineEnd == string16::npos) break;  // unfinished last line
    const size_t colon = text.find(u':', pos);
    if (colon == string16::npos || colon > lineEnd) {
      // A line without a key would otherwise swallow the next line into
      // its key; leave it out.
      LOG(WARNING) << "Request line without ':' skipped: "
                   << text.substr(pos, lineEnd - pos);
      pos = lineEnd + 1;
      continue;
    }
    const string16 key = text.substr(pos, colon - pos);
    const string16 value = text.substr(colon + 1, lineEnd - colon - 1);
    if (isToolOwnedKey(key)) {
      // Only the tool names the files it uploads; a request that names one
      // (a phone's text smuggled into a line) is not obeyed.
      LOG(WARNING) << "Request line with the tool's own key '" << key << "' refused";
      pos = lineEnd + 1;
      continue;
    }
    LOG(INFO) << "Parsed: " << key << " = " << value;
    if (!store->insert(key, value))
      LOG(INFO) << "'" << key << "' already given; the first value stays";
    ++parsed;
    pos = lineEnd + 1;
  }
  return parsed;
}

}  // namespace support
