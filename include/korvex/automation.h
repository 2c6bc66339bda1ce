// The automation layer: a type library of classes and their members, and
// late-bound calls by member name or dispatch id. The `korvex` command, the
// Python module and host scripts all drive the engine through it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korvex/variant.h"

namespace korvex::automation {

// Types of parameters and results as a type library states them.
enum class VarType {
  Void,
  Boolean,
  Integer,
  Long,
  Single,
  Double,
  String,
  ByteArray,
  LongArray,
  Object,
  Status
};
const char* VarTypeName(VarType t);

enum class MemberKind { Method, PropertyGet, PropertyLet };

struct Param {
  const char* name;
  VarType type;
  bool by_ref;
  std::optional<Variant> default_value;  // set for optional parameters
};

// Calls the member on an object with one Variant per parameter, all present
// (defaults already filled in). On a conversion failure sets `bad` to the
// index of the parameter and `error` to why; by-reference values are
// written back into `args`.
using Invoker = void (*)(void* self, std::vector<Variant>& args, Variant& result, int& bad,
                         std::string& error);

struct Member {
  const char* name;
  int32_t dispid;
  MemberKind kind;
  std::vector<Param> params;
  VarType result;
  Invoker invoke;
};

struct EventInfo {
  const char* name;
  int32_t dispid;
  std::vector<Param> params;
};

struct ClassInfo {
  const char* name;       // "cKorvex"
  const char* progid;     // "Korvex.cKorvex"
  const char* clsid;      // "{...}"
  const char* iid;        // default interface
  const char* event_iid;  // event interface
  std::vector<Member> members;
  std::vector<EventInfo> events;
  std::shared_ptr<void> (*create)();

  const Member* find(const std::string& wanted) const;  // case-insensitive
  const Member* find(int32_t dispid) const;
};

// Every class of the type library.
const std::vector<const ClassInfo*>& Classes();
// A class by name, ProgID or CLSID text (case-insensitive); null when unknown.
const ClassInfo* FindClass(const std::string& name_progid_or_clsid);

enum class DispatchError {
  None = 0,
  UnknownMember,     // no member of that name or dispatch id
  BadArgumentCount,  // more arguments than parameters, or a required one missing
  TypeMismatch,      // an argument cannot become its parameter's type
  ObjectGone,        // no object to call
};

struct CallResult {
  DispatchError error = DispatchError::None;
  std::string message;  // says which member or parameter failed and why
  Variant value;        // the member's result (Empty for Void)
  const Member* member = nullptr;
};

// An automation object: an instance of a class of the type library.
class Object {
 public:
  Object() = default;
  Object(const ClassInfo* cls, std::shared_ptr<void> self) : cls_(cls), self_(std::move(self)) {}
  const ClassInfo* cls() const { return cls_; }
  void* get() const { return self_.get(); }
  const std::shared_ptr<void>& shared() const { return self_; }
  explicit operator bool() const { return cls_ != nullptr && self_ != nullptr; }

  // Calls a member with positional arguments; omitted trailing optional
  // arguments, and Missing ones, take their defaults. By-reference
  // arguments are written back into `args` (which grows to the full count).
  CallResult Invoke(const std::string& member, std::vector<Variant>& args) const;
  CallResult Invoke(int32_t dispid, std::vector<Variant>& args) const;

 private:
  const ClassInfo* cls_ = nullptr;
  std::shared_ptr<void> self_;
};

// Creates an object by ProgID, class name or CLSID; an empty Object when unknown.
Object CreateObject(const std::string& progid_or_clsid);

// Event sinks: hosts register a handler; objects raise events by dispatch id
// with their arguments, which a handler may change (by-reference arguments).
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void OnEvent(int32_t dispid, std::vector<Variant>& args) = 0;
};

class EventSource {
 public:
  void Advise(std::shared_ptr<EventSink> sink) { sinks_.push_back(std::move(sink)); }
  void Unadvise(const std::shared_ptr<EventSink>& sink);
  // Calls every sink in turn; each sees the arguments the previous one left.
  void Raise(int32_t dispid, std::vector<Variant>& args) const;

 private:
  std::vector<std::shared_ptr<EventSink>> sinks_;
};

}  // namespace korvex::automation
