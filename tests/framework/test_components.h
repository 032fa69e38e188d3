// Components with one published property of every kind, shared by the
// framework's tests.
#pragma once

#include <string>
#include <vector>

#include "framework/classes.h"
#include "framework/filer.h"

enum TTestMode { tmAlpha, tmBeta, tmGamma };
const TEnumInfo& TestModeInfo();
using TTestModes = TSet<TTestMode>;

// A collection item carrying a binary property, framed as
// u32 size + bytes (its reader trusts nothing but the frame).
class TTestItem : public TCollectionItem {
  KV_CLASS(TTestItem, TCollectionItem)
public:
  explicit TTestItem(TCollection* c);
  ~TTestItem() override;
  const WideString& Title() const { return title_; }
  void SetTitle(const WideString& v) { title_ = v; }
  std::string Data;
  static int Live;

protected:
  void DefineProperties(TFiler& Filer) override;

private:
  WideString title_;
};

class TTestComponent : public TComponent {
  KV_CLASS(TTestComponent, TComponent)
public:
  explicit TTestComponent(TComponent* AOwner);
  ~TTestComponent() override;

  int Count() const { return count_; }
  void SetCount(int v);
  bool Flag() const { return flag_; }
  void SetFlag(bool v) { flag_ = v; }
  TTestMode Mode() const { return mode_; }
  void SetMode(TTestMode v) { mode_ = v; }
  TTestModes Modes() const { return modes_; }
  void SetModes(TTestModes v) { modes_ = v; }
  const AnsiString& Skin() const { return skin_; }
  void SetSkin(const AnsiString& v) { skin_ = v; }
  const WideString& Movie() const { return movie_; }
  void SetMovie(const WideString& v) { movie_ = v; }
  std::int32_t Shade() const { return shade_; }
  void SetShade(std::int32_t v) { shade_ = v; }
  TCollection* Items() const { return items_; }
  TTestComponent* Buddy() const { return buddy_; }
  void SetBuddy(TTestComponent* v);

  TNotifyEvent OnPing;

  void Loaded() override;

  // What happened while reading: set by the property setters and Loaded.
  bool sawReadingInSetter = false;
  bool sawLoadingInLoaded = false;
  bool buddyKnownInLoaded = false;
  static std::vector<WideString> LoadedLog;
  static int Live;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  int count_ = 7;
  bool flag_ = true;
  TTestMode mode_ = tmAlpha;
  TTestModes modes_;
  AnsiString skin_;
  WideString movie_;
  std::int32_t shade_ = 0;
  TCollection* items_;
  TTestComponent* buddy_ = nullptr;
};

// A root with handlers that stored forms may name.
class TTestRoot : public TTestComponent {
  KV_CLASS(TTestRoot, TTestComponent)
public:
  explicit TTestRoot(TComponent* AOwner);
  void Ping(TObject* Sender) { pings.push_back(Sender); }
  void Other(TObject*, int) {}
  std::vector<TObject*> pings;
};

void RegisterTestClasses();
