// Turns a C++ member function into an automation invoker: each Variant
// argument is converted to the parameter's C++ type, the member is called,
// by-reference parameters are written back and the result is wrapped.
#pragma once

#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "korvex/automation.h"
#include "korvex/host.h"
#include "korvex/status.h"
#include "korvex/stream.h"
#include "korvex/viewer.h"

namespace korvex::automation {

// Conversion of one parameter type: `Store` holds the converted value during
// the call; `in` converts the argument; `out` writes a by-reference value back.
template <typename T>
struct Arg;

#define KORVEX_SCALAR_ARG(T, Conv)                                                      \
  template <>                                                                           \
  struct Arg<T> {                                                                       \
    using Store = T;                                                                    \
    static bool in(const Variant& v, Store& s, std::string& e) { return v.Conv(s, e); } \
    static void out(Variant&, const Store&) {}                                          \
  };                                                                                    \
  template <>                                                                           \
  struct Arg<T&> {                                                                      \
    using Store = T;                                                                    \
    static bool in(const Variant& v, Store& s, std::string& e) {                        \
      return v.is_empty() || v.is_missing() ? (s = T{}, true) : v.Conv(s, e);           \
    }                                                                                   \
    static void out(Variant& v, const Store& s) { v = Variant(s); }                     \
  };

KORVEX_SCALAR_ARG(bool, to_bool)
KORVEX_SCALAR_ARG(uint8_t, to_byte)
KORVEX_SCALAR_ARG(int16_t, to_int16)
KORVEX_SCALAR_ARG(int32_t, to_int32)
KORVEX_SCALAR_ARG(float, to_float)
KORVEX_SCALAR_ARG(double, to_double)
KORVEX_SCALAR_ARG(std::string, to_string)
KORVEX_SCALAR_ARG(Array<uint8_t>, to_bytes)
KORVEX_SCALAR_ARG(Array<int32_t>, to_longs)
#undef KORVEX_SCALAR_ARG

template <>
struct Arg<const std::string&> : Arg<std::string> {};

// Objects: streams and picture objects travel as ObjectRef of their kind.
template <typename T>
struct ObjectArg {
  using Store = std::shared_ptr<T>;
  static bool in(const Variant& v, Store& s, std::string& e) {
    ObjectRef ref;
    if (!v.to_object(ref, e)) return false;
    s = ref.as<T>();
    return true;
  }
};
template <>
struct Arg<const std::shared_ptr<Stream>&> : ObjectArg<Stream> {
  static void out(Variant&, const Store&) {}
};
template <>
struct Arg<std::shared_ptr<Stream>&> : ObjectArg<Stream> {
  static void out(Variant& v, const Store& s) { v = Variant(ObjectRef{s, "Stream"}); }
};
template <>
struct Arg<const host::PicturePtr&> : ObjectArg<host::Picture> {
  static void out(Variant&, const Store&) {}
};
template <>
struct Arg<host::PicturePtr&> : ObjectArg<host::Picture> {
  static void out(Variant& v, const Store& s) {
    v = s ? Variant(ObjectRef{s, "Picture"}) : Variant();
  }
};

// Results.
template <typename R>
Variant wrap(R&& r) {
  using D = std::decay_t<R>;
  if constexpr (std::is_same_v<D, cKorvexStatus> || std::is_same_v<D, ViewerStatus>) {
    return Variant(static_cast<int32_t>(r));
  } else if constexpr (std::is_same_v<D, host::PicturePtr>) {
    return r ? Variant(ObjectRef{r, "Picture"}) : Variant();
  } else {
    return Variant(std::forward<R>(r));
  }
}

template <auto M>
struct Binder;

template <typename C, typename R, typename... A>
struct BinderBase {
  template <typename F, size_t... I>
  static void call(F&& f, std::vector<Variant>& args, Variant& result, int& bad, std::string& error,
                   std::index_sequence<I...>) {
    std::tuple<typename Arg<A>::Store...> stores;
    bool ok = true;
    // Convert in order; stop at the first argument that does not fit.
    ((ok = ok &&
           (Arg<A>::in(args[I], std::get<I>(stores), error) || (bad = static_cast<int>(I), false))),
     ...);
    if (!ok) return;
    if constexpr (std::is_void_v<R>) {
      f(std::get<I>(stores)...);
      result = Variant();
    } else {
      result = wrap(f(std::get<I>(stores)...));
    }
    (Arg<A>::out(args[I], std::get<I>(stores)), ...);
  }
};

template <typename C, typename R, typename... A, R (C::*M)(A...)>
struct Binder<M> : BinderBase<C, R, A...> {
  static void invoke(void* self, std::vector<Variant>& args, Variant& result, int& bad,
                     std::string& error) {
    C* obj = static_cast<C*>(self);
    BinderBase<C, R, A...>::call([obj](auto&&... a) -> R { return (obj->*M)(a...); }, args, result,
                                 bad, error, std::index_sequence_for<A...>{});
  }
};

template <typename C, typename R, typename... A, R (C::*M)(A...) const>
struct Binder<M> : BinderBase<C, R, A...> {
  static void invoke(void* self, std::vector<Variant>& args, Variant& result, int& bad,
                     std::string& error) {
    const C* obj = static_cast<const C*>(self);
    BinderBase<C, R, A...>::call([obj](auto&&... a) -> R { return (obj->*M)(a...); }, args, result,
                                 bad, error, std::index_sequence_for<A...>{});
  }
};

}  // namespace korvex::automation
