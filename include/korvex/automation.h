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
  Byte,
  Integer,
  Long,
  Single,
  Double,
  String,
  ByteArray,
  LongArray,
  Object,
  Status,       // cKorvexStatus
  ViewerStatus  // the viewers' status
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

class EventSink;

struct ClassInfo {
  const char* name;       // "cKorvex"
  const char* progid;     // "Korvex.cKorvex"
  const char* clsid;      // "{...}"
  const char* iid;        // default interface
  const char* event_iid;  // event interface
  std::vector<Member> members;
  std::vector<EventInfo> events;
  std::shared_ptr<void> (*create)();
  // Connects a sink to the events of an object of the class (null for a
  // class without events); the sink stays connected for the object's life.
  void (*advise)(void* self, std::shared_ptr<EventSink> sink);

  // Case-insensitive. A property's name finds its read half.
  const Member* find(const std::string& wanted) const;
  const Member* find(const std::string& wanted, MemberKind kind) const;
  const Member* find(int32_t dispid) const;
  const EventInfo* find_event(const std::string& wanted) const;
  // The members whose names are nearest to `wanted` (case-insensitive edit
  // distance, only near enough to be a slip of the keyboard), and the
  // message for a name that is no member: "X is not a member of cKorvex
  // (closest: Y)".
  std::vector<const Member*> closest(const std::string& wanted) const;
  std::string not_a_member(const std::string& wanted) const;
};

// "Name(p As Long, [ByRef q As Long = 0]) As cKorvexStatus": optional
// parameters in brackets with their defaults.
std::string MemberSignature(const Member& m);
// The signature, then one line per parameter and the result: the text of
// `korvex --help Member` and of the Python members' docstrings.
std::string MemberHelp(const Member& m);

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
  // Reads (PropertyGet) or writes (PropertyLet, one argument) a property.
  CallResult Invoke(const std::string& member, MemberKind kind, std::vector<Variant>& args) const;

 private:
  const ClassInfo* cls_ = nullptr;
  std::shared_ptr<void> self_;
};

// Arguments as scripts write them (the korvex command, the Python module).
//
// Long arrays a script builds start every dimension at 1, as the engine's
// own Long arrays do (palettes, pixel arrays, frame delays) and as its point
// arrays are read: (1..n, 1..2), point i at (i, 1) = x and (i, 2) = y.
// Byte arrays are the bytes of files and stay 0..n-1, as the engine hands
// them out.
inline constexpr int32_t kScriptArrayLowerBound = 1;

// A scalar, or a list of values; nested lists give more dimensions.
struct ScriptValue {
  Variant scalar;
  bool is_list = false;
  std::vector<ScriptValue> items;
};

// Nested lists as a Long array of one to three dimensions. The innermost
// lists run over the first index, so [[x1, x2, x3], [y1, y2, y3]] is the
// point array (1..3, 1..2). Lists of one level must have equal lengths;
// each element converts as a Long argument does.
bool LongArrayFromList(const ScriptValue& list, Variant& out, std::string& error);

// The text form of a Long array: "1,2,3", or points "10,10;90,10;50,90"
// (one "x,y" per ';'), which reads as [[10, 90, 50], [10, 10, 90]].
bool ParseArrayText(const std::string& text, ScriptValue& out, std::string& error);

// The argument for parameter `p` (null past the last one): lists become Long
// arrays, text for a Long-array parameter is read as array text, anything
// else passes as it is and converts when the member is called.
bool ConvertArgument(const ScriptValue& value, const Param* p, Variant& out, std::string& error);

// A command-line word: "_" is a missing argument, "@file" the file's bytes
// (Byte-array parameters) or a stream of it (object parameters); any other
// word goes through ConvertArgument as text.
bool ArgumentFromWord(const std::string& word, const Param* p, Variant& out, std::string& error);

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
