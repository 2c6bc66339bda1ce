// Arguments as scripts write them: command-line words and Python values
// become Variants here, so both reach the engine with the same arrays.
#include <fstream>
#include <iterator>
#include <limits>

#include "korvex/automation.h"
#include "korvex/stream.h"

namespace korvex::automation {

namespace {

constexpr size_t kMaxDims = 3;

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(sep, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool blank(const std::string& s) {
  return s.find_first_not_of(" \t") == std::string::npos;
}

ScriptValue list_of(std::vector<ScriptValue> items) {
  ScriptValue v;
  v.is_list = true;
  v.items = std::move(items);
  return v;
}

// Collects the elements of nested lists in order (the last level fastest),
// checking that every list of a level has the length of the first one.
bool flatten(const ScriptValue& v, const std::vector<size_t>& shape, size_t depth,
             std::vector<int32_t>& out, std::string& error) {
  if (depth == shape.size()) {
    if (v.is_list) {
      error = "a Long array has at most three dimensions, and its lists equal lengths";
      return false;
    }
    int32_t x = 0;
    if (!v.scalar.to_int32(x, error)) return false;
    out.push_back(x);
    return true;
  }
  if (!v.is_list || v.items.size() != shape[depth]) {
    error = "the nested lists of a Long array must have equal lengths";
    return false;
  }
  for (const ScriptValue& item : v.items) {
    if (!flatten(item, shape, depth + 1, out, error)) return false;
  }
  return true;
}

bool read_file(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

bool LongArrayFromList(const ScriptValue& list, Variant& out, std::string& error) {
  // The shape, outermost first, from the first element of each level.
  std::vector<size_t> shape;
  for (const ScriptValue* v = &list; v->is_list; v = &v->items.front()) {
    shape.push_back(v->items.size());
    if (v->items.empty()) break;
  }
  Array<int32_t> a;
  if (shape.empty() || shape.back() == 0) {
    if (shape.size() > 1) {
      error = "a Long array cannot have an empty inner list";
      return false;
    }
    out = Variant(std::move(a));  // an empty list: an empty array
    return true;
  }
  if (shape.size() > kMaxDims) {
    error = "a Long array has at most three dimensions";
    return false;
  }
  for (size_t n : shape) {
    if (n > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
      error = "a Long array dimension holds at most 2147483647 elements";
      return false;
    }
  }
  std::vector<int32_t> values;
  if (!flatten(list, shape, 0, values, error)) return false;
  // The innermost list is the first index: the automation array's first
  // index runs fastest in memory, as the last level does in the flat order.
  auto bound = [](size_t n) {
    return Array<int32_t>::Bounds{kScriptArrayLowerBound,
                                  static_cast<int32_t>(n) - 1 + kScriptArrayLowerBound};
  };
  if (shape.size() == 1) a.Redim({bound(shape[0])});
  if (shape.size() == 2) a.Redim({bound(shape[1]), bound(shape[0])});
  if (shape.size() == 3) a.Redim({bound(shape[2]), bound(shape[1]), bound(shape[0])});
  a.values() = std::move(values);
  out = Variant(std::move(a));
  return true;
}

bool ParseArrayText(const std::string& text, ScriptValue& out, std::string& error) {
  auto scalars = [](const std::vector<std::string>& words) {
    std::vector<ScriptValue> items;
    for (const std::string& w : words) items.push_back(ScriptValue{Variant(w), false, {}});
    return items;
  };
  if (blank(text)) {
    out = list_of({});
    return true;
  }
  if (text.find(';') == std::string::npos) {
    std::vector<std::string> items = split(text, ',');
    if (items.size() > 1 && blank(items.back())) items.pop_back();  // "1,2,3,"
    out = list_of(scalars(items));
    return true;
  }
  std::vector<std::string> points = split(text, ';');
  if (blank(points.back())) points.pop_back();  // "10,10;" is one point
  std::vector<std::string> xs, ys;
  for (size_t i = 0; i < points.size(); ++i) {
    const std::vector<std::string> xy = split(points[i], ',');
    if (xy.size() != 2) {
      error = "point " + std::to_string(i + 1) + " (\"" + points[i] + "\") is not x,y";
      return false;
    }
    xs.push_back(xy[0]);
    ys.push_back(xy[1]);
  }
  out = list_of({list_of(scalars(xs)), list_of(scalars(ys))});
  return true;
}

bool ConvertArgument(const ScriptValue& value, const Param* p, Variant& out, std::string& error) {
  std::string why;
  bool ok = true;
  if (value.is_list) {
    ok = LongArrayFromList(value, out, why);
  } else if (p != nullptr && p->type == VarType::LongArray &&
             value.scalar.type() == Variant::Type::String) {
    ScriptValue list;
    ok = ParseArrayText(value.scalar.as_string(), list, why) && LongArrayFromList(list, out, why);
  } else {
    out = value.scalar;
  }
  if (!ok) error = p != nullptr ? std::string(p->name) + ": " + why : why;
  return ok;
}

bool ArgumentFromWord(const std::string& word, const Param* p, Variant& out, std::string& error) {
  if (word == "_") {
    out = Variant::Missing();
    return true;
  }
  const bool file = word.size() > 1 && word[0] == '@' && p != nullptr;
  if (file && p->type == VarType::ByteArray) {
    std::vector<uint8_t> bytes;
    if (!read_file(word.substr(1), bytes)) {
      error = "cannot read " + word.substr(1);
      return false;
    }
    out = Variant(Array<uint8_t>(std::move(bytes)));
    return true;
  }
  if (file && p->type == VarType::Object) {
    auto stream = FileStream::Open(word.substr(1), "rb");
    if (!stream) {
      error = "cannot open " + word.substr(1);
      return false;
    }
    out = Variant(ObjectRef{stream, "Stream"});
    return true;
  }
  return ConvertArgument(ScriptValue{Variant(word), false, {}}, p, out, error);
}

}  // namespace korvex::automation
