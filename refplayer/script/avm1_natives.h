// Shared by the files that install the built-in classes: the helpers that
// put natives on objects, and the few array and index routines more than one
// family uses. Not for use outside refplayer/script.
#pragma once

#include <cmath>
#include <limits>
#include <string_view>
#include <vector>

#include "avm1_internal.h"

namespace refplayer::avm1 {

using State = Vm::State;
using Impl = Value (*)(State&, NativeCall&);

inline Object* def(State& s, Object* on, std::string_view name, Impl fn) {
    Object* f = s.newNative([&s, fn](NativeCall& c) { return fn(s, c); }, name);
    on->setOwn(name, Value::object(f), kDontEnum);
    return f;
}

inline Object* defClass(State& s, Object* on, std::string_view name, Impl ctor, Object* proto) {
    Object* f = s.newNative([&s, ctor](NativeCall& c) { return ctor(s, c); }, name);
    f->setOwn("prototype", Value::object(proto), kDontEnum | kDontDelete);
    proto->setOwn("constructor", Value::object(f), kDontEnum);
    on->setOwn(name, Value::object(f), kDontEnum);
    return f;
}

inline void constant(Object* on, std::string_view name, Value v) {
    on->setOwn(name, std::move(v), kDontEnum | kDontDelete | kReadOnly);
}

inline double num(State& s, NativeCall& c, size_t i) { return s.toNumber(c.arg(i)); }
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A relative index as slice() takes it: negative counts from the end (avm1_array.cpp).
size_t relativeIndex(double n, size_t size);
// All `length` elements of an array as one vector, sparse parts filled in;
// charged one action per element (avm1_array.cpp).
std::vector<Value> materialize(State& s, Object* a);

}  // namespace refplayer::avm1
