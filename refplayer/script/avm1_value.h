// Script values and objects of the AVM1 interpreter.
//
// Objects live in a heap owned by the interpreter and are reclaimed by a
// mark-and-sweep collector that runs only between top-level entries (never
// while script or a native is running), so natives may hold raw Object*
// freely during a call. Anything kept across entries by code outside the
// interpreter (a clip's variables) is held through an ObjectRef, which pins it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace refplayer::avm1 {

class Object;
class Heap;

// An immutable shared string: values are copied around the operand stack a
// lot, and copying a pointer keeps that cheap however long the text is.
class Str {
public:
    Str();
    Str(std::string text);  // NOLINT: implicit on purpose, values are built from text everywhere
    Str(std::string_view text) : Str(std::string(text)) {}
    Str(const char* text) : Str(std::string(text)) {}
    const std::string& str() const { return *text_; }
    std::string_view view() const { return *text_; }
    size_t size() const { return text_->size(); }
    bool empty() const { return text_->empty(); }
    bool operator==(const Str& other) const { return text_ == other.text_ || *text_ == *other.text_; }

private:
    std::shared_ptr<const std::string> text_;
};

class Value {
public:
    enum class Type : uint8_t { Undefined, Null, Boolean, Number, String, Object, Clip };

    Value() = default;
    static Value undefined() { return Value(); }
    static Value null() { Value v; v.type_ = Type::Null; return v; }
    static Value boolean(bool b) { Value v; v.type_ = Type::Boolean; v.b_ = b; return v; }
    static Value number(double n) { Value v; v.type_ = Type::Number; v.n_ = n; return v; }
    static Value string(Str s) { Value v; v.type_ = Type::String; v.s_ = std::move(s); return v; }
    static Value object(Object* o);  // null pointer gives null
    // A movie clip reference, held as the clip's dot target path ("_level0.a.b").
    static Value clip(Str targetPath) { Value v; v.type_ = Type::Clip; v.s_ = std::move(targetPath); return v; }

    Type type() const { return type_; }
    bool isUndefined() const { return type_ == Type::Undefined; }
    bool isNull() const { return type_ == Type::Null; }
    bool isNullish() const { return type_ == Type::Undefined || type_ == Type::Null; }
    bool isBoolean() const { return type_ == Type::Boolean; }
    bool isNumber() const { return type_ == Type::Number; }
    bool isString() const { return type_ == Type::String; }
    bool isObject() const { return type_ == Type::Object; }
    bool isClip() const { return type_ == Type::Clip; }
    bool isPrimitive() const { return type_ != Type::Object && type_ != Type::Clip; }

    // Raw payloads; valid only for the matching type.
    bool boolValue() const { return b_; }
    double numberValue() const { return n_; }
    const Str& stringValue() const { return s_; }   // String, and Clip (its path)
    Object* objectValue() const { return type_ == Type::Object ? o_ : nullptr; }

private:
    Type type_ = Type::Undefined;
    union {
        bool b_;
        double n_ = 0;
        Object* o_;
    };
    Str s_;
};

// Property attributes, as ASSetPropFlags numbers them.
enum PropertyFlags : uint8_t { kDontEnum = 1, kDontDelete = 2, kReadOnly = 4 };

struct Property {
    Value value;
    Object* getter = nullptr;  // an accessor property (addProperty) has a getter and maybe a setter
    Object* setter = nullptr;
    uint8_t flags = 0;
    bool isAccessor() const { return getter != nullptr; }
};

// Extra state a native class keeps on its instances (the video player, say).
class NativeData {
public:
    virtual ~NativeData() = default;
    // Reports every script value the data holds, so the collector keeps them.
    virtual void markValues(void (*mark)(void* context, const Value& value), void* context) const {
        (void)mark; (void)context;
    }
};

struct ScriptFunction;
struct NativeFunction;

