// Image sources: files, byte arrays, binary strings and streams, and who owns
// the images they make.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/cp1252.h"
#include "engine/state.h"
#include "korvex/korvex.h"
#include "raster/handles.h"
#include "standin_codec.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
namespace fs = std::filesystem;

class Sources : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::install();
    dir_ = fs::temp_directory_path() / ("korvex-src-" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "sub");
    file_ = (dir_ / "sub" / "red.kxr").string();
    const auto bytes = standin::encode_bytes(3, 2, 0xFFFF0000);
    std::ofstream(file_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  void TearDown() override {
    standin::uninstall();
    fs::remove_all(dir_);
  }
  fs::path dir_;
  std::string file_;
};

TEST_F(Sources, FilesLoadByContentAfterPathCleanUpAndMissingOnesLeaveNoNativeImage) {
  cKorvex k;
  // Backslashes, doubled separators and spaces around the path.
  const int32_t id = k.CreateImageFromFile("  " + dir_.string() + "\\\\sub\\red.kxr ");
  ASSERT_NE(id, 0) << static_cast<int>(k.GetStat());
  EXPECT_EQ(k.GetNativeImage(), id);
  EXPECT_EQ(k.GetWidth(), 3);
  EXPECT_EQ(k.GetImageFormat(), "PNG");
  EXPECT_EQ(k.LoadFromFile((dir_ / "nothing.png").string()), S::FileNotFound);
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_NE(raster::find_image(id), nullptr);               // the caller's image was not disposed
  EXPECT_EQ(k.LoadFromFile(dir_.string()), S::Win32Error);  // a folder
  std::ofstream(dir_ / "text.txt") << "hello, not an image";
  EXPECT_EQ(k.LoadFromFile((dir_ / "text.txt").string()), S::UnknownImageFormat);
  std::ofstream{dir_ / "empty.png"};
  EXPECT_EQ(k.LoadFromFile((dir_ / "empty.png").string()), S::GenericError);
  k.CloseImage(id);
}

TEST_F(Sources, CreateImageFromLeavesTheImageToTheCallerAndLoadFromOwnsIts) {
  cKorvex k;
  ASSERT_EQ(k.LoadFromFile(file_), S::Ok);
  const int32_t owned = k.GetNativeImage();
  EXPECT_TRUE(EngineAccess::state(k).NativeOwned);
  const int32_t mine = k.CreateImageFromFile(file_);
  ASSERT_NE(mine, 0);
  EXPECT_FALSE(EngineAccess::state(k).NativeOwned);
  // A later load closes only what the engine owns: here nothing.
  ASSERT_EQ(k.LoadFromFile(file_), S::Ok);
  EXPECT_NE(raster::find_image(mine), nullptr);
  EXPECT_NE(raster::find_image(owned), nullptr);  // forgotten by the earlier CreateImageFrom...
  k.CloseImage(mine);
  k.CloseImage(owned);
}

TEST_F(Sources, ByteArraysAreCopiedAndTooShortOnesRefused) {
  cKorvex k;
  const auto encoded = standin::encode_bytes(2, 2, 0xFF00FF00);
  Array<uint8_t> bytes(encoded);
  const int32_t id = k.CreateImageFromByteArray(bytes);
  ASSERT_NE(id, 0);
  std::fill(bytes.values().begin(), bytes.values().end(), 0);
  bytes.Erase();
  uint32_t v = 0;
  ASSERT_EQ(raster::find_image(id)->get_pixel(1, 1, v), raster::Status::Ok);
  EXPECT_EQ(v, 0xFF00FF00u);
  Array<uint8_t> one(std::vector<uint8_t>{0x42});
  EXPECT_EQ(k.CreateImageFromByteArray(one), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  // An array whose upper bound is 1 with a lower bound of 1 holds a single byte.
  Array<uint8_t> based;
  based.Redim({{1, 1}});
  EXPECT_EQ(k.LoadFromByteArray(based), S::InvalidParameter);
  Array<uint8_t> throwing(standin::encode_bytes(1, 1, 0));
  throwing.values()[4] = 0xEE;  // makes the stand-in decoder throw
  EXPECT_EQ(k.CreateImageFromByteArray(throwing), 0);
  EXPECT_EQ(static_cast<int>(k.GetStat()), 23);
  k.CloseImage(id);
}

TEST_F(Sources, ImageStringsNeedTwoCharactersAndStreamsAreReadFromTheirPosition) {
  cKorvex k;
  EXPECT_EQ(k.CreateImageFromString(""), 0);
  EXPECT_EQ(k.GetStat(), S::GenericError);
  EXPECT_EQ(k.CreateImageFromString("\xE2\x82\xAC"), 0);  // one character, three UTF-8 bytes
  EXPECT_EQ(k.GetStat(), S::ProfileNotFound);
  EXPECT_EQ(k.LoadFromString("ab"), S::UnknownImageFormat);

  auto encoded = standin::encode_bytes(4, 1, 0xFF0000FF);
  std::vector<uint8_t> with_prefix = {'j', 'u', 'n', 'k'};
  with_prefix.insert(with_prefix.end(), encoded.begin(), encoded.end());
  auto stream = std::make_shared<MemoryStream>(with_prefix);
  stream->Seek(4, Stream::kBegin);
  ASSERT_EQ(k.LoadFromStream(stream), S::Ok);
  EXPECT_EQ(k.GetWidth(), 4);
  EXPECT_EQ(k.LoadFromStream(nullptr), S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_EQ(k.CreateImageFromStream(stream), 0);  // at its end now: nothing to read
  EXPECT_EQ(k.GetStat(), S::GenericError);
}

TEST(Cp1252, BytesAndCharactersMapBothWays) {
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  const std::string text = BytesToCp1252String(all.data(), all.size());
  EXPECT_EQ(Cp1252StringToBytes(text), all);
  EXPECT_EQ(BytesToCp1252String(all.data() + 0x80, 1), "\xE2\x82\xAC");
  EXPECT_EQ(BytesToCp1252String(all.data() + 0x9F, 1), "\xC5\xB8");  // Y with diaeresis
  EXPECT_EQ(BytesToCp1252String(all.data() + 0xE9, 1), "\xC3\xA9");
  // Outside the code page, broken and overlong UTF-8: '?'.
  EXPECT_EQ(Cp1252StringToBytes("\xE4\xB8\xAD"), std::vector<uint8_t>{'?'});
  EXPECT_EQ(Cp1252StringToBytes("a\xC3"), (std::vector<uint8_t>{'a', '?'}));
  EXPECT_EQ(Cp1252StringToBytes("\xC0\x80"), (std::vector<uint8_t>{'?', '?'}));
}

}  // namespace
}  // namespace korvex
