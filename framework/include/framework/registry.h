// Reading (and writing) registry values.
#pragma once

#include <windows.h>

#include "framework/classes.h"

class TRegistry : public TObject {
  KV_CLASS(TRegistry, TObject)
public:
  // Access is used by OpenKey; OpenKeyReadOnly always asks for KEY_READ.
  explicit TRegistry(REGSAM Access = KEY_ALL_ACCESS);
  ~TRegistry() override;

  HKEY RootKey() const { return rootKey_; }
  void SetRootKey(HKEY key);  // closes the current key
  HKEY CurrentKey() const { return currentKey_; }
  REGSAM Access() const { return access_; }
  void SetAccess(REGSAM v) { access_ = v; }

  // Key paths are relative to RootKey (or to the current key when they do
  // not start with '\'). Answer false when the key cannot be opened.
  bool OpenKey(const WideString& Key, bool CanCreate);
  bool OpenKeyReadOnly(const WideString& Key);
  void CloseKey();
  bool KeyExists(const WideString& Key);
  bool ValueExists(const WideString& Name);
  bool DeleteKey(const WideString& Key);
  bool DeleteValue(const WideString& Name);

  // A missing value reads as empty text; a value that is not REG_SZ or
  // REG_EXPAND_SZ raises ERegistryException. The text stops at the first
  // NUL; an unterminated value is read whole.
  WideString ReadString(const WideString& Name);
  // ERegistryException when missing or not a REG_DWORD.
  int ReadInteger(const WideString& Name);
  void WriteString(const WideString& Name, const WideString& Value);
  void WriteInteger(const WideString& Name, int Value);

private:
  HKEY rootKey_ = HKEY_CURRENT_USER;
  HKEY currentKey_ = nullptr;
  WideString currentPath_;
  REGSAM access_;
};
