#include "framework/filer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>

// Stored form layout (all integers little-endian):
//   signature "KVFM", format version byte (1)
//   component  := name(class) name(component) properties children
//   properties := { name(property) value } u16 0
//   children   := { component } u16 0
//   name       := u16 length (1..1024) + UTF-8 bytes (length 0 ends a list)
//   value      := type byte + payload, see ValueType
// docs/framework.md describes the same.

namespace {

constexpr std::uint8_t kSignature[4] = {'K', 'V', 'F', 'M'};
constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kMaxName = 1024;
constexpr int kMaxDepth = 64;

enum ValueType : std::uint8_t {
  vaFalse = 1,
  vaTrue = 2,
  vaInt = 3,         // i64
  vaIdent = 4,       // name: enumeration value, method name, component name
  vaString = 5,      // u32 byte count + 8-bit text
  vaWString = 6,     // u32 code-unit count + UTF-16LE text
  vaSet = 7,         // { name } u16 0
  vaNil = 8,         // no component
  vaBinary = 9,      // u32 byte count + bytes (a defined property)
  vaCollection = 10, // { u8 1, properties } u8 0
  vaObject = 11,     // properties of a sub-object
};

// ---------------------------------------------------------------------------
// Parsed form, before anything is created.
// ---------------------------------------------------------------------------
struct Value;
struct Prop;
using PropList = std::vector<Prop>;

struct Value {
  std::uint8_t type = 0;
  std::int64_t integer = 0;
  WideString text;                  // vaIdent, vaWString
  std::string bytes;                // vaString, vaBinary
  std::vector<WideString> setItems; // vaSet
  std::vector<PropList> items;      // vaCollection
  PropList object;                  // vaObject
};

struct Prop {
  WideString name;
  Value value;
};

struct Node {
  WideString className;
  WideString name;
  PropList props;
  std::vector<Node> children;
};

// Reads the stored bytes with every length checked against what is left.
class Input {
public:
  explicit Input(TStream& s) : stream_(s), left_(s.Remaining()) {}

  [[noreturn]] void Fail(const WideString& what) const {
    throw EReadError(L"Invalid form data at offset " + IntToStr(offsetBase_ + consumed_) + L": " + what);
  }
  void Need(std::uint64_t n, const wchar_t* what) {
    if (n > static_cast<std::uint64_t>(left_))
      Fail(WideString(what) + L" needs " + IntToStr(static_cast<std::int64_t>(std::min<std::uint64_t>(n, INT64_MAX))) +
           L" bytes, " + IntToStr(left_) + L" left");
  }
  void Bytes(void* dst, std::int64_t n, const wchar_t* what) {
    Need(static_cast<std::uint64_t>(n), what);
    if (n > 0 && stream_.Read(dst, n) != n) Fail(L"the stream ended early");
    left_ -= n;
    consumed_ += n;
  }
  std::uint8_t U8(const wchar_t* what) {
    std::uint8_t b;
    Bytes(&b, 1, what);
    return b;
  }
  std::uint16_t U16(const wchar_t* what) {
    std::uint8_t b[2];
    Bytes(b, 2, what);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
  }
  std::uint32_t U32(const wchar_t* what) {
    std::uint8_t b[4];
    Bytes(b, 4, what);
    return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[3]) << 24);
  }
  std::int64_t I64(const wchar_t* what) {
    std::uint64_t lo = U32(what), hi = U32(what);
    return static_cast<std::int64_t>(lo | (hi << 32));
  }
  // A name; empty when the list ends here.
  WideString Name(const wchar_t* what) {
    std::uint16_t n = U16(what);
    if (n == 0) return {};
    if (n > kMaxName) Fail(WideString(what) + L" is " + IntToStr(n) + L" bytes long (at most 1024)");
    std::string utf8(n, '\0');
    Bytes(utf8.data(), n, what);
    return Utf8ToWide(utf8);
  }
  std::string Blob(const wchar_t* what) {
    std::uint32_t n = U32(what);
    Need(n, what);
    std::string data(n, '\0');
    Bytes(data.data(), n, what);
    return data;
  }
  WideString Utf16(const wchar_t* what) {
    std::uint32_t n = U32(what);
    Need(std::uint64_t(n) * 2, what);
    std::u16string units(n, u'\0');
    std::vector<std::uint8_t> raw(std::size_t(n) * 2);
    Bytes(raw.data(), static_cast<std::int64_t>(raw.size()), what);
    for (std::uint32_t i = 0; i < n; ++i) units[i] = static_cast<char16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    return Utf16ToWide(units);
  }
  void SetOffsetBase(std::int64_t base) { offsetBase_ = base; }

