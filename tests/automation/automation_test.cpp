// The type library and late-bound calls: Variant conversions, dispatch errors, defaults,
// by-reference write-back, and every public engine member in the table and callable.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <filesystem>
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
  // Each conversion must succeed; the converted value is returned for comparison.
  auto i32 = [&](Variant v) { int32_t x = 0; EXPECT_TRUE(v.to_int32(x, e)) << e; return x; };
  auto str = [&](Variant v) { std::string x; EXPECT_TRUE(v.to_string(x, e)) << e; return x; };
  auto bln = [&](Variant v) { bool x = false; EXPECT_TRUE(v.to_bool(x, e)) << e; return x; };
  int16_t i = 0;
  double d = 0;
  EXPECT_EQ(i32(Variant("  42 ")), 42);
  EXPECT_EQ(i32(Variant(2.5)), 2);  // halves to even
  EXPECT_TRUE(Variant(3.5).to_int16(i, e));
  EXPECT_EQ(i, 4);
  EXPECT_EQ(i32(Variant("&HFF")), 255);
  EXPECT_EQ(i32(Variant(4278190080.0)), static_cast<int32_t>(0xFF000000));  // colour wraps
  EXPECT_EQ(i32(Variant(true)), -1);
  EXPECT_FALSE(Variant(40000).to_int16(i, e));
  EXPECT_NE(e.find("overflows an Integer"), std::string::npos);
  EXPECT_FALSE(Variant("12abc").to_double(d, e));
  EXPECT_NE(e.find("\"12abc\" is not a number"), std::string::npos);
  EXPECT_TRUE(bln(Variant(int32_t{-3})));
  EXPECT_FALSE(bln(Variant("0")));
  EXPECT_EQ(str(Variant(int16_t{7})), "7");
  EXPECT_EQ(str(Variant(false)), "False");
  EXPECT_EQ(str(Variant(0.25)), "0.25");
  Array<uint8_t> bytes;
  std::string s;
  EXPECT_FALSE(Variant("x").to_bytes(bytes, e));
  EXPECT_FALSE(Variant(Array<uint8_t>()).to_string(s, e));
  EXPECT_EQ(Variant(Array<uint8_t>(std::vector<uint8_t>(5))).to_display(), "Byte(5 bytes)");
}

// A call whose by-reference results are not looked at.
template <typename Name>
CallResult Call(const Object& o, Name name, std::vector<Variant> args = {}) {
  return o.Invoke(name, args);
}

TEST(Dispatch, NamesAreCaseInsensitiveAndErrorsSayWhatFailed) {
  Object e = CreateObject("korvex.ckorvex");
  ASSERT_TRUE(e);
  EXPECT_TRUE(CreateObject("{6F1C2A40-8B3E-4D27-9A51-3C0E7D2B9F01}"));
  EXPECT_FALSE(CreateObject("Korvex.Nothing"));
  CallResult r = Call(e, "createimage", {Variant(30), Variant("20")});  // "20" becomes a Long
  ASSERT_EQ(r.error, DispatchError::None) << r.message;
  EXPECT_EQ(r.value.as_int32(), 0);
  EXPECT_EQ(Call(e, "GetWidth").value.as_int32(), 30);
  EXPECT_EQ(Call(e, e.cls()->find("GetHeight")->dispid).value.as_int32(), 20);
  EXPECT_EQ(Call(e, "NoSuchMember").error, DispatchError::UnknownMember);
  EXPECT_EQ(Call(e, 0x7FFFFFFF).error, DispatchError::UnknownMember);
  EXPECT_EQ(Call(e, "CloseImage", {Variant(1), Variant(2)}).error,
            DispatchError::BadArgumentCount);
  CallResult m = Call(e, "CloseImage");
  EXPECT_EQ(m.error, DispatchError::BadArgumentCount);
  EXPECT_NE(m.message.find("nImageID"), std::string::npos);
  CallResult t = Call(e, "SaveAsJpeg", {Variant("out.jpg"), Variant("high")});
  EXPECT_EQ(t.error, DispatchError::TypeMismatch);
  EXPECT_NE(t.message.find("nQuality"), std::string::npos);
  EXPECT_EQ(Call(Object(), "GetWidth").error, DispatchError::UnknownMember);
}

