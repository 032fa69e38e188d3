#include "framework/dialogs.h"

#include <windows.h>

#include <commdlg.h>

#include <vector>

#include "framework/forms.h"

bool TOpenDialog::Execute() {
  // The filter's '|' separators become the NULs the system wants, ending in two.
  std::vector<wchar_t> filter(Filter.begin(), Filter.end());
  for (wchar_t& c : filter)
    if (c == L'|') c = L'\0';
  filter.push_back(L'\0');
  filter.push_back(L'\0');
  std::vector<wchar_t> file(32768, L'\0');
  FileName.copy(file.data(), std::min(FileName.size(), file.size() - 1));
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = GetActiveWindow();
  ofn.lpstrFilter = filter.data();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING;
  if (!GetOpenFileNameW(&ofn)) return false;
  FileName = file.data();
  return true;
}

void ShowMessage(const WideString& Msg) {
  const WideString title = Application->Title();
  MessageBoxW(GetActiveWindow(), Msg.c_str(), title.empty() ? L"Message" : title.c_str(), MB_OK);
}