private:
  TStream& stream_;
  std::int64_t left_;
  std::int64_t consumed_ = 0;
  std::int64_t offsetBase_ = 0;
};

class Parser {
public:
  explicit Parser(Input& in) : in_(in) {}

  Node Root() {
    std::uint8_t sig[4];
    in_.Bytes(sig, 4, L"the signature");
    if (std::memcmp(sig, kSignature, 4) != 0) in_.Fail(L"not a stored form (bad signature)");
    std::uint8_t version = in_.U8(L"the version");
    if (version != kVersion) in_.Fail(L"unsupported format version " + IntToStr(version));
    Node root;
    root.className = in_.Name(L"the root class name");
    if (root.className.empty()) in_.Fail(L"the root component has no class name");
    ComponentBody(root, 0);
    return root;
  }

private:
  void Depth(int depth) {
    if (depth > kMaxDepth) in_.Fail(L"nesting deeper than " + IntToStr(kMaxDepth) + L" levels");
  }

  void ComponentBody(Node& node, int depth) {
    Depth(depth);
    node.name = in_.Name(L"a component name");
    if (!node.name.empty() && !IsValidIdent(node.name)) in_.Fail(L"'" + node.name + L"' is not a valid component name");
    Properties(node.props, depth);
    for (;;) {
      WideString cls = in_.Name(L"a class name");
      if (cls.empty()) break;
      Node child;
      child.className = std::move(cls);
      ComponentBody(child, depth + 1);
      node.children.push_back(std::move(child));
    }
  }

  void Properties(PropList& list, int depth) {
    Depth(depth);
    for (;;) {
      WideString name = in_.Name(L"a property name");
      if (name.empty()) break;
      Prop p;
      p.name = std::move(name);
      ReadValue(p.value, depth);
      list.push_back(std::move(p));
    }
  }

  void ReadValue(Value& v, int depth) {
    v.type = in_.U8(L"a value type");
    switch (v.type) {
      case vaFalse:
      case vaTrue:
      case vaNil:
        return;
      case vaInt:
        v.integer = in_.I64(L"an integer");
        return;
      case vaIdent:
        v.text = in_.Name(L"an identifier");
        if (v.text.empty()) in_.Fail(L"empty identifier");
        return;
      case vaString:
        v.bytes = in_.Blob(L"a string");
        return;
      case vaWString:
        v.text = in_.Utf16(L"a wide string");
        return;
      case vaBinary:
        v.bytes = in_.Blob(L"binary data");
        return;
      case vaSet:
        for (;;) {
          WideString item = in_.Name(L"a set element");
          if (item.empty()) break;
          v.setItems.push_back(std::move(item));
        }
        return;
      case vaCollection:
        for (;;) {
          std::uint8_t marker = in_.U8(L"a collection item marker");
          if (marker == 0) break;
          if (marker != 1) in_.Fail(L"bad collection item marker " + IntToStr(marker));
          PropList item;
          Properties(item, depth + 1);
          v.items.push_back(std::move(item));
        }
        return;
      case vaObject:
        Properties(v.object, depth + 1);
        return;
      default:
        in_.Fail(L"unknown value type " + IntToStr(v.type));
    }
  }

