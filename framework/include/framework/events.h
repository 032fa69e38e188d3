// Method pointers: an event is a callable bound to an object, optionally with
// the method's name so that a stored form can refer to it. Platform-free.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "framework/sysutils.h"

class TObject;

// TEvent<Sender, Args...>: handlers take the sender first by convention, e.g.
//   TEvent<TObject*, int, bool&> OnThing;
//   OnThing = TEvent<TObject*, int, bool&>(this, &TMyForm::ThingHappened, L"ThingHappened");
//   if (OnThing.Assigned()) OnThing(this, 5, handled);
// Copies share the bound callable, so a copy compares equal to its original.
// Two events bound to the same object and member function compare equal even
// when bound separately.
template <class... A>
class TEvent {
public:
  using Signature = void(A...);

  TEvent() = default;
  TEvent(std::nullptr_t) {}

  // Bound to obj->method. The name is what a stored form records.
  template <class T, class M>
    requires std::is_member_function_pointer_v<M> && std::is_invocable_v<M, T*, A...>
  TEvent(T* obj, M method, WideString name = {})
      : fn_(std::make_shared<std::function<void(A...)>>(
            [obj, method](A... args) { (obj->*method)(std::forward<A>(args)...); })),
        name_(std::move(name)),
        object_(obj) {
    static_assert(sizeof(M) <= sizeof(code_), "member function pointer too large");
    std::memcpy(code_, &method, sizeof(M));
    codeType_ = &typeid(M);
  }

  // Bound to any callable (a lambda, a free function). Such events compare
  // equal only to their own copies.
  template <class F>
    requires(!std::is_same_v<std::decay_t<F>, TEvent> && !std::is_same_v<std::decay_t<F>, std::nullptr_t> &&
             std::is_invocable_v<F&, A...>)
  TEvent(F&& f, WideString name = {})
      : fn_(std::make_shared<std::function<void(A...)>>(std::forward<F>(f))), name_(std::move(name)) {}

  bool Assigned() const noexcept { return static_cast<bool>(fn_); }
  explicit operator bool() const noexcept { return Assigned(); }

  // Calling an unassigned event does nothing.
  void operator()(A... args) const {
    if (fn_) (*fn_)(std::forward<A>(args)...);
  }

  const WideString& MethodName() const noexcept { return name_; }
  // The same binding under another method name.
  TEvent WithName(WideString name) const {
    TEvent copy(*this);
    copy.name_ = std::move(name);
    return copy;
  }
  // The bound object when bound to a member function, else nullptr.
  const void* Data() const noexcept { return object_; }
  void Clear() noexcept { *this = TEvent(); }

  bool operator==(const TEvent& other) const noexcept {
    if (fn_ == other.fn_) return true;
    if (!fn_ || !other.fn_ || !codeType_ || codeType_ != other.codeType_) return false;
    return object_ == other.object_ && std::memcmp(code_, other.code_, sizeof(code_)) == 0;
  }
  bool operator==(std::nullptr_t) const noexcept { return !fn_; }

private:
  std::shared_ptr<std::function<void(A...)>> fn_;
  WideString name_;
  const void* object_ = nullptr;
  const std::type_info* codeType_ = nullptr;
  alignas(void*) unsigned char code_[2 * sizeof(void*)] = {};
};

using TNotifyEvent = TEvent<TObject*>;
