// Fuzzes the form reader. Input byte 0 picks the mode: raw bytes as the
// stored form, or edits (offset, value pairs, then a cut) applied to a valid
// stored form, which reaches far deeper than random bytes do. Rules checked:
// only EReadError/EClassNotFound escape, a failed read leaves no component
// or item alive, and whatever reads back writes and reads again identically.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/filer.h"
#include "test_components.h"

namespace {

std::string ValidForm() {
  auto* root = new TTestRoot(nullptr);
  root->SetName(L"Form1");
  root->SetCount(3);
  auto* a = new TTestComponent(root);
  a->SetName(L"A");
  a->SetModes({tmBeta});
  a->SetMovie(L"m\u00E9.swf");
  a->OnPing = root->MethodByName<TNotifyEvent>(L"Ping");
  auto* item = static_cast<TTestItem*>(a->Items()->Add());
  item->SetTitle(L"x.swf");
  item->Data = "FWS";
  auto* b = new TTestComponent(root);
  b->SetName(L"B");
  b->SetBuddy(a);
  a->SetBuddy(b);
  TMemoryStream s;
  WriteComponent(s, root);
  Free(root);
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

std::string Write(TComponent* root) {
  TMemoryStream s;
  WriteComponent(s, root);
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string valid = (RegisterTestClasses(), ValidForm());
  if (size == 0) return 0;
  std::string input;
  if (data[0] & 1) {
    input = valid;
    std::size_t i = 1;
    for (; i + 2 < size; i += 3) input[((data[i] << 8) | data[i + 1]) % input.size()] = static_cast<char>(data[i + 2]);
    if (i < size) input.resize(input.size() - data[i] % 8 * (data[i] & 1));
  } else {
    input.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  }

  const int liveComponents = TTestComponent::Live, liveItems = TTestItem::Live;
  TMemoryStream s;
  s.WriteBuffer(input.data(), static_cast<std::int64_t>(input.size()));
  s.SetPosition(0);
  TComponent* root = nullptr;
  try {
    root = ReadComponent(s);
  } catch (const EReadError&) {
  } catch (const EClassNotFound&) {
  }
  if (!root) {
    if (TTestComponent::Live != liveComponents || TTestItem::Live != liveItems) std::abort();
    return 0;
  }
  std::string once = Write(root);
  Free(root);
  TMemoryStream again;
  again.WriteBuffer(once.data(), static_cast<std::int64_t>(once.size()));
  again.SetPosition(0);
  TComponent* second = ReadComponent(again);  // must not throw: we wrote it
  if (Write(second) != once) std::abort();
  Free(second);
  if (TTestComponent::Live != liveComponents || TTestItem::Live != liveItems) std::abort();
  return 0;
}