  Input& in_;
};

const wchar_t* TypeName(std::uint8_t type) {
  switch (type) {
    case vaFalse:
    case vaTrue:
      return L"a boolean";
    case vaInt:
      return L"an integer";
    case vaIdent:
      return L"an identifier";
    case vaString:
      return L"a string";
    case vaWString:
      return L"a wide string";
    case vaSet:
      return L"a set";
    case vaNil:
      return L"nil";
    case vaBinary:
      return L"binary data";
    case vaCollection:
      return L"a collection";
    case vaObject:
      return L"an object";
  }
  return L"an unknown value";
}

// The bytes of one defined property, read-only, so a reader cannot run
// past them into the next property.
class BytesStream : public TCustomMemoryStream {
public:
  explicit BytesStream(std::string& data) { SetPointer(data.data(), static_cast<std::int64_t>(data.size())); }
  std::int64_t Write(const void*, std::int64_t) override { throw EWriteError(L"Stored data cannot be written"); }
};

void WriteName(TStream& s, const WideString& name, const wchar_t* what) {
  std::string utf8 = WideToUtf8(name);
  if (utf8.empty() || utf8.size() > kMaxName)
    throw EWriteError(WideString(what) + L" '" + name + L"' cannot be stored (1 to 1024 bytes)");
  s.WriteUInt16(static_cast<std::uint16_t>(utf8.size()));
  s.WriteBuffer(utf8.data(), static_cast<std::int64_t>(utf8.size()));
}

void WriteBlob(TStream& s, std::uint8_t type, const void* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) throw EWriteError(L"A stored value exceeds 4 GB");
  s.WriteUInt8(type);
  s.WriteUInt32(static_cast<std::uint32_t>(size));
  if (size) s.WriteBuffer(data, static_cast<std::int64_t>(size));
}

void SetFlag(TComponent* c, TComponentStateItem flag, bool on);

}  // namespace

// ---------------------------------------------------------------------------
// TFiler, TWriter
// ---------------------------------------------------------------------------
const TClassInfo& TFiler::StaticClass() {
  static const TClassInfo info = TClassBuilder<TFiler>(L"TFiler");
  return info;
}

struct TWriter::Impl {
  int depth = 0;
};

const TClassInfo& TWriter::StaticClass() {
  static const TClassInfo info = TClassBuilder<TWriter>(L"TWriter");
  return info;
}

TWriter::TWriter(TStream& Stream) : TFiler(Stream), impl_(std::make_unique<Impl>()) {}
TWriter::~TWriter() = default;

namespace {

struct WriterCore {
  TWriter& writer;
  TStream& s;
  TComponent* root;

  bool Resolvable(TComponent* c) const {
    return c && !c->Name().empty() && (c == root || c->Owner() == root);
  }

