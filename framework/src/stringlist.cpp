#include <algorithm>

#include "framework/classes.h"

const TClassInfo& TStringList::StaticClass() {
  static const TClassInfo info = TClassBuilder<TStringList>(L"TStringList");
  return info;
}

TStringList::~TStringList() {
  if (ownsObjects_)
    for (auto& item : items_) delete std::exchange(item.object, nullptr);
}

void TStringList::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit) throw EListError(L"List index out of bounds (" + IntToStr(index) + L")");
}

int TStringList::Compare(std::wstring_view a, std::wstring_view b) const {
  return caseSensitive_ ? AnsiCompareStr(a, b) : AnsiCompareText(a, b);
}

void TStringList::Changed() { OnChange(this); }

const WideString& TStringList::Strings(int Index) const {
  CheckIndex(Index, Count());
  return items_[static_cast<std::size_t>(Index)].text;
}

void TStringList::Put(int Index, const WideString& S) {
  if (sorted_) throw EListError(L"Operation not allowed on sorted list");
  CheckIndex(Index, Count());
  items_[static_cast<std::size_t>(Index)].text = S;
  Changed();
}

TObject* TStringList::Objects(int Index) const {
  CheckIndex(Index, Count());
  return items_[static_cast<std::size_t>(Index)].object;
}

void TStringList::PutObject(int Index, TObject* Obj) {
  CheckIndex(Index, Count());
  items_[static_cast<std::size_t>(Index)].object = Obj;
  Changed();
}

int TStringList::Add(const WideString& S) { return AddObject(S, nullptr); }

int TStringList::AddObject(const WideString& S, TObject* Obj) {
  int index = Count();
  if (sorted_) {
    if (Find(S, index)) {
      switch (duplicates_) {
        case dupIgnore:
          return index;
        case dupError:
          throw EListError(L"String list does not allow duplicates");
        case dupAccept:
          break;
      }
    }
  }
  items_.insert(items_.begin() + index, Item{S, Obj});
  Changed();
  return index;
}

void TStringList::Insert(int Index, const WideString& S) { InsertObject(Index, S, nullptr); }

void TStringList::InsertObject(int Index, const WideString& S, TObject* Obj) {
  if (sorted_) throw EListError(L"Operation not allowed on sorted list");
  CheckIndex(Index, Count() + 1);
  items_.insert(items_.begin() + Index, Item{S, Obj});
  Changed();
}

void TStringList::Delete(int Index) {
  CheckIndex(Index, Count());
  TObject* obj = items_[static_cast<std::size_t>(Index)].object;
  items_.erase(items_.begin() + Index);
  if (ownsObjects_) delete obj;
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  std::vector<Item> old;
  old.swap(items_);
  if (ownsObjects_)
    for (auto& item : old) delete item.object;
  Changed();
}

void TStringList::Exchange(int Index1, int Index2) {
  if (sorted_) throw EListError(L"Operation not allowed on sorted list");
  CheckIndex(Index1, Count());
  CheckIndex(Index2, Count());
  std::swap(items_[static_cast<std::size_t>(Index1)], items_[static_cast<std::size_t>(Index2)]);
  Changed();
}

int TStringList::IndexOf(std::wstring_view S) const {
  if (sorted_) {
    int index;
    return Find(S, index) ? index : -1;
  }
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (Compare(items_[i].text, S) == 0) return static_cast<int>(i);
  return -1;
}

int TStringList::IndexOfObject(const TObject* Obj) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].object == Obj) return static_cast<int>(i);
  return -1;
}

bool TStringList::Find(std::wstring_view S, int& Index) const {
  // On an unsorted list this still answers a position, as a binary search would.
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = lo + (hi - lo) / 2;
    int c = Compare(items_[static_cast<std::size_t>(mid)].text, S);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != dupAccept) lo = mid;
      }
    }
  }
  Index = lo;
  return found;
}

void TStringList::SetCaseSensitive(bool Value) {
  if (Value == caseSensitive_) return;
  caseSensitive_ = Value;
  if (sorted_) Sort();
}

void TStringList::SetSorted(bool Value) {
  if (Value == sorted_) return;
  if (Value) Sort();
  sorted_ = Value;
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& a, const Item& b) { return Compare(a.text, b.text) < 0; });
  Changed();
}

WideString TStringList::Text() const {
  WideString out;
  for (const auto& item : items_) {
    out += item.text;
    out += L"\r\n";
  }
  return out;
}

void TStringList::SetText(std::wstring_view Value) {
  std::vector<Item> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < Value.size(); ++i) {
    if (Value[i] == L'\r' || Value[i] == L'\n') {
      lines.push_back(Item{WideString(Value.substr(start, i - start)), nullptr});
      if (Value[i] == L'\r' && i + 1 < Value.size() && Value[i + 1] == L'\n') ++i;
      start = i + 1;
    }
  }
  if (start < Value.size()) lines.push_back(Item{WideString(Value.substr(start)), nullptr});
  Clear();
  if (sorted_) {
    for (auto& line : lines) AddObject(line.text, nullptr);
  } else {
    items_ = std::move(lines);
    Changed();
  }
}

void TStringList::Assign(TPersistent* Source) {
  auto* src = dynamic_cast<TStringList*>(Source);
  if (!src) {
    TPersistent::Assign(Source);
    return;
  }
  if (src == this) return;
  Clear();
  for (const auto& item : src->items_) {
    if (sorted_)
      AddObject(item.text, item.object);
    else
      items_.push_back(item);
  }
  Changed();
}
