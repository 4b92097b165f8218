// Windows side of the registry seam: thin wrappers over the registry calls.
#include "base/reg_key.h"

#include <windows.h>


namespace base {
namespace {

const wchar_t* w(const string16& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

HKEY rootKey(RegRoot root) {
  return root == RegRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;

}  // namespace

const char16_t* regRootName(RegRoot root) {
  return root == RegRoot::kLocalMachine ? u"HKEY_LOCAL_MACHINE" : u"HKEY_CURRENT_USER";
}

string16 registryHiveFile(RegRoot) { return string16(); }

namespace {
string16& scratchKey() {
  static auto* path = new string16();  // usable from exit handlers
  return *path;
}
}  // namespace

bool beginRegistryOverrideForTesting() {
  endRegistryOverrideForTesting();
  static int counter = 0;
  const string16 path = asciiToWide(stringPrintf("Software\\Quillon Labs Tests\\%lu-%d",
                                                 ::GetCurrentProcessId(), ++counter));
  // Both keys are opened before either override, so they name real keys.
  HKEY keys[2] = {nullptr, nullptr};
  const RegRoot roots[2] = {RegRoot::kCurrentUser, RegRoot::kLocalMachine};
  bool ok = true;
  for (int i = 0; i < 2 && ok; ++i) {
    const string16 sub = path + u"\\" + regRootName(roots[i]);
    ok = ::RegCreateKeyExW(HKEY_CURRENT_USER, w(sub), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &keys[i], nullptr) == ERROR_SUCCESS;
  }
  scratchKey() = path;
  for (int i = 0; i < 2 && ok; ++i) ok = ::RegOverridePredefKey(rootKey(roots[i]), keys[i]) == ERROR_SUCCESS;
  for (HKEY key : keys)
    if (key) ::RegCloseKey(key);
  if (!ok) endRegistryOverrideForTesting();
  return ok;
}

void endRegistryOverrideForTesting() {
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  if (!scratchKey().empty()) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, w(scratchKey()));
    scratchKey().clear();
  }
}

struct RegWriteGroup::Impl {};

RegWriteGroup::RegWriteGroup(RegRoot) {}
RegWriteGroup::~RegWriteGroup() = default;
bool RegWriteGroup::commit() { return true; }

struct RegKey::Impl {
  HKEY key = nullptr;
  ~Impl() {
    if (key) ::RegCloseKey(key);
  }
};

RegKey::RegKey() = default;
RegKey::~RegKey() = default;
RegKey::RegKey(RegKey&& other) noexcept = default;
RegKey& RegKey::operator=(RegKey&& other) noexcept = default;

int32_t RegKey::create(RegRoot root, const string16& path) {
  close();
  HKEY key = nullptr;
  const LONG result = ::RegCreateKeyExW(rootKey(root), w(path), 0, nullptr, 0, kAccess,
                                        nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  impl_ = std::make_unique<Impl>();
  impl_->key = key;
  return kRegOk;
}

int32_t RegKey::open(RegRoot root, const string16& path) {
  close();
  HKEY key = nullptr;
  const LONG result = ::RegOpenKeyExW(rootKey(root), w(path), 0, kAccess, &key);
  if (result != ERROR_SUCCESS) return result;
  impl_ = std::make_unique<Impl>();
  impl_->key = key;
  return kRegOk;
}

int32_t RegKey::createSubkey(const string16& name, RegKey* child) const {
  if (!impl_) return kRegInvalidHandle;
  if (name.empty()) return kRegInvalidParameter;
  HKEY key = nullptr;
  const LONG result =
      ::RegCreateKeyExW(impl_->key, w(name), 0, nullptr, 0, kAccess, nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  child->close();
  child->impl_ = std::make_unique<Impl>();
  child->impl_->key = key;
  return kRegOk;
}

int32_t RegKey::openSubkey(const string16& name, RegKey* child) const {
  if (!impl_) return kRegInvalidHandle;
  if (name.empty()) return kRegInvalidParameter;
  HKEY key = nullptr;
  const LONG result = ::RegOpenKeyExW(impl_->key, w(name), 0, kAccess, &key);
  if (result != ERROR_SUCCESS) return result;
  child->close();
  child->impl_ = std::make_unique<Impl>();
  child->impl_->key = key;
  return kRegOk;
}

void RegKey::close() { impl_.reset(); }

bool RegKey::valid() const { return impl_ != nullptr; }

int32_t RegKey::readRawValue(const string16& name, uint32_t* type, std::string* data) const {
  if (!impl_) return kRegInvalidHandle;
  // Size first, then the bytes; a value that grows in between is read again.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD t = 0, size = 0;
    LONG result = ::RegQueryValueExW(impl_->key, w(name), nullptr, &t, nullptr, &size);
    if (result != ERROR_SUCCESS) return result;
    std::string buffer(size, '\0');
    result = ::RegQueryValueExW(impl_->key, w(name), nullptr, &t,
                                reinterpret_cast<BYTE*>(&buffer[0]), &size);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) return result;
    buffer.resize(size);
    *type = t;
    data->swap(buffer);
    return kRegOk;
  }
  return ERROR_MORE_DATA;
}

int32_t RegKey::writeRawValue(const string16& name, uint32_t type, const std::string& data) {
  if (!impl_) return kRegInvalidHandle;
  return ::RegSetValueExW(impl_->key, w(name), 0, type,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size()));
}

int32_t RegKey::deleteValue(const string16& name) {
  if (!impl_) return kRegInvalidHandle;
  return ::RegDeleteValueW(impl_->key, w(name));
}

int32_t RegKey::deleteSubtree(const string16& name) {
  if (!impl_) return kRegInvalidHandle;
  if (name.empty()) return kRegInvalidParameter;
  return ::RegDeleteTreeW(impl_->key, w(name));
}

std::vector<string16> RegKey::subkeyNames() const {
  std::vector<string16> names;
  if (!impl_) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    const LONG result =
        ::RegEnumKeyExW(impl_->key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) break;
    names.emplace_back(reinterpret_cast<const char16_t*>(name), length);
  }
  return names;
}

std::vector<string16> RegKey::valueNames() const {
  std::vector<string16> names;
  if (!impl_) return names;
  std::wstring name(16384, L'\0');
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG result =
        ::RegEnumValueW(impl_->key, i, &name[0], &length, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) break;
    names.emplace_back(reinterpret_cast<const char16_t*>(name.data()), length);
  }
  return names;
}

int32_t RegKey::flush() {
  if (!impl_) return kRegInvalidHandle;
  return ::RegFlushKey(impl_->key);
}

}  // namespace base