  void Properties(TPersistent* obj, int depth) {
    if (depth > kMaxDepth) throw EWriteError(L"Objects nested deeper than " + IntToStr(kMaxDepth) + L" levels");
    for (const auto& pp : obj->ClassType().Properties()) {
      const TPropInfo& p = *pp;
      if (!p.IsStored(*obj)) continue;
      switch (p.Kind) {
        case TPropKind::Integer:
        case TPropKind::Color: {
          WriteName(s, p.Name, L"Property");
          s.WriteUInt8(vaInt);
          s.WriteUInt64(static_cast<std::uint64_t>(p.GetOrd(*obj)));
          break;
        }
        case TPropKind::Boolean:
          WriteName(s, p.Name, L"Property");
          s.WriteUInt8(p.GetOrd(*obj) ? vaTrue : vaFalse);
          break;
        case TPropKind::Enum: {
          std::int64_t v = p.GetOrd(*obj);
          const WideString* n = p.EnumType ? p.EnumType->NameOf(v) : nullptr;
          if (!n)
            throw EWriteError(L"Property " + p.Name + L" of " + obj->ClassName() + L" holds " + IntToStr(v) +
                              L", which has no name");
          WriteName(s, p.Name, L"Property");
          s.WriteUInt8(vaIdent);
          WriteName(s, *n, L"Value");
          break;
        }
        case TPropKind::Set: {
          std::int64_t bits = p.GetOrd(*obj);
          WriteName(s, p.Name, L"Property");
          s.WriteUInt8(vaSet);
          for (int i = 0; i < 32; ++i) {
            if (!(bits & (std::int64_t(1) << i))) continue;
            const WideString* n = p.EnumType ? p.EnumType->NameOf(i) : nullptr;
            if (!n) throw EWriteError(L"Property " + p.Name + L" holds an element without a name");
            WriteName(s, *n, L"Set element");
          }
          s.WriteUInt16(0);
          break;
        }
        case TPropKind::String: {
          AnsiString v = p.GetAnsi(*obj);
          WriteName(s, p.Name, L"Property");
          WriteBlob(s, vaString, v.data(), v.size());
          break;
        }
        case TPropKind::WideString: {
          std::u16string v = WideToUtf16(p.GetWide(*obj));
          std::string raw(v.size() * 2, '\0');
          for (std::size_t i = 0; i < v.size(); ++i) {
            raw[2 * i] = static_cast<char>(v[i] & 0xFF);
            raw[2 * i + 1] = static_cast<char>(v[i] >> 8);
          }
          if (v.size() > 0xFFFFFFFFu) throw EWriteError(L"A stored value exceeds 4 GB");
          WriteName(s, p.Name, L"Property");
          s.WriteUInt8(vaWString);
          s.WriteUInt32(static_cast<std::uint32_t>(v.size()));
          if (!raw.empty()) s.WriteBuffer(raw.data(), static_cast<std::int64_t>(raw.size()));
          break;
        }
        case TPropKind::Component: {
          auto* c = dynamic_cast<TComponent*>(p.GetObj(*obj));
          // A reference that a reader could not resolve within this form is left out.
          if (!Resolvable(c)) break;
          WriteName(s, p.Name, L"Property");
          s.WriteUInt8(vaIdent);
          WriteName(s, c->Name(), L"Component name");
          break;
        }
        case TPropKind::Event:
          WriteName(s, p.Name, L"Property");
          s.WriteUInt8(vaIdent);
          WriteName(s, p.EventName(*obj), L"Method name");
          break;
        case TPropKind::Persistent: {
          auto* sub = dynamic_cast<TPersistent*>(p.GetObj(*obj));
          if (!sub) break;
          WriteName(s, p.Name, L"Property");
          s.WriteUInt8(vaObject);
          Properties(sub, depth + 1);
          break;
        }
        case TPropKind::Collection: {
          auto* c = dynamic_cast<TCollection*>(p.GetObj(*obj));
          if (!c) break;
          WriteName(s, p.Name, L"Property");
          s.WriteUInt8(vaCollection);
          for (int i = 0; i < c->Count(); ++i) {
            s.WriteUInt8(1);
            Properties(c->Items(i), depth + 1);
          }
          s.WriteUInt8(0);
          break;
        }
      }
    }
    DefineProperties(obj);
    s.WriteUInt16(0);
  }

  void DefineProperties(TPersistent* obj);

  void Component(TComponent* c, int depth) {
    if (depth > kMaxDepth) throw EWriteError(L"Components nested deeper than " + IntToStr(kMaxDepth) + L" levels");
    SetFlag(c, csWriting, true);
    try {
      WriteName(s, c->ClassName(), L"Class name");
      std::string name = WideToUtf8(c->Name());
      if (name.size() > kMaxName) throw EWriteError(L"Component name too long");
      s.WriteUInt16(static_cast<std::uint16_t>(name.size()));
      if (!name.empty()) s.WriteBuffer(name.data(), static_cast<std::int64_t>(name.size()));
      Properties(c, depth);
      c->GetChildren([&](TComponent* child) { Component(child, depth + 1); }, root);
      s.WriteUInt16(0);
    } catch (...) {
      SetFlag(c, csWriting, false);
      throw;
    }
    SetFlag(c, csWriting, false);
  }
};

}  // namespace

