#include "framework/registry.h"

#include <algorithm>
#include <vector>

const TClassInfo& TRegistry::StaticClass() {
  static const TClassInfo info = TClassBuilder<TRegistry>(L"TRegistry");
  return info;
}

TRegistry::TRegistry(REGSAM Access) : access_(Access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY key) {
  if (key == rootKey_) return;
  CloseKey();
  rootKey_ = key;
}

void TRegistry::CloseKey() {
  if (currentKey_) RegCloseKey(currentKey_);
  currentKey_ = nullptr;
  currentPath_.clear();
}

namespace {
// A path starting with '\' is absolute (from the root key); others are
// relative to the open key.
struct KeyRef {
  HKEY base;
  WideString path;
};
KeyRef Resolve(HKEY root, HKEY current, const WideString& key) {
  if (!key.empty() && key[0] == L'\\') return {root, key.substr(1)};
  return {current ? current : root, key};
}
}  // namespace

bool TRegistry::OpenKey(const WideString& Key, bool CanCreate) {
  KeyRef ref = Resolve(rootKey_, currentKey_, Key);
  HKEY key = nullptr;
  LONG r;
  if (CanCreate)
    r = RegCreateKeyExW(ref.base, ref.path.c_str(), 0, nullptr, 0, access_, nullptr, &key, nullptr);
  else
    r = RegOpenKeyExW(ref.base, ref.path.c_str(), 0, access_, &key);
  if (r != ERROR_SUCCESS) return false;
  CloseKey();
  currentKey_ = key;
  currentPath_ = Key;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const WideString& Key) {
  KeyRef ref = Resolve(rootKey_, currentKey_, Key);
  HKEY key = nullptr;
  if (RegOpenKeyExW(ref.base, ref.path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  CloseKey();
  currentKey_ = key;
  currentPath_ = Key;
  return true;
}

bool TRegistry::KeyExists(const WideString& Key) {
  KeyRef ref = Resolve(rootKey_, currentKey_, Key);
  HKEY key = nullptr;
  if (RegOpenKeyExW(ref.base, ref.path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool TRegistry::ValueExists(const WideString& Name) {
  HKEY key = currentKey_ ? currentKey_ : rootKey_;
  return RegQueryValueExW(key, Name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TRegistry::DeleteKey(const WideString& Key) {
  KeyRef ref = Resolve(rootKey_, currentKey_, Key);
  return RegDeleteKeyW(ref.base, ref.path.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::DeleteValue(const WideString& Name) {
  HKEY key = currentKey_ ? currentKey_ : rootKey_;
  return RegDeleteValueW(key, Name.c_str()) == ERROR_SUCCESS;
}

WideString TRegistry::ReadString(const WideString& Name) {
  HKEY key = currentKey_ ? currentKey_ : rootKey_;
  // The value may change between the size query and the read: retry with the new size.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, size = 0;
    LONG r = RegQueryValueExW(key, Name.c_str(), nullptr, &type, nullptr, &size);
    if (r == ERROR_FILE_NOT_FOUND) return {};
    if (r != ERROR_SUCCESS) throw ERegistryException(L"Failed to get data for '" + Name + L"'");
    if (type != REG_SZ && type != REG_EXPAND_SZ) throw ERegistryException(L"Invalid data type for '" + Name + L"'");
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    r = RegQueryValueExW(key, Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (r == ERROR_MORE_DATA) continue;
    if (r != ERROR_SUCCESS) throw ERegistryException(L"Failed to get data for '" + Name + L"'");
    if (type != REG_SZ && type != REG_EXPAND_SZ) throw ERegistryException(L"Invalid data type for '" + Name + L"'");
    // The stored bytes need not end with a NUL: use no more than what came.
    std::size_t chars = std::min<std::size_t>(got / sizeof(wchar_t), buffer.size() - 1);
    WideString text(buffer.data(), chars);
    std::size_t nul = text.find(L'\0');
    if (nul != WideString::npos) text.resize(nul);
    return text;
  }
  throw ERegistryException(L"Failed to get data for '" + Name + L"'");
}

int TRegistry::ReadInteger(const WideString& Name) {
  HKEY key = currentKey_ ? currentKey_ : rootKey_;
  DWORD type = 0, value = 0, size = sizeof(value);
  LONG r = RegQueryValueExW(key, Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (r != ERROR_SUCCESS) throw ERegistryException(L"Failed to get data for '" + Name + L"'");
  if (type != REG_DWORD || size != sizeof(value)) throw ERegistryException(L"Invalid data type for '" + Name + L"'");
  return static_cast<int>(value);
}

void TRegistry::WriteString(const WideString& Name, const WideString& Value) {
  HKEY key = currentKey_ ? currentKey_ : rootKey_;
  if (RegSetValueExW(key, Name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()),
                     static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
    throw ERegistryException(L"Failed to set data for '" + Name + L"'");
}

void TRegistry::WriteInteger(const WideString& Name, int Value) {
  HKEY key = currentKey_ ? currentKey_ : rootKey_;
  DWORD v = static_cast<DWORD>(Value);
  if (RegSetValueExW(key, Name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof(v)) != ERROR_SUCCESS)
    throw ERegistryException(L"Failed to set data for '" + Name + L"'");
}
