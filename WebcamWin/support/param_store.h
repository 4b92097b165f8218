// The facts the support tool works with: what the main program sent over the
// pipe ("Log", "Version", ...) and what the jobs add on the way
// ("CompressedLog", "ShippedLog"). One store per process; for the request's
// keys the first value wins, while the jobs' own values always replace any
// earlier one. Keys are compared exactly (case-sensitively).
#ifndef WEBCAMWIN_SUPPORT_PARAM_STORE_H_
#define WEBCAMWIN_SUPPORT_PARAM_STORE_H_

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "base/string_util.h"

namespace support {

using base::string16;

// Keys of the store.
constexpr const char16_t* kKeyLog = u"Log";
constexpr const char16_t* kKeySupportForm = u"SupportForm";
constexpr const char16_t* kKeyVersion = u"Version";
constexpr const char16_t* kKeyDeviceModel = u"DeviceModel";
constexpr const char16_t* kKeyDeviceSoftware = u"DeviceSoftware";
constexpr const char16_t* kKeyTarFile = u"TarFile";
constexpr const char16_t* kKeyCompressedLog = u"CompressedLog";
constexpr const char16_t* kKeyShippedLog = u"ShippedLog";

// Jobs run one after another, but a job that did not stop in time may still
// be running beside the next one, so the map has its own lock. Any thread.
class CParamStore {
 public:
  CParamStore() = default;
  CParamStore(const CParamStore&) = delete;
  CParamStore& operator=(const CParamStore&) = delete;

  // The process-wide store.
  static CParamStore& instance();

  // False (and the old value kept) when the key is already present.
  bool insert(const string16& key, const string16& value);
  // Stores `value` whatever was there (the jobs' own results).
  void set(const string16& key, const string16& value);
  bool lookup(const string16& key, string16* value) const;
  // Empty when missing.
  string16 get(const string16& key) const;
  size_t size() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::map<string16, string16> values_;
};

// The request is UTF-16LE without byte-order mark. A trailing odd byte is
// not a code unit and is dropped.
string16 decodeUtf16Le(const std::string& bytes);

// Splits a request into "key:value" lines ending in LF and inserts them
// into `store`. Lines with a key only the tool itself sets
// ("CompressedLog", "ShippedLog", "TarFile") are refused. The key ends at the first ':' of its line; the value runs to
// the LF and is not trimmed. A line without ':' is skipped, and a last line
// without LF is ignored. Returns the number of lines parsed.
size_t parseRequest(const string16& text, CParamStore* store);
// Keys the request may not give.
bool isToolOwnedKey(const string16& key);

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_PARAM_STORE_H_