// The writer forwards DefineBinaryProperty calls to the property list being written.
namespace {
thread_local WriterCore* g_writerCore = nullptr;
}

void WriterCore::DefineProperties(TPersistent* obj) {
  WriterCore* saved = g_writerCore;
  g_writerCore = this;
  try {
    struct Access : TPersistent {
      static void Define(TPersistent* o, TFiler& f) { (o->*(&Access::DefineProperties))(f); }
    };
    Access::Define(obj, writer);
  } catch (...) {
    g_writerCore = saved;
    throw;
  }
  g_writerCore = saved;
}

void TWriter::DefineBinaryProperty(const WideString& Name, TStreamProc, TStreamProc WriteData, bool HasData) {
  if (!HasData || !WriteData) return;
  if (!g_writerCore) throw EWriteError(L"DefineBinaryProperty called outside DefineProperties");
  TMemoryStream data;
  WriteData(data);
  WriteName(*stream_, Name, L"Property");
  WriteBlob(*stream_, vaBinary, data.Memory(), static_cast<std::size_t>(data.Size()));
}

void TWriter::WriteRootComponent(TComponent* Root) {
  if (!Root) throw EWriteError(L"No component to write");
  root_ = Root;
  stream_->WriteBuffer(kSignature, 4);
  stream_->WriteUInt8(kVersion);
  WriterCore core{*this, *stream_, Root};
  core.Component(Root, 0);
}

// ---------------------------------------------------------------------------
// TReader
// ---------------------------------------------------------------------------
struct TReader::Impl {
  struct Definition {
    TStreamProc read;
  };
  std::map<WideString, Definition, bool (*)(const WideString&, const WideString&)> defined{
      [](const WideString& a, const WideString& b) { return CompareText(a, b) < 0; }};
  bool collecting = false;
};

const TClassInfo& TReader::StaticClass() {
  static const TClassInfo info = TClassBuilder<TReader>(L"TReader");
  return info;
}

TReader::TReader(TStream& Stream) : TFiler(Stream), impl_(std::make_unique<Impl>()) {}
TReader::~TReader() = default;

void TReader::DefineBinaryProperty(const WideString& Name, TStreamProc ReadData, TStreamProc, bool) {
  if (!impl_->collecting) throw EReadError(L"DefineBinaryProperty called outside DefineProperties");
  if (ReadData) impl_->defined[Name] = Impl::Definition{std::move(ReadData)};
}

namespace {

void SetFlag(TComponent* c, TComponentStateItem flag, bool on) {
  struct Access : TComponent {
    static void Set(TComponent* x, TComponentStateItem f, bool v) {
      (x->*(&Access::SetComponentStateFlag))(f, v);
    }
  };
  Access::Set(c, flag, on);
}

bool ClassChainHasName(const TClassInfo& cls, const WideString& name) {
  for (const TClassInfo* c = &cls; c; c = c->Parent())
    if (SameText(c->ClassName(), name)) return true;
  return false;
}

struct Fixup {
  TObject* object;
  const TPropInfo* prop;
  WideString target;
  WideString where;
};

class Builder {
public:
  Builder(TReader& reader, TReader::Impl& impl, TComponent* root) : reader_(reader), impl_(impl), root_(root) {}

  std::vector<TComponent*> created;  // by this read, in creation order
  std::vector<TComponent*> loading;  // every component read, in reading order
  std::vector<Fixup> fixups;