class Object {
public:
    enum class Kind : uint8_t {
        Plain,
        Array,
        Function,  // script or native; see script()/native()
        Super,     // the `super` of a method: members from the parent prototype, calls with the method's `this`
        Boxed,     // new String/Number/Boolean(...): primitive()
        Date,      // new Date(...): primitive() is its time value (a number, NaN when invalid)
    };

    Kind kind() const { return kind_; }
    bool isArray() const { return kind_ == Kind::Array; }
    bool isFunction() const { return kind_ == Kind::Function; }

    Object* proto() const { return proto_; }
    void setProto(Object* proto) { proto_ = proto; }

    // --- own named properties, kept in insertion order -----------------------
    Property* findOwn(std::string_view key, bool caseSensitive = true);
    const Property* findOwn(std::string_view key, bool caseSensitive = true) const {
        return const_cast<Object*>(this)->findOwn(key, caseSensitive);
    }
    // Creates or overwrites (ignores ReadOnly: that is the caller's rule).
    Property& setOwn(std::string_view key, Value value, uint8_t flags = 0, bool caseSensitive = true);
    bool removeOwn(std::string_view key, bool caseSensitive = true);
    size_t ownCount() const { return live_; }
    // Visits own properties in insertion order: fn(key, property).
    template <typename Fn>
    void forEachOwn(Fn&& fn) const {
        for (const auto& slot : slots_)
            if (slot.live) fn(std::string_view(slot.key), slot.prop);
    }
    std::vector<std::string> ownKeys() const;

    // --- arrays -------------------------------------------------------------
    // Dense elements; `length` may run past them (elements beyond read as
    // undefined or come from named properties like "1000000").
    std::vector<Value>& elements() { return elements_; }
    const std::vector<Value>& elements() const { return elements_; }
    uint32_t length() const { return length_; }
    void setLength(uint32_t length) { length_ = length; }

    // --- functions, super, boxed primitives -----------------------------------
    ScriptFunction* script() const { return script_.get(); }
    NativeFunction* native() const { return native_.get(); }
    const Value& superThis() const { return primitive_; }   // Kind::Super
    Object* superProto() const { return superProto_; }     // Kind::Super
    const Value& primitive() const { return primitive_; }   // Kind::Boxed, Kind::Date

    NativeData* nativeData() const { return data_.get(); }
    void setNativeData(std::unique_ptr<NativeData> data) { data_ = std::move(data); }

    ~Object();

private:
    friend class Heap;
    Object();

    struct Slot {
        std::string key;
        Property prop;
        bool live = true;
    };
    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    void compact();
    void rebuildLowerIndex();

    Kind kind_ = Kind::Plain;
    bool marked_ = false;
    uint32_t pins_ = 0;
    uint32_t length_ = 0;
    Object* proto_ = nullptr;
    Object* superProto_ = nullptr;
    std::vector<Slot> slots_;
    size_t live_ = 0;
    std::unordered_map<std::string, uint32_t, KeyHash, std::equal_to<>> index_;
    // Built on the first case-insensitive lookup (movies before SWF 7), kept after.
    std::unique_ptr<std::unordered_map<std::string, uint32_t, KeyHash, std::equal_to<>>> lowerIndex_;
    std::vector<Value> elements_;
    Value primitive_;
    std::unique_ptr<ScriptFunction> script_;
    std::unique_ptr<NativeFunction> native_;
    std::unique_ptr<NativeData> data_;
};

// A pinned reference to an object: the collector keeps it and everything it
// reaches. Safe to outlive the interpreter (the heap stays until the last one goes).
class ObjectRef {
public:
    ObjectRef() = default;
    ObjectRef(std::shared_ptr<Heap> heap, Object* object);
    ObjectRef(ObjectRef&& other) noexcept;
    ObjectRef& operator=(ObjectRef&& other) noexcept;
    ObjectRef(const ObjectRef&) = delete;
    ObjectRef& operator=(const ObjectRef&) = delete;
    ~ObjectRef();
    Object* get() const { return object_; }
    Object* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void reset();

private:
    std::shared_ptr<Heap> heap_;
    Object* object_ = nullptr;
};

}  // namespace refplayer::avm1
