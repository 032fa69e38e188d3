// A context menu that controls show on a right click (PopupMenu property).
#pragma once

#include <windows.h>

#include "framework/classes.h"
#include "framework/types.h"

using TMenuItemClickEvent = TEvent<TObject*, int>;

class TPopupMenu : public TComponent {
  KV_CLASS(TPopupMenu, TComponent)
public:
  explicit TPopupMenu(TComponent* AOwner);
  ~TPopupMenu() override;
  // Item captions in menu order; "-" makes a separator. Published as Items.
  TStringList* Items() { return &items_; }
  // Shows the menu at a screen point and waits for the choice; the chosen
  // item's index goes to OnItemClick. Answers the index, -1 when dismissed.
  int Popup(int X, int Y);

  TNotifyEvent OnPopup;
  TMenuItemClickEvent OnItemClick;

private:
  WideString GetItemsText() const { return items_.Text(); }
  void SetItemsText(const WideString& v) { items_.SetText(v); }
  TStringList items_;
};