  // Checks what can be checked before anything changes: classes exist and
  // can be created, names are unique, properties exist with fitting types.
  void Validate(const Node& node, const TClassInfo& cls, bool isRoot, std::vector<WideString>& names) {
    if (!isRoot && !node.name.empty()) {
      for (const auto& n : names)
        if (SameText(n, node.name)) throw EReadError(L"A component named " + node.name + L" already exists");
      names.push_back(node.name);
    }
    for (const Prop& p : node.props) {
      if (p.value.type == vaBinary) continue;  // defined by the instance; checked when read
      const TPropInfo* info = cls.FindProperty(p.name);
      if (!info) throw EReadError(L"Error reading " + Where(node) + L"." + p.name + L": property does not exist");
      CheckType(*info, p.value, Where(node));
      if (info->Kind == TPropKind::Event && !root_->FindMethod(p.value.text))
        throw EReadError(L"Error reading " + Where(node) + L"." + p.name + L": method " + p.value.text +
                         L" not found in " + root_->ClassName());
    }
    for (const Node& child : node.children) {
      const TClassInfo* childCls = GetClass(child.className);
      if (!childCls) throw EClassNotFound(L"Class " + child.className + L" not found");
      TComponent* existing = child.name.empty() ? nullptr : root_->FindComponent(child.name);
      if (existing) {
        if (!ClassChainHasName(existing->ClassType(), child.className))
          throw EReadError(L"Component " + child.name + L" is a " + existing->ClassName() + L", not a " +
                           child.className);
      } else if (!childCls->CanCreateComponent()) {
        throw EReadError(L"Class " + child.className + L" cannot be created");
      }
      Validate(child, existing ? existing->ClassType() : *childCls, false, names);
    }
  }

  void Apply(const Node& node, TComponent* instance, bool isRoot) {
    SetFlag(instance, csLoading, true);
    loading.push_back(instance);
    SetFlag(instance, csReading, true);
    try {
      if (!node.name.empty() && instance->Name() != node.name) instance->SetName(node.name);
      ApplyProps(instance, node.props, Where(node), 0);
    } catch (...) {
      SetFlag(instance, csReading, false);
      throw;
    }
    SetFlag(instance, csReading, false);
    (void)isRoot;
    for (const Node& child : node.children) {
      TComponent* c = child.name.empty() ? nullptr : root_->FindComponent(child.name);
      if (!c) {
        const TClassInfo& cls = FindClass(child.className);
        c = cls.CreateComponent(root_);
        created.push_back(c);
        SetFlag(c, csLoading, true);
      }
      c->SetParentComponent(instance);
      Apply(child, c, false);
    }
  }

  void ResolveFixups() {
    for (const Fixup& f : fixups) {
      TComponent* target = SameText(root_->Name(), f.target) ? root_ : root_->FindComponent(f.target);
      if (!target || !target->InheritsFrom(*f.prop->ClassType()))
        throw EReadError(L"Error reading " + f.where + L"." + f.prop->Name + L": no component named " + f.target);
      f.prop->SetObj(*f.object, target);
    }
  }

private:
  static WideString Where(const Node& node) { return node.name.empty() ? node.className : node.name; }

  static void CheckType(const TPropInfo& info, const Value& v, const WideString& where) {
    bool ok = false;
    switch (info.Kind) {
      case TPropKind::Integer:
      case TPropKind::Color:
        ok = v.type == vaInt;
        break;
      case TPropKind::Boolean:
        ok = v.type == vaFalse || v.type == vaTrue;
        break;
      case TPropKind::Enum:
        ok = v.type == vaIdent;
        if (ok && !(info.EnumType && info.EnumType->ValueOf(v.text)))
          throw EReadError(L"Error reading " + where + L"." + info.Name + L": invalid value " + v.text);
        break;
      case TPropKind::Set:
        ok = v.type == vaSet;
        if (ok)
          for (const auto& item : v.setItems) {
            auto e = info.EnumType ? info.EnumType->ValueOf(item) : std::nullopt;
            if (!e || *e < 0 || *e > 31)
              throw EReadError(L"Error reading " + where + L"." + info.Name + L": invalid set element " + item);
          }
        break;
      case TPropKind::String:
        ok = v.type == vaString;
        break;
      case TPropKind::WideString:
        ok = v.type == vaWString;
        break;
      case TPropKind::Component:
        ok = v.type == vaIdent || v.type == vaNil;
        break;
      case TPropKind::Event:
        ok = v.type == vaIdent;
        break;
      case TPropKind::Persistent:
        ok = v.type == vaObject;
        break;
      case TPropKind::Collection:
        ok = v.type == vaCollection;
        break;
    }
    if (!ok)
      throw EReadError(L"Error reading " + where + L"." + info.Name + L": " + TypeName(v.type) +
                       L" does not fit this property");
  }

