// Variant: the value type of late-bound calls (command line, Python, hosts).
//
// It holds nothing (empty), a missing optional argument, a Boolean, Integer
// (16-bit), Long (32-bit), Single, Double, String (UTF-8), a Byte array, a
// Long array of one to three dimensions, or an object (a picture, a stream,
// an automation object). Conversions follow what automation hosts expect:
// numeric strings become numbers, numbers become strings, Booleans come from
// numbers (non-zero is True, which is -1 as a number); floating values are
// rounded half to even when a whole number is asked for; values out of range
// and text that is no number are refused with a message.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "korvex/array.h"

namespace korvex {

// An object carried by a Variant: shared ownership and the kind it is
// ("Picture", "Stream", or an automation class name).
struct ObjectRef {
  std::shared_ptr<void> ptr;
  std::string kind;
  template <typename T>
  std::shared_ptr<T> as() const {
    return std::static_pointer_cast<T>(ptr);
  }
};

class Variant {
 public:
  enum class Type {
    Empty,
    Missing,
    Boolean,
    Integer,
    Long,
    Single,
    Double,
    String,
    ByteArray,
    LongArray,
    Object
  };
  struct MissingTag {};

  Variant() = default;
  Variant(bool v) : v_(v) {}
  Variant(int16_t v) : v_(v) {}
  Variant(int32_t v) : v_(v) {}
  Variant(float v) : v_(v) {}
  Variant(double v) : v_(v) {}
  Variant(const char* v) : v_(std::string(v)) {}
  Variant(std::string v) : v_(std::move(v)) {}
  Variant(Array<uint8_t> v) : v_(std::move(v)) {}
  Variant(Array<int32_t> v) : v_(std::move(v)) {}
  Variant(ObjectRef v) : v_(std::move(v)) {}
  static Variant Missing() {
    Variant v;
    v.v_ = MissingTag{};
    return v;
  }

  Type type() const { return static_cast<Type>(v_.index()); }
  bool is_empty() const { return type() == Type::Empty; }
  bool is_missing() const { return type() == Type::Missing; }
  static const char* type_name(Type t);

  // Conversions; each returns false with a message when impossible.
  bool to_bool(bool& out, std::string& error) const;
  bool to_byte(uint8_t& out, std::string& error) const;  // 0..255
  bool to_int16(int16_t& out, std::string& error) const;
  bool to_int32(int32_t& out, std::string& error) const;
  bool to_float(float& out, std::string& error) const;
  bool to_double(double& out, std::string& error) const;
  bool to_string(std::string& out, std::string& error) const;
  bool to_bytes(Array<uint8_t>& out, std::string& error) const;
  bool to_longs(Array<int32_t>& out, std::string& error) const;
  bool to_object(ObjectRef& out, std::string& error) const;

  // Direct access (the value must hold that type).
  bool as_bool() const { return std::get<bool>(v_); }
  int16_t as_int16() const { return std::get<int16_t>(v_); }
  int32_t as_int32() const { return std::get<int32_t>(v_); }
  float as_float() const { return std::get<float>(v_); }
  double as_double() const { return std::get<double>(v_); }
  const std::string& as_string() const { return std::get<std::string>(v_); }
  const Array<uint8_t>& as_bytes() const { return std::get<Array<uint8_t>>(v_); }
  const Array<int32_t>& as_longs() const { return std::get<Array<int32_t>>(v_); }
  const ObjectRef& as_object() const { return std::get<ObjectRef>(v_); }

  // A short text for display: numbers and strings as they are, Booleans as
  // True/False, arrays as their element count and bounds.
  std::string to_display() const;

 private:
  std::variant<std::monostate, MissingTag, bool, int16_t, int32_t, float, double, std::string,
               Array<uint8_t>, Array<int32_t>, ObjectRef>
      v_;
};

}  // namespace korvex
