#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "korvex/variant.h"
#include "raster/rounding.h"

namespace korvex {

namespace {

// Parses a whole number or a decimal number (spaces around allowed).
bool parse_number(const std::string& text, double& out) {
  const char* s = text.c_str();
  while (*s == ' ' || *s == '\t') ++s;
  if (*s == '\0') return false;
  char* end = nullptr;
  errno = 0;
  double v;
  if ((s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) ||
      (s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))) {
    v = static_cast<double>(std::strtoll(s + 2, &end, 16));  // &HFF or 0xFF
  } else {
    v = std::strtod(s, &end);
  }
  if (end == s || errno == ERANGE) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0' || !std::isfinite(v)) return false;
  out = v;
  return true;
}

std::string format_double(double v) {
  std::ostringstream o;
  o.precision(15);
  o << v;
  return o.str();
}

}  // namespace

const char* Variant::type_name(Type t) {
  switch (t) {
    case Type::Empty:
      return "Empty";
    case Type::Missing:
      return "Missing";
    case Type::Boolean:
      return "Boolean";
    case Type::Integer:
      return "Integer";
    case Type::Long:
      return "Long";
    case Type::Single:
      return "Single";
    case Type::Double:
      return "Double";
    case Type::String:
      return "String";
    case Type::ByteArray:
      return "Byte()";
    case Type::LongArray:
      return "Long()";
    case Type::Object:
      return "Object";
  }
  return "?";
}

bool Variant::to_double(double& out, std::string& error) const {
  switch (type()) {
    case Type::Empty:
      out = 0;
      return true;
    case Type::Boolean:
      out = as_bool() ? -1.0 : 0.0;
      return true;
    case Type::Integer:
      out = as_int16();
      return true;
    case Type::Long:
      out = as_int32();
      return true;
    case Type::Single:
      out = as_float();
      return true;
    case Type::Double:
      out = as_double();
      return true;
    case Type::String:
      if (parse_number(as_string(), out)) return true;
      if (as_string() == "True" || as_string() == "true") {
        out = -1;
        return true;
      }
      if (as_string() == "False" || as_string() == "false") {
        out = 0;
        return true;
      }
      error = "\"" + as_string() + "\" is not a number";
      return false;
    default:
      error = std::string(type_name(type())) + " is not a number";
      return false;
  }
}

bool Variant::to_float(float& out, std::string& error) const {
  double d = 0;
  if (!to_double(d, error)) return false;
  if (std::fabs(d) > std::numeric_limits<float>::max()) {
    error = format_double(d) + " overflows a Single";
    return false;
  }
  out = static_cast<float>(d);
  return true;
}

bool Variant::to_int32(int32_t& out, std::string& error) const {
  if (type() == Type::Long) {
    out = as_int32();
    return true;
  }
  double d = 0;
  if (!to_double(d, error)) return false;
  d = raster::round_half_even(d);
  // Values in the unsigned 32-bit range (colours written 0xFF000000) wrap as hosts expect.
  if (d > std::numeric_limits<int32_t>::max() && d <= 4294967295.0) d -= 4294967296.0;
  if (d < std::numeric_limits<int32_t>::min() || d > std::numeric_limits<int32_t>::max()) {
    error = format_double(d) + " overflows a Long";
    return false;
  }
  out = static_cast<int32_t>(d);
  return true;
}

bool Variant::to_byte(uint8_t& out, std::string& error) const {
  double d = 0;
  if (!to_double(d, error)) return false;
  d = raster::round_half_even(d);
  if (d < 0 || d > 255) {
    error = format_double(d) + " overflows a Byte";
    return false;
  }
  out = static_cast<uint8_t>(d);
  return true;
}

bool Variant::to_int16(int16_t& out, std::string& error) const {
  double d = 0;
  if (!to_double(d, error)) return false;
  d = raster::round_half_even(d);
  if (d < std::numeric_limits<int16_t>::min() || d > std::numeric_limits<int16_t>::max()) {
    error = format_double(d) + " overflows an Integer";
    return false;
  }
  out = static_cast<int16_t>(d);
  return true;
}

bool Variant::to_bool(bool& out, std::string& error) const {
  if (type() == Type::Boolean) {
    out = as_bool();
    return true;
  }
  double d = 0;
  if (!to_double(d, error)) return false;
  out = d != 0.0;
  return true;
}

bool Variant::to_string(std::string& out, std::string& error) const {
  switch (type()) {
    case Type::Empty:
      out.clear();
      return true;
    case Type::Boolean:
      out = as_bool() ? "True" : "False";
      return true;
    case Type::Integer:
      out = std::to_string(as_int16());
      return true;
    case Type::Long:
      out = std::to_string(as_int32());
      return true;
    case Type::Single:
      out = format_double(as_float());
      return true;
    case Type::Double:
      out = format_double(as_double());
      return true;
    case Type::String:
      out = as_string();
      return true;
    default:
      error = std::string(type_name(type())) + " is not text";
      return false;
  }
}

bool Variant::to_bytes(Array<uint8_t>& out, std::string& error) const {
  if (type() == Type::ByteArray) {
    out = as_bytes();
    return true;
  }
  if (type() == Type::Empty) {
    out = Array<uint8_t>();
    return true;
  }
  error = std::string(type_name(type())) + " is not a Byte array";
  return false;
}

bool Variant::to_longs(Array<int32_t>& out, std::string& error) const {
  if (type() == Type::LongArray) {
    out = as_longs();
    return true;
  }
  if (type() == Type::Empty) {
    out = Array<int32_t>();
    return true;
  }
  if (type() == Type::ByteArray) {  // bytes widen to Longs
    std::vector<int32_t> v(as_bytes().values().begin(), as_bytes().values().end());
    out = Array<int32_t>(std::move(v));
    return true;
  }
  error = std::string(type_name(type())) + " is not a Long array";
  return false;
}

bool Variant::to_object(ObjectRef& out, std::string& error) const {
  if (type() == Type::Object) {
    out = as_object();
    return true;
  }
  if (type() == Type::Empty) {
    out = ObjectRef{};
    return true;
  }
  error = std::string(type_name(type())) + " is not an object";
  return false;
}

std::string Variant::to_display() const {
  std::string s, ignored;
  switch (type()) {
    case Type::Empty:
      return "";
    case Type::Missing:
      return "(missing)";
    case Type::ByteArray:
      return "Byte(" + std::to_string(as_bytes().size()) + " bytes)";
    case Type::LongArray: {
      const Array<int32_t>& a = as_longs();
      std::string out;
      for (size_t i = 0; i < a.size(); ++i) {
        if (i > 0) out.push_back(',');
        out.append(std::to_string(a.data()[i]));
      }
      return out;
    }
    case Type::Object:
      return as_object().ptr ? "[" + as_object().kind + "]" : "Nothing";
    default:
      to_string(s, ignored);
      return s;
  }
}

}  // namespace korvex