  void ApplyProps(TPersistent* obj, const PropList& props, const WideString& where, int depth) {
    // The binary properties the object defines, collected on first need.
    bool defsCollected = false;
    decltype(impl_.defined) defs(impl_.defined.key_comp());
    for (const Prop& p : props) {
      try {
        if (p.value.type == vaBinary) {
          if (!defsCollected) {
            defs = CollectDefinitions(obj);
            defsCollected = true;
          }
          auto it = defs.find(p.name);
          if (it == defs.end()) throw EReadError(L"property does not exist");
          std::string data = p.value.bytes;
          BytesStream view(data);
          it->second.read(view);
          continue;
        }
        const TPropInfo* info = obj->ClassType().FindProperty(p.name);
        if (!info) throw EReadError(L"property does not exist");
        CheckType(*info, p.value, where);
        ApplyValue(obj, *info, p.value, where, depth);
      } catch (const EReadError& e) {
        if (e.Message().rfind(L"Error reading ", 0) == 0) throw;
        throw EReadError(L"Error reading " + where + L"." + p.name + L": " + e.Message());
      } catch (const EClassNotFound&) {
        throw;
      } catch (const Exception& e) {
        throw EReadError(L"Error reading " + where + L"." + p.name + L": " + e.Message());
      } catch (const std::exception& e) {
        throw EReadError(L"Error reading " + where + L"." + p.name + L": " + Utf8ToWide(e.what()));
      }
    }
  }

  decltype(TReader::Impl::defined) CollectDefinitions(TPersistent* obj) {
    impl_.defined.clear();
    impl_.collecting = true;
    try {
      struct Access : TPersistent {
        static void Define(TPersistent* o, TFiler& f) { (o->*(&Access::DefineProperties))(f); }
      };
      Access::Define(obj, reader_);
    } catch (...) {
      impl_.collecting = false;
      throw;
    }
    impl_.collecting = false;
    auto result = std::move(impl_.defined);
    impl_.defined.clear();
    return result;
  }