TEST(Dispatch, DefaultsFillOmittedArgumentsAndByRefValuesComeBack) {
  Object e = CreateObject("Korvex.cKorvex");
  // CreateNewImage(w, h [, nPixelFormat = 32 [, nBackColor]]), a Missing in the middle.
  std::vector<Variant> args = {Variant(4), Variant(3), Variant::Missing(),
                               Variant(0xFFFF0000u * 1.0)};
  CallResult r = e.Invoke("CreateNewImage", args);
  ASSERT_EQ(r.error, DispatchError::None) << r.message;
  EXPECT_GT(r.value.as_int32(), 0);
  EXPECT_EQ(args[2].as_int16(), 32);  // the default filled in
  EXPECT_EQ(Call(e, "ColorPaletteGetColorsCount").value.as_int32(), 0);

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

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The engine header and, after it, its member-family files (korvex/engine/*.inc,
// each included once inside the class, as the type library's generator checks).
std::string EngineHeaderExpanded() {
  const std::filesystem::path include = std::filesystem::path(KORVEX_SOURCE_DIR) / "include";
  std::string text = ReadFile(include / "korvex/engine.h");
  for (const auto& f : std::filesystem::directory_iterator(include / "korvex/engine"))
    text += ReadFile(f.path());
  return text;
}

// Every public member of the engine header (and of the member-family files it
// includes) is in the table with its parameter names.
TEST(TypeLibrary, EveryEngineMemberIsDeclaredOnceAndCallable) {
  const std::string header = EngineHeaderExpanded();
  ASSERT_NE(header.find("class cKorvex {"), std::string::npos);
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
  // Each entry also reaches its member: defaults and neutral values make no dispatch error.
  // The scanning members see no scanner backend at all (an empty private SANE
  // configuration), so the machine's backends are neither probed nor leak.
  char sane_dir[] = "/tmp/korvex-sane-XXXXXX";
  ASSERT_NE(mkdtemp(sane_dir), nullptr);
  std::ofstream(std::string(sane_dir) + "/dll.conf").close();
  setenv("SANE_CONFIG_DIR", sane_dir, 1);
  Object e = CreateObject("Korvex.cKorvex");
  for (const Member& m : cls->members) {
    tabled.insert(m.name);
    ids.insert(m.dispid);
    std::vector<Variant> args;
    for (const Param& p : m.params) {
      EXPECT_NE(body.find(std::string(p.name)), std::string::npos) << m.name << " " << p.name;
      args.push_back(p.default_value                ? Variant::Missing()
                     : p.type == VarType::String ? Variant("/nonexistent/korvex")
                                                 : Variant());
    }
    const CallResult r = Call(e, m.name, std::move(args));
    EXPECT_EQ(r.error, DispatchError::None) << m.name << ": " << r.message;
  }
  EXPECT_EQ(tabled, declared);
  EXPECT_EQ(ids.size(), cls->members.size());  // dispatch ids are distinct
  std::remove((std::string(sane_dir) + "/dll.conf").c_str());
  rmdir(sane_dir);
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

// Command words and Python values reach members through one converter: Long arrays start
// every dimension at 1, points are (1..n, 1..2) as the drawing members read them.
TEST(Arguments, WordsAndListsBecomeTheSameArrays) {
  const Param points{"arPoints", VarType::LongArray, true, std::nullopt};
  struct Row {
    const char* what;
    ScriptValue value;                           // a word (String scalar) or a list
    std::vector<Array<int32_t>::Bounds> bounds;  // first index first
    std::vector<int32_t> values;                 // in memory order
    const char* error;                           // or a failure containing this
  };
  // clang-format off
  const Row rows[] = {
      {"list text", S("1, 2,3,"), {{1, 3}}, {1, 2, 3}, nullptr},
      {"points", S("10,10;90,10;50,90"), {{1, 3}, {1, 2}}, {10, 90, 50, 10, 10, 90}, nullptr},
      {"x's then y's", L({Ints({10, 90, 50}), Ints({10, 10, 90})}), {{1, 3}, {1, 2}},
       {10, 90, 50, 10, 10, 90}, nullptr},
      {"three levels", L({L({Ints({1, 2})}), L({Ints({3, 4})})}), {{1, 2}, {1, 1}, {1, 2}},
       {1, 2, 3, 4}, nullptr},
      {"empty", S(""), {}, {}, nullptr},
      {"unsigned element", L({S(Variant(4294967295.0))}), {{1, 1}}, {-1}, nullptr},
      {"no number", S("1,x"), {}, {}, "arPoints: \"x\" is not a number"},
      {"half a point", S("1,2;3"), {}, {}, "point 2 (\"3\") is not x,y"},
      {"ragged", L({Ints({1, 2}), Ints({3})}), {}, {}, "equal lengths"},
      {"four levels", L({L({L({Ints({1})})})}), {}, {}, "at most three dimensions"},
      {"too big", L({S(Variant(1e10))}), {}, {}, "overflows a Long"},
  };
  // clang-format on
  for (const Row& r : rows) {
    Variant out;
    std::string error;
    const bool ok = ConvertArgument(r.value, &points, out, error);
    if (r.error != nullptr) {
      EXPECT_FALSE(ok) << r.what;
      EXPECT_NE(error.find(r.error), std::string::npos) << r.what << ": " << error;
      continue;
    }
    ASSERT_TRUE(ok) << r.what << ": " << error;
    const Array<int32_t>& a = out.as_longs();
    ASSERT_EQ(a.Dims(), static_cast<int32_t>(r.bounds.size())) << r.what;
    for (int d = 1; d <= a.Dims(); ++d) {
      EXPECT_EQ(a.LBound(d), r.bounds[d - 1].lower) << r.what;
      EXPECT_EQ(a.UBound(d), r.bounds[d - 1].upper) << r.what;
    }
    EXPECT_EQ(a.values(), r.values) << r.what;
  }
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
  for (const auto& sink : {a, b}) source.Advise(sink);
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
