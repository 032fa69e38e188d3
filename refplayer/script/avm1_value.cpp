#include "avm1_value.h"

#include <algorithm>
#include <utility>

#include "avm1_internal.h"

namespace refplayer::avm1 {

namespace {
const std::shared_ptr<const std::string>& emptyText() {
    static const auto empty = std::make_shared<const std::string>();
    return empty;
}
}  // namespace

Str::Str() : text_(emptyText()) {}
Str::Str(std::string text)
    : text_(text.empty() ? emptyText() : std::make_shared<const std::string>(std::move(text))) {}

Value Value::object(Object* o) {
    if (!o) return null();
    Value v;
    v.type_ = Type::Object;
    v.o_ = o;
    return v;
}

// --- Object -------------------------------------------------------------------

Object::Object() = default;
Object::~Object() = default;

Property* Object::findOwn(std::string_view key, bool caseSensitive) {
    if (auto it = index_.find(key); it != index_.end()) return &slots_[it->second].prop;
    if (caseSensitive || live_ == 0) return nullptr;
    if (!lowerIndex_) rebuildLowerIndex();
    if (auto it = lowerIndex_->find(lowerAscii(key)); it != lowerIndex_->end()) return &slots_[it->second].prop;
    return nullptr;
}

Property& Object::setOwn(std::string_view key, Value value, uint8_t flags, bool caseSensitive) {
    if (Property* p = findOwn(key, caseSensitive)) {
        p->value = std::move(value);
        p->getter = p->setter = nullptr;
        p->flags = flags;
        return *p;
    }
    const auto at = static_cast<uint32_t>(slots_.size());
    slots_.push_back(Slot{std::string(key), Property{std::move(value), nullptr, nullptr, flags}, true});
    index_.emplace(slots_.back().key, at);
    if (lowerIndex_) lowerIndex_->emplace(lowerAscii(key), at);
    ++live_;
    return slots_.back().prop;
}

bool Object::removeOwn(std::string_view key, bool caseSensitive) {
    uint32_t at;
    if (auto it = index_.find(key); it != index_.end()) {
        at = it->second;
    } else {
        if (caseSensitive || live_ == 0) return false;
        if (!lowerIndex_) rebuildLowerIndex();
        auto lit = lowerIndex_->find(lowerAscii(key));
        if (lit == lowerIndex_->end()) return false;
        at = lit->second;
    }
    Slot& slot = slots_[at];
    index_.erase(slot.key);
    slot.live = false;
    slot.prop = Property{};
    --live_;
    if (lowerIndex_) {
        // Another property may share the folded name: rebuild rather than guess.
        lowerIndex_.reset();
    }
    if (slots_.size() > 16 && live_ < slots_.size() / 2) compact();
    return true;
}

std::vector<std::string> Object::ownKeys() const {
    std::vector<std::string> keys;
    keys.reserve(live_);
    for (const auto& slot : slots_)
        if (slot.live) keys.push_back(slot.key);
    return keys;
}

void Object::compact() {
    std::vector<Slot> kept;
    kept.reserve(live_);
    for (auto& slot : slots_)
        if (slot.live) kept.push_back(std::move(slot));
    slots_ = std::move(kept);
    index_.clear();
    for (uint32_t i = 0; i < slots_.size(); ++i) index_.emplace(slots_[i].key, i);
    lowerIndex_.reset();
}

void Object::rebuildLowerIndex() {
    lowerIndex_ = std::make_unique<std::unordered_map<std::string, uint32_t, KeyHash, std::equal_to<>>>();
    for (uint32_t i = 0; i < slots_.size(); ++i)
        if (slots_[i].live) lowerIndex_->emplace(lowerAscii(slots_[i].key), i);
}

// --- Heap -----------------------------------------------------------------------

Heap::~Heap() {
    for (Object* o : objects_) delete o;
}

Object* Heap::allocate(Object::Kind kind) {
    auto* o = new Object();
    o->kind_ = kind;
    objects_.push_back(o);
    return o;
}

void Heap::setScript(Object* o, std::unique_ptr<ScriptFunction> f) { o->script_ = std::move(f); }
void Heap::setNative(Object* o, std::unique_ptr<NativeFunction> f) { o->native_ = std::move(f); }

namespace {
struct Marker {
    std::vector<Object*> work;
    void object(Object* o) {
        if (o) work.push_back(o);
    }
    void value(const Value& v) { object(v.objectValue()); }
    static void markThunk(void* self, const Value& v) { static_cast<Marker*>(self)->value(v); }
};
}  // namespace

void Heap::collect(const std::vector<Object*>& roots, const std::vector<const Value*>& rootValues) {
    for (Object* o : objects_) o->marked_ = false;
    Marker m;
    for (Object* o : roots) m.object(o);
    for (const Value* v : rootValues) m.value(*v);
    for (Object* o : objects_)
        if (o->pins_ > 0) m.object(o);
    // Iterative: prototype chains and nested arrays may be long.
    while (!m.work.empty()) {
        Object* o = m.work.back();
        m.work.pop_back();
        if (o->marked_) continue;
        o->marked_ = true;
        m.object(o->proto_);
        m.object(o->superProto_);
        for (const auto& slot : o->slots_) {
            if (!slot.live) continue;
            m.value(slot.prop.value);
            m.object(slot.prop.getter);
            m.object(slot.prop.setter);
        }
        for (const Value& v : o->elements_) m.value(v);
        m.value(o->primitive_);
        if (o->script_) {
            for (const Value& v : o->script_->scope) m.value(v);
            m.value(o->script_->target);
        }
        if (o->data_) o->data_->markValues(&Marker::markThunk, &m);
    }
    auto dead = std::partition(objects_.begin(), objects_.end(), [](Object* o) { return o->marked_; });
    for (auto it = dead; it != objects_.end(); ++it) delete *it;
    objects_.erase(dead, objects_.end());
}

// --- ObjectRef -------------------------------------------------------------------

ObjectRef::ObjectRef(std::shared_ptr<Heap> heap, Object* object) : heap_(std::move(heap)), object_(object) {
    if (object_) Heap::pin(object_);
}
ObjectRef::ObjectRef(ObjectRef&& other) noexcept
    : heap_(std::move(other.heap_)), object_(std::exchange(other.object_, nullptr)) {}
ObjectRef& ObjectRef::operator=(ObjectRef&& other) noexcept {
    if (this != &other) {
        reset();
        heap_ = std::move(other.heap_);
        object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
}
ObjectRef::~ObjectRef() { reset(); }
void ObjectRef::reset() {
    if (object_) Heap::unpin(object_);
    object_ = nullptr;
    heap_.reset();
}

}  // namespace refplayer::avm1