  void ApplyValue(TPersistent* obj, const TPropInfo& info, const Value& v, const WideString& where, int depth) {
    if (depth > kMaxDepth) throw EReadError(L"objects nested too deeply");
    switch (info.Kind) {
      case TPropKind::Integer:
      case TPropKind::Color:
        info.SetOrd(*obj, v.integer);
        return;
      case TPropKind::Boolean:
        info.SetOrd(*obj, v.type == vaTrue ? 1 : 0);
        return;
      case TPropKind::Enum:
        info.SetOrd(*obj, *info.EnumType->ValueOf(v.text));
        return;
      case TPropKind::Set: {
        std::int64_t bits = 0;
        for (const auto& item : v.setItems) bits |= std::int64_t(1) << *info.EnumType->ValueOf(item);
        info.SetOrd(*obj, bits);
        return;
      }
      case TPropKind::String:
        info.SetAnsi(*obj, v.bytes);
        return;
      case TPropKind::WideString:
        info.SetWide(*obj, v.text);
        return;
      case TPropKind::Component:
        if (v.type == vaNil)
          info.SetObj(*obj, nullptr);
        else
          fixups.push_back(Fixup{obj, &info, v.text, where});
        return;
      case TPropKind::Event: {
        const TMethodEntry* m = root_->FindMethod(v.text);
        if (!m) throw EReadError(L"method " + v.text + L" not found in " + root_->ClassName());
        info.SetEvent(*obj, m);
        return;
      }
      case TPropKind::Persistent: {
        auto* sub = dynamic_cast<TPersistent*>(info.GetObj(*obj));
        if (!sub) throw EReadError(L"the object has no " + info.Name + L" to read into");
        ApplyProps(sub, v.object, where + L"." + info.Name, depth + 1);
        return;
      }
      case TPropKind::Collection: {
        auto* c = dynamic_cast<TCollection*>(info.GetObj(*obj));
        if (!c) throw EReadError(L"the object has no collection to read into");
        c->BeginUpdate();
        try {
          c->Clear();
          for (std::size_t i = 0; i < v.items.size(); ++i) {
            TCollectionItem* item = c->Add();
            ApplyProps(item, v.items[i], where + L"." + info.Name + L"[" + IntToStr(static_cast<std::int64_t>(i)) + L"]",
                       depth + 1);
          }
        } catch (...) {
          c->EndUpdate();
          throw;
        }
        c->EndUpdate();
        return;
      }
    }
  }

  TReader& reader_;
  TReader::Impl& impl_;
  TComponent* root_;
};

}  // namespace

TComponent* TReader::ReadRootComponent(TComponent* Root, TComponent* Owner) {
  Input in(*stream_);
  in.SetOffsetBase(stream_->Position());
  Node tree = Parser(in).Root();

  bool ownRoot = false;
  if (Root) {
    if (!ClassChainHasName(Root->ClassType(), tree.className))
      throw EReadError(L"The stored form holds a " + tree.className + L", not a " + Root->ClassName());
  } else {
    const TClassInfo& cls = FindClass(tree.className);
    if (!cls.CanCreateComponent()) throw EReadError(L"Class " + tree.className + L" cannot be created");
  }

  // A new root is made before validation: its methods (none yet) and class
  // decide what the data may name. An existing root validates as it is.
  if (!Root) {
    Root = FindClass(tree.className).CreateComponent(Owner);
    ownRoot = true;
  }
  root_ = Root;
  Builder builder(*this, *impl_, Root);
  std::vector<WideString> names;
  try {
    builder.Validate(tree, Root->ClassType(), true, names);
    builder.Apply(tree, Root, true);
    builder.ResolveFixups();
  } catch (...) {
    // Undo what this read made; the root keeps the values already set.
    for (auto it = builder.created.rbegin(); it != builder.created.rend(); ++it) {
      try {
        Free(*it);
      } catch (...) {
      }
    }
    for (TComponent* c : builder.loading) {
      bool wasCreated = std::find(builder.created.begin(), builder.created.end(), c) != builder.created.end();
      if (!wasCreated) {
        SetFlag(c, csLoading, false);
        SetFlag(c, csReading, false);
      }
    }
    if (ownRoot) {
      try {
        Free(Root);
      } catch (...) {
      }
    }
    root_ = nullptr;
    throw;
  }

  // Everything exists and every property is set: now each component may
  // act on its settings. A failing Loaded does not keep the others from running.
  std::exception_ptr first;
  for (TComponent* c : builder.loading) {
    try {
      c->Loaded();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
    SetFlag(c, csLoading, false);
  }
  if (first) std::rethrow_exception(first);
  return Root;
}

void WriteComponent(TStream& Stream, TComponent* Root) {
  TWriter writer(Stream);
  writer.WriteRootComponent(Root);
}

TComponent* ReadComponent(TStream& Stream, TComponent* Root, TComponent* Owner) {
  TReader reader(Stream);
  return reader.ReadRootComponent(Root, Owner);
}
