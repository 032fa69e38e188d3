// The system's common dialogs and message boxes.
#pragma once

#include "framework/classes.h"

// The system's file-open dialog.
class TOpenDialog : public TComponent {
public:
  explicit TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}
  // "Description|*.a;*.b|Other|*.*"
  WideString Filter;
  WideString FileName;
  WideString Title;
  // Shows the dialog over the active window; true when the user chose a file
  // (FileName then holds its full path).
  bool Execute();
};

// A message box with an OK button over the active window.
void ShowMessage(const WideString& Msg);
