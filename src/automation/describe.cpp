// Members described for people: signatures, help text, and the nearest
// names when a member is misspelt.
#include <algorithm>
#include <cctype>

#include "korvex/automation.h"

namespace korvex::automation {

namespace {

constexpr size_t kMaxSuggestions = 5;

// Levenshtein distance with letters compared case-insensitively.
size_t edit_distance(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      const size_t replace = diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1);
      row[j] = std::min({above + 1, row[j - 1] + 1, replace});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string describe_param(const Param& p) {
  std::string s;
  if (p.default_value) s += "[";
  if (p.by_ref) s += "ByRef ";
  s += std::string(p.name) + " As " + VarTypeName(p.type);
  if (p.default_value) s += " = " + p.default_value->to_display() + "]";
  return s;
}

}  // namespace

std::vector<const Member*> ClassInfo::closest(const std::string& wanted) const {
  // A slip of the keyboard: up to a third of the name, at least one and at most three edits.
  const size_t limit = std::clamp<size_t>(wanted.size() / 3, 1, 3);
  size_t best = limit + 1;
  std::vector<const Member*> found;
  for (const Member& m : members) {
    if (m.kind == MemberKind::PropertyLet) continue;  // its read half stands for the property
    const size_t d = edit_distance(wanted, m.name);
    if (d > best) continue;
    if (d < best) found.clear();
    best = d;
    found.push_back(&m);
  }
  std::sort(found.begin(), found.end(),
            [](const Member* a, const Member* b) { return std::string(a->name) < b->name; });
  if (found.size() > kMaxSuggestions) found.resize(kMaxSuggestions);
  return found;
}

std::string ClassInfo::not_a_member(const std::string& wanted) const {
  std::string s = wanted + " is not a member of " + name;
  const std::vector<const Member*> near = closest(wanted);
  for (size_t i = 0; i < near.size(); ++i)
    s += (i == 0 ? " (closest: " : ", ") + std::string(near[i]->name);
  if (!near.empty()) s += ")";
  return s;
}

std::string MemberSignature(const Member& m) {
  std::string s = m.kind == MemberKind::PropertyGet   ? "Property Get "
                  : m.kind == MemberKind::PropertyLet ? "Property Let "
                                                      : "";
  s += std::string(m.name) + "(";
  for (size_t i = 0; i < m.params.size(); ++i) s += (i ? ", " : "") + describe_param(m.params[i]);
  s += ")";
  if (m.result != VarType::Void) s += std::string(" As ") + VarTypeName(m.result);
  return s;
}

std::string MemberHelp(const Member& m) {
  std::string s = MemberSignature(m) + "\n";
  size_t width = std::string("returns").size();
  for (const Param& p : m.params) width = std::max(width, std::string(p.name).size());
  auto line = [&](const std::string& label, const std::string& text) {
    s += "  " + label + std::string(width + 2 - label.size(), ' ') + text + "\n";
  };
  if (!m.params.empty()) s += "\n";
  for (const Param& p : m.params) {
    std::string text = VarTypeName(p.type);
    if (p.default_value) text += ", optional, default " + p.default_value->to_display();
    if (p.by_ref) text += ", by reference: its value comes back after the result";
    line(p.name, text);
  }
  if (m.result == VarType::Status || m.result == VarType::ViewerStatus) {
    line("returns", std::string(VarTypeName(m.result)) + " (0 = Ok)");
  } else if (m.result != VarType::Void) {
    line("returns", VarTypeName(m.result));
  }
  return s;
}

}  // namespace korvex::automation
