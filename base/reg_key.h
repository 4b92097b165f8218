// A key of the system registry: create or open it, read and write typed
// values (REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD, raw bytes), list and
// delete subkeys. Results are the system's error codes (0 is success).
//
// Windows: the registry itself. Linux: one text file per hive,
// $XDG_CONFIG_HOME/quillon-labs/registry/HKEY_CURRENT_USER.reg (and
// HKEY_LOCAL_MACHINE.reg), in the registry editor's export format so that a
// user can read and edit it and the same text imports on Windows. Key and
// value names compare case-insensitively; every write rewrites the file
// atomically under a file lock, after re-reading what other processes wrote.
// A damaged file is logged, read as far as it is valid and copied aside
// before it is first rewritten.
//
// A RegKey may be used from any thread, one thread at a time.
#ifndef BASE_REG_KEY_H_
#define BASE_REG_KEY_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/string_util.h"

namespace base {

enum class RegRoot : uint32_t {
  kCurrentUser = 0,   // HKEY_CURRENT_USER
  kLocalMachine = 1,  // HKEY_LOCAL_MACHINE
};

// Value types, numbered as the registry numbers them.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// Result codes (the Windows error numbers of the same meaning).
constexpr int32_t kRegOk = 0;                // ERROR_SUCCESS
constexpr int32_t kRegNotFound = 2;          // ERROR_FILE_NOT_FOUND
constexpr int32_t kRegAccessDenied = 5;      // ERROR_ACCESS_DENIED
constexpr int32_t kRegInvalidHandle = 6;     // ERROR_INVALID_HANDLE
constexpr int32_t kRegInvalidData = 13;      // ERROR_INVALID_DATA: wrong type or shape
constexpr int32_t kRegInvalidParameter = 87; // ERROR_INVALID_PARAMETER
constexpr int32_t kRegCantRead = 1012;       // ERROR_CANTREAD
constexpr int32_t kRegCantWrite = 1013;      // ERROR_CANTWRITE
constexpr int32_t kRegKeyDeleted = 1018;     // ERROR_KEY_DELETED

// "HKEY_CURRENT_USER" / "HKEY_LOCAL_MACHINE".
const char16_t* regRootName(RegRoot root);

// Groups this thread's writes to one hive so that they reach the hive file
// together, once, when the group ends or commits (Linux). Other threads' use
// of that hive waits meanwhile, and other processes' writes wait for the
// file. On Windows the registry takes each write at once; a group does
// nothing there. Groups may nest; the outermost one writes.
class RegWriteGroup {
 public:
  explicit RegWriteGroup(RegRoot root);
  ~RegWriteGroup();  // commits
  RegWriteGroup(const RegWriteGroup&) = delete;
  RegWriteGroup& operator=(const RegWriteGroup&) = delete;

  // Writes what the group changed so far. False when it could not be
  // written; those changes are then lost, as the failed writes would have
  // been one by one.
  bool commit();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The file a hive is kept in (Linux); empty on Windows.
string16 registryHiveFile(RegRoot root);

// Tests only: until endRegistryOverrideForTesting(), every key of both roots
// lives in a fresh, empty scratch place (Linux: a new temporary folder for
// the hive files; Windows: a new key below HKEY_CURRENT_USER\Software that
// stands in for the roots through RegOverridePredefKey). The end removes it.
bool beginRegistryOverrideForTesting();
void endRegistryOverrideForTesting();

class RegKey {
 public:
  RegKey();
  ~RegKey();
  RegKey(RegKey&& other) noexcept;
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // Opens root\path for reading and writing, creating the missing keys.
  // `path` is backslash-separated ("Software\\Quillon Labs\\...").
  int32_t create(RegRoot root, const string16& path);
  // Opens an existing key for reading and writing.
  int32_t open(RegRoot root, const string16& path);
  // The same for a key below this one (`name` may hold backslashes).
  int32_t createSubkey(const string16& name, RegKey* child) const;
  int32_t openSubkey(const string16& name, RegKey* child) const;
  void close();
  bool valid() const;

  bool hasValue(const string16& name) const;
  // A string value: REG_SZ or REG_EXPAND_SZ (taken as it is, not expanded),
  // an even number of bytes ending with a NUL character. Anything else is
  // kRegInvalidData and leaves `out` alone.
  int32_t readValue(const string16& name, string16* out) const;
  // Exactly REG_DWORD of 4 bytes / REG_QWORD of 8 bytes.
  int32_t readValueDW(const string16& name, uint32_t* out) const;
  int32_t readValueQW(const string16& name, uint64_t* out) const;
  // Any value as its type and bytes.
  int32_t readRawValue(const string16& name, uint32_t* type, std::string* data) const;

  // REG_SZ (UTF-16 with its terminating NUL), REG_DWORD, REG_QWORD.
  int32_t writeValue(const string16& name, const string16& text);
  int32_t writeValueDW(const string16& name, uint32_t value);
  int32_t writeValueQW(const string16& name, uint64_t value);
  int32_t writeRawValue(const string16& name, uint32_t type, const std::string& data);
  int32_t deleteValue(const string16& name);

  // Deletes the subkey `name` with everything below it.
  int32_t deleteSubtree(const string16& name);
  // Names of the direct subkeys and of the values, in stored order.
  std::vector<string16> subkeyNames() const;
  std::vector<string16> valueNames() const;

  // Makes the writes so far durable (RegFlushKey; Linux: fsync of the file).
  int32_t flush();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace base

#endif  // BASE_REG_KEY_H_
