// The type library and late-bound calls: Variant conversions, dispatch
// errors, defaults, by-reference write-back, and that every public member of
// the engine is in the table and callable.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "korvex/automation.h"

// GCC 12 at -O3 reports std::variant storage of a default Variant as maybe
// uninitialised once the whole member table is inlined; it is not.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "korvex/korvex.h"

namespace korvex::automation {
namespace {

TEST(Variants, ConvertAsAutomationHostsExpect) {
  std::string e;
  int32_t l = 0;
  int16_t i = 0;
  bool b = false;
  double d = 0;
  std::string s;
  EXPECT_TRUE(Variant("  42 ").to_int32(l, e));
  EXPECT_EQ(l, 42);
  EXPECT_TRUE(Variant(2.5).to_int32(l, e));  // halves to even
  EXPECT_EQ(l, 2);
  EXPECT_TRUE(Variant(3.5).to_int16(i, e));
  EXPECT_EQ(i, 4);
  EXPECT_TRUE(Variant("&HFF").to_int32(l, e));
  EXPECT_EQ(l, 255);
  EXPECT_TRUE(Variant(4278190080.0).to_int32(l, e));  // an unsigned colour wraps
  EXPECT_EQ(l, static_cast<int32_t>(0xFF000000));
  EXPECT_FALSE(Variant(40000).to_int16(i, e));
  EXPECT_NE(e.find("overflows an Integer"), std::string::npos);
  EXPECT_FALSE(Variant("12abc").to_double(d, e));
  EXPECT_NE(e.find("\"12abc\" is not a number"), std::string::npos);
  EXPECT_TRUE(Variant(int32_t{-3}).to_bool(b, e));
  EXPECT_TRUE(b);
  EXPECT_TRUE(Variant("0").to_bool(b, e));
  EXPECT_FALSE(b);
  EXPECT_TRUE(Variant(true).to_int32(l, e));
  EXPECT_EQ(l, -1);
  EXPECT_TRUE(Variant(int16_t{7}).to_string(s, e));
  EXPECT_EQ(s, "7");
  EXPECT_TRUE(Variant(false).to_string(s, e));
  EXPECT_EQ(s, "False");
  EXPECT_TRUE(Variant(0.25).to_string(s, e));
  EXPECT_EQ(s, "0.25");
  Array<uint8_t> bytes;
  EXPECT_FALSE(Variant("x").to_bytes(bytes, e));
  EXPECT_FALSE(Variant(Array<uint8_t>()).to_string(s, e));
  EXPECT_EQ(Variant(Array<uint8_t>(std::vector<uint8_t>(5))).to_display(), "Byte(5 bytes)");
}

TEST(Dispatch, NamesAreCaseInsensitiveAndErrorsSayWhatFailed) {
  Object e = CreateObject("korvex.ckorvex");
  ASSERT_TRUE(e);
  EXPECT_TRUE(CreateObject("{6F1C2A40-8B3E-4D27-9A51-3C0E7D2B9F01}"));
  EXPECT_FALSE(CreateObject("Korvex.Nothing"));
  std::vector<Variant> args = {Variant(30), Variant("20")};
  CallResult r = e.Invoke("createimage", args);  // string "20" becomes a Long
  ASSERT_EQ(r.error, DispatchError::None) << r.message;
  EXPECT_EQ(r.value.as_int32(), 0);
  std::vector<Variant> none;
  EXPECT_EQ(e.Invoke("GetWidth", none).value.as_int32(), 30);
  EXPECT_EQ(e.Invoke(e.cls()->find("GetHeight")->dispid, none).value.as_int32(), 20);

  EXPECT_EQ(e.Invoke("NoSuchMember", none).error, DispatchError::UnknownMember);
  EXPECT_EQ(e.Invoke(0x7FFFFFFF, none).error, DispatchError::UnknownMember);
  std::vector<Variant> too_many = {Variant(1), Variant(2)};
  EXPECT_EQ(e.Invoke("CloseImage", too_many).error, DispatchError::BadArgumentCount);
  std::vector<Variant> missing;
  CallResult m = e.Invoke("CloseImage", missing);
  EXPECT_EQ(m.error, DispatchError::BadArgumentCount);
  EXPECT_NE(m.message.find("nImageID"), std::string::npos);
  std::vector<Variant> bad = {Variant("out.jpg"), Variant("high")};
  CallResult t = e.Invoke("SaveAsJpeg", bad);
  EXPECT_EQ(t.error, DispatchError::TypeMismatch);
  EXPECT_NE(t.message.find("nQuality"), std::string::npos);
  EXPECT_EQ(Object().Invoke("GetWidth", none).error, DispatchError::UnknownMember);
}

TEST(Dispatch, DefaultsFillOmittedArgumentsAndByRefValuesComeBack) {
  Object e = CreateObject("Korvex.cKorvex");
  // CreateNewImage(w, h [, nPixelFormat = 32 [, nBackColor = opaque black]]), a Missing in the
  // middle.
  std::vector<Variant> args = {Variant(4), Variant(3), Variant::Missing(),
                               Variant(0xFFFF0000u * 1.0)};
  CallResult r = e.Invoke("CreateNewImage", args);
  ASSERT_EQ(r.error, DispatchError::None) << r.message;
  EXPECT_GT(r.value.as_int32(), 0);
  EXPECT_EQ(args[2].as_int16(), 32);  // the default filled in
  std::vector<Variant> fmt;
  EXPECT_EQ(e.Invoke("ColorPaletteGetColorsCount", fmt).value.as_int32(), 0);

  std::vector<Variant> out = {Variant(), Variant(), Variant("png")};
  CallResult s = e.Invoke("SaveAsByteArray", out);
  ASSERT_EQ(s.error, DispatchError::None) << s.message;
  ASSERT_EQ(out[0].type(), Variant::Type::ByteArray);
  EXPECT_EQ(out[1].as_int32(), static_cast<int32_t>(out[0].as_bytes().size()));
  EXPECT_EQ(out[0].as_bytes()(1), 'P');

  // A by-reference Boolean goes in and comes back.
  std::vector<Variant> flag = {Variant(true)};
  EXPECT_EQ(e.Invoke("TagsBypassKorvexTag", flag).error, DispatchError::None);
  EXPECT_TRUE(flag[0].as_bool());
}

// Every public member declared in the engine header is in the table, with the
// parameter names written there, and every entry calls its member.
TEST(TypeLibrary, EveryEngineMemberIsDeclaredOnceAndCallable) {
  std::ifstream in(std::string(KORVEX_SOURCE_DIR) + "/include/korvex/engine.h");
  const std::string header((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string body = header.substr(header.find("class cKorvex {"));
  std::set<std::string> declared;
  const std::regex decl(R"(\n  [A-Za-z][\w:<>]*\s+(\w+)\()");
  for (std::sregex_iterator it(body.begin(), body.end(), decl), end; it != end; ++it) {
    declared.insert((*it)[1]);
  }
  const ClassInfo* cls = FindClass("cKorvex");
  ASSERT_NE(cls, nullptr);
  std::set<std::string> tabled;
  std::set<int32_t> ids;
  for (const Member& m : cls->members) {
    tabled.insert(m.name);
    ids.insert(m.dispid);
    for (const Param& p : m.params) {
      EXPECT_NE(body.find(std::string(p.name)), std::string::npos) << m.name << " " << p.name;
    }
  }
  EXPECT_EQ(tabled, declared);
  EXPECT_EQ(ids.size(), cls->members.size());  // dispatch ids are distinct

  // Each entry reaches its member: a call with defaults and neutral values
  // makes no dispatch error.
  Object e = CreateObject("Korvex.cKorvex");
  for (const Member& m : cls->members) {
    std::vector<Variant> args;
    for (const Param& p : m.params) {
      if (p.default_value) {
        args.push_back(Variant::Missing());
      } else if (p.type == VarType::String) {
        args.push_back(Variant("/nonexistent/korvex"));
      } else {
        args.push_back(Variant());
      }
    }
    const CallResult r = e.Invoke(m.name, args);
    EXPECT_EQ(r.error, DispatchError::None) << m.name << ": " << r.message;
  }
}

ScriptValue S(Variant v) {
  return ScriptValue{std::move(v), false, {}};
}
ScriptValue L(std::vector<ScriptValue> items) {
  return ScriptValue{Variant(), true, std::move(items)};
}
ScriptValue Ints(std::initializer_list<int32_t> values) {
  std::vector<ScriptValue> items;
  for (int32_t v : values) items.push_back(S(Variant(v)));
  return L(std::move(items));
}

// Command words and Python values reach members through one converter:
// Long arrays start every dimension at 1, points are (1..n, 1..2).
TEST(Arguments, WordsAndListsBecomeTheSameArrays) {
  const Param longs{"arPoints", VarType::LongArray, true, std::nullopt};
  const Param number{"nX", VarType::Long, false, std::nullopt};
  struct Row {
    const char* what;
    ScriptValue value;  // a word (String scalar) or a list
    const Param* param;
    std::vector<Array<int32_t>::Bounds> bounds;  // Long array expected, first index first
    std::vector<int32_t> values;                 // in memory order
    const char* error;                           // or a failure containing this
  };
  const Row rows[] = {
      {"list text", S("1, 2,3,"), &longs, {{1, 3}}, {1, 2, 3}, nullptr},
      {"colours wrap", S("0xFF000000,&HFF,-1"), &longs, {{1, 3}}, {-16777216, 255, -1}, nullptr},
      {"points",
       S("10,10;90,10;50,90"),
       &longs,
       {{1, 3}, {1, 2}},
       {10, 90, 50, 10, 10, 90},
       nullptr},
      {"one point", S("7,8;"), &longs, {{1, 1}, {1, 2}}, {7, 8}, nullptr},
      {"empty", S(""), &longs, {}, {}, nullptr},
      {"flat list", Ints({4, 5}), &longs, {{1, 2}}, {4, 5}, nullptr},
      {"x's then y's",
       L({Ints({10, 90, 50}), Ints({10, 10, 90})}),
       &longs,
       {{1, 3}, {1, 2}},
       {10, 90, 50, 10, 10, 90},
       nullptr},
      {"three levels",
       L({L({Ints({1, 2})}), L({Ints({3, 4})})}),
       &longs,
       {{1, 2}, {1, 1}, {1, 2}},
       {1, 2, 3, 4},
       nullptr},
      {"unsigned element", L({S(Variant(4294967295.0))}), &longs, {{1, 1}}, {-1}, nullptr},
      {"list past the parameters", Ints({1}), nullptr, {{1, 1}}, {1}, nullptr},
      {"no number", S("1,x"), &longs, {}, {}, "arPoints: \"x\" is not a number"},
      {"half a point", S("1,2;3"), &longs, {}, {}, "point 2 (\"3\") is not x,y"},
      {"ragged", L({Ints({1, 2}), Ints({3})}), &longs, {}, {}, "equal lengths"},
      {"mixed levels", L({Ints({1}), S(Variant(2))}), &longs, {}, {}, "equal lengths"},
      {"four levels", L({L({L({Ints({1})})})}), &longs, {}, {}, "at most three dimensions"},
      {"too big", L({S(Variant(1e10))}), &longs, {}, {}, "overflows a Long"},
  };
  for (const Row& r : rows) {
    Variant out;
    std::string error;
    const bool ok = ConvertArgument(r.value, r.param, out, error);
    if (r.error != nullptr) {
      EXPECT_FALSE(ok) << r.what;
      EXPECT_NE(error.find(r.error), std::string::npos) << r.what << ": " << error;
      continue;
    }
    ASSERT_TRUE(ok) << r.what << ": " << error;
    ASSERT_EQ(out.type(), Variant::Type::LongArray) << r.what;
    const Array<int32_t>& a = out.as_longs();
    ASSERT_EQ(a.Dims(), static_cast<int32_t>(r.bounds.size())) << r.what;
    for (size_t d = 0; d < r.bounds.size(); ++d) {
      EXPECT_EQ(a.LBound(static_cast<int>(d + 1)), r.bounds[d].lower) << r.what;
      EXPECT_EQ(a.UBound(static_cast<int>(d + 1)), r.bounds[d].upper) << r.what;
    }
    EXPECT_EQ(a.values(), r.values) << r.what;
  }

  // Other words: "_" is missing, numbers (negative ones too) stay text until
  // the call converts them, "@file" needs a readable file.
  Variant w;
  std::string e;
  ASSERT_TRUE(ArgumentFromWord("_", &number, w, e));
  EXPECT_TRUE(w.is_missing());
  ASSERT_TRUE(ArgumentFromWord("-12.5", &number, w, e));
  EXPECT_EQ(w.as_string(), "-12.5");
  const Param bytes{"arBytes", VarType::ByteArray, true, std::nullopt};
  EXPECT_FALSE(ArgumentFromWord("@/nonexistent/korvex", &bytes, w, e));
  EXPECT_EQ(e, "cannot read /nonexistent/korvex");

  // The engine reads such point arrays; a 0-based (0..n-1, 0..1) one has no y column.
  Object k = CreateObject("Korvex.cKorvex");
  std::vector<Variant> create = {Variant(20), Variant(20)};
  ASSERT_EQ(k.Invoke("CreateImage", create).value.as_int32(), 0);
  Variant points;
  ASSERT_TRUE(ArgumentFromWord("2,2;18,2;10,18", &longs, points, e));
  std::vector<Variant> draw = {points};
  EXPECT_EQ(k.Invoke("DrawCurves", draw).value.as_int32(), 0);
  Array<int32_t> zero_based;
  zero_based.Redim({{0, 2}, {0, 1}});
  std::vector<Variant> refused = {Variant(zero_based)};
  EXPECT_EQ(k.Invoke("DrawCurves", refused).value.as_int32(),
            static_cast<int32_t>(cKorvexStatus::InvalidParameter));
}

// Unknown names get the nearest members; help text lists parameters,
// defaults and the result, as `korvex --help` and Python's help() show it.
TEST(Describe, MisspeltNamesAndHelp) {
  const ClassInfo* cls = FindClass("cKorvex");
  EXPECT_EQ(cls->not_a_member("SaveAsJPG"),
            "SaveAsJPG is not a member of cKorvex (closest: SaveAsJpeg)");
  EXPECT_EQ(cls->not_a_member("Qqqqqqqqqqqqqq"), "Qqqqqqqqqqqqqq is not a member of cKorvex");
  std::vector<Variant> none;
  EXPECT_EQ(CreateObject("Korvex.cKorvex").Invoke("GetWidht", none).message,
            "GetWidht is not a member of cKorvex (closest: GetWidth)");
  EXPECT_EQ(MemberHelp(*cls->find("Resize")),
            "Resize(nNewPictureWidth As Long, nNewPictureHeight As Long, "
            "[nInterpolationMode As Long = 0]) As cKorvexStatus\n"
            "\n"
            "  nNewPictureWidth    Long\n"
            "  nNewPictureHeight   Long\n"
            "  nInterpolationMode  Long, optional, default 0\n"
            "  returns             cKorvexStatus (0 = Ok)\n");
  EXPECT_EQ(MemberHelp(*cls->find("SaveAsByteArray")),
            "SaveAsByteArray(ByRef arBytes As Byte(), ByRef nBitsRead As Long, sImageFormat As "
            "String, [nEncoderParameter As Long = 0]) As cKorvexStatus\n"
            "\n"
            "  arBytes            Byte(), by reference: its value comes back after the result\n"
            "  nBitsRead          Long, by reference: its value comes back after the result\n"
            "  sImageFormat       String\n"
            "  nEncoderParameter  Long, optional, default 0\n"
            "  returns            cKorvexStatus (0 = Ok)\n");
}

TEST(Events, SinksSeeArgumentsInTurnAndMayChangeThem) {
  struct Doubler : EventSink {
    std::vector<int32_t> seen;
    void OnEvent(int32_t dispid, std::vector<Variant>& args) override {
      seen.push_back(dispid);
      args[0] = Variant(args[0].as_int32() * 2);
    }
  };
  auto a = std::make_shared<Doubler>(), b = std::make_shared<Doubler>();
  EventSource source;
  source.Advise(a);
  source.Advise(b);
  std::vector<Variant> args = {Variant(5)};
  source.Raise(12, args);
  EXPECT_EQ(args[0].as_int32(), 20);
  source.Unadvise(a);
  source.Raise(5, args);
  EXPECT_EQ(a->seen, std::vector<int32_t>{12});
  EXPECT_EQ(b->seen, (std::vector<int32_t>{12, 5}));
}

}  // namespace
}  // namespace korvex::automation
