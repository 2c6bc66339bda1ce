// The type library's classes and late-bound calls.
#include <algorithm>
#include <cctype>

#include "automation/binder.h"
#include "automation/typelib.h"
#include "korvex/automation.h"
#include "korvex/engine.h"

namespace korvex::automation {

namespace {

bool iequals(const std::string& a, const char* b) {
  const size_t n = std::char_traits<char>::length(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

const ClassInfo& engine_class() {
  static const ClassInfo info{
      "cKorvex",
      "Korvex.cKorvex",
      "{6F1C2A40-8B3E-4D27-9A51-3C0E7D2B9F01}",
      "{6F1C2A41-8B3E-4D27-9A51-3C0E7D2B9F01}",
      "{6F1C2A42-8B3E-4D27-9A51-3C0E7D2B9F01}",
      cKorvexMembers(),
      {},
      []() -> std::shared_ptr<void> { return std::make_shared<cKorvex>(); },
      nullptr};
  return info;
}

CallResult call(const ClassInfo& cls, void* self, const Member* m, std::vector<Variant>& args,
                const std::string& asked, bool by_name) {
  CallResult r;
  r.member = m;
  if (m == nullptr) {
    r.error = DispatchError::UnknownMember;
    r.message =
        by_name ? cls.not_a_member(asked) : std::string(cls.name) + " has no member " + asked;
    return r;
  }
  if (self == nullptr) {
    r.error = DispatchError::ObjectGone;
    r.message = std::string(m->name) + ": no object";
    return r;
  }
  if (args.size() > m->params.size()) {
    r.error = DispatchError::BadArgumentCount;
    r.message = std::string(m->name) + " takes at most " + std::to_string(m->params.size()) +
                " arguments, " + std::to_string(args.size()) + " given";
    return r;
  }
  args.resize(m->params.size(), Variant::Missing());
  for (size_t i = 0; i < args.size(); ++i) {
    const Param& p = m->params[i];
    if (!args[i].is_missing()) continue;
    if (p.default_value) {
      args[i] = *p.default_value;
    } else if (p.by_ref) {
      args[i] = Variant();  // an output the caller did not pass
    } else {
      r.error = DispatchError::BadArgumentCount;
      r.message = std::string(m->name) + ": argument " + p.name + " is required";
      return r;
    }
  }
  int bad = -1;
  std::string why;
  m->invoke(self, args, r.value, bad, why);
  if (bad >= 0) {
    r.error = DispatchError::TypeMismatch;
    r.message = std::string(m->name) + ": type mismatch in " +
                m->params[static_cast<size_t>(bad)].name + " (" +
                VarTypeName(m->params[static_cast<size_t>(bad)].type) + "): " + why;
  }
  return r;
}

}  // namespace

const char* VarTypeName(VarType t) {
  switch (t) {
    case VarType::Void:
      return "Void";
    case VarType::Boolean:
      return "Boolean";
    case VarType::Byte:
      return "Byte";
    case VarType::Integer:
      return "Integer";
    case VarType::Long:
      return "Long";
    case VarType::Single:
      return "Single";
    case VarType::Double:
      return "Double";
    case VarType::String:
      return "String";
    case VarType::ByteArray:
      return "Byte()";
    case VarType::LongArray:
      return "Long()";
    case VarType::Object:
      return "Object";
    case VarType::Status:
      return "cKorvexStatus";
    case VarType::ViewerStatus:
      return "ViewerStatus";
  }
  return "?";
}

const Member* ClassInfo::find(const std::string& wanted) const {
  for (const Member& m : members) {
    if (iequals(wanted, m.name)) return &m;
  }
  return nullptr;
}

const Member* ClassInfo::find(const std::string& wanted, MemberKind kind) const {
  for (const Member& m : members) {
    if (m.kind == kind && iequals(wanted, m.name)) return &m;
  }
  return nullptr;
}

const EventInfo* ClassInfo::find_event(const std::string& wanted) const {
  for (const EventInfo& e : events) {
    if (iequals(wanted, e.name)) return &e;
  }
  return nullptr;
}

const Member* ClassInfo::find(int32_t dispid) const {
  for (const Member& m : members) {
    if (m.dispid == dispid) return &m;
  }
  return nullptr;
}

const std::vector<const ClassInfo*>& Classes() {
  static const std::vector<const ClassInfo*> all = {&engine_class(), &ViewerClass(),
                                                     &ViewerCntClass()};
  return all;
}

const ClassInfo* FindClass(const std::string& key) {
  for (const ClassInfo* c : Classes()) {
    if (iequals(key, c->name) || iequals(key, c->progid) || iequals(key, c->clsid)) return c;
  }
  return nullptr;
}

CallResult Object::Invoke(const std::string& member, std::vector<Variant>& args) const {
  if (cls_ == nullptr) return call(engine_class(), nullptr, nullptr, args, member, true);
  return call(*cls_, self_.get(), cls_->find(member), args, member, true);
}

CallResult Object::Invoke(int32_t dispid, std::vector<Variant>& args) const {
  const std::string asked = "with dispatch id " + std::to_string(dispid);
  if (cls_ == nullptr) return call(engine_class(), nullptr, nullptr, args, asked, false);
  return call(*cls_, self_.get(), cls_->find(dispid), args, asked, false);
}

CallResult Object::Invoke(const std::string& member, MemberKind kind,
                          std::vector<Variant>& args) const {
  if (cls_ == nullptr) return call(engine_class(), nullptr, nullptr, args, member, true);
  return call(*cls_, self_.get(), cls_->find(member, kind), args, member, true);
}

Object CreateObject(const std::string& progid_or_clsid) {
  const ClassInfo* c = FindClass(progid_or_clsid);
  if (c == nullptr || c->create == nullptr) return Object();
  return Object(c, c->create());
}

void EventSource::Unadvise(const std::shared_ptr<EventSink>& sink) {
  sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

void EventSource::Raise(int32_t dispid, std::vector<Variant>& args) const {
  for (const auto& s : sinks_) s->OnEvent(dispid, args);
}

}  // namespace korvex::automation
