// Metafiles through the engine's sources: files keep their format name,
// picture objects of type 2 and 4 and clipboard format 3 give plain bitmaps.
#include <string>
#include <vector>

#include "engine_test_util.h"
#include "korvex/host.h"

namespace korvex {
namespace {

std::string data_file(const std::string& name) {
  return std::string(KORVEX_SOURCE_DIR) + "/tests/data/metafile/" + name;
}

int32_t metafile_handle(const std::string& name, bool enhanced) {
  const std::vector<uint8_t> b = testutil::read_file(data_file(name));
  return enhanced ? host::SetEnhMetaFileBits(b.data(), b.size())
                  : host::SetMetaFileBits(b.data(), b.size());
}

TEST(MetafileSources, FilesPicturesAndTheClipboardGiveTheSamePixels) {
  struct Case {
    const char* file;
    host::Picture::Type type;
    const char* format;
  };
  for (const Case& c : {Case{"pillow_drawing.wmf", host::Picture::kMetafile, "WMF"},
                        Case{"emf2svg_test-023.emf", host::Picture::kEnhancedMetafile, "EMF"}}) {
    SCOPED_TRACE(c.file);
    const bool enhanced = c.type == host::Picture::kEnhancedMetafile;
    cKorvex k;
    ASSERT_EQ(k.LoadFromFile(data_file(c.file)), S::Ok);
    EXPECT_EQ(k.GetImageFormat(), c.format);
    const std::vector<uint32_t> from_file = testutil::argb_pixels(*img(k.GetNativeImage()));

    // A picture object: drawn onto a bitmap, so a memory bitmap of the same pixels.
    auto picture = std::make_shared<host::Picture>(c.type, metafile_handle(c.file, enhanced));
    ASSERT_EQ(k.LoadFromPicture(picture), S::Ok);
    EXPECT_EQ(k.GetImageFormat(), "Memory BMP");
    EXPECT_EQ(testutil::argb_pixels(*img(k.GetNativeImage())), from_file);
    // The picture keeps its handle.
    EXPECT_NE(host::GetMetafile(picture->handle()), nullptr);

    // The same handle shown as the other kind of metafile is no picture.
    auto wrong = std::make_shared<host::Picture>(
        enhanced ? host::Picture::kMetafile : host::Picture::kEnhancedMetafile,
        picture->handle(), 0, false);
    EXPECT_EQ(k.CreateImageFromPicture(wrong), 0);
    EXPECT_EQ(k.GetStat(), S::UnknownImageFormat);

    // Clipboard format 3 holds WMF metafiles only; it is read last.
    host::EmptyClipboard();
    const int32_t h = metafile_handle(c.file, enhanced);
    EXPECT_EQ(host::SetClipboardData(host::kClipboardMetafile, h), !enhanced);
    if (!enhanced) {
      ASSERT_EQ(k.LoadFromClipboard(), S::Ok);
      EXPECT_EQ(testutil::argb_pixels(*img(k.GetNativeImage())), from_file);
      host::EmptyClipboard();  // deletes the metafile it held
      EXPECT_EQ(host::GetMetafile(h), nullptr);
    } else {
      host::DeleteObject(h);
    }
  }
}

TEST(MetafileSources, AMetafileThatCannotBeRenderedGivesAStatusAndNoImage) {
  // Real bytes that libwmf refuses, and bytes cut before their end record.
  std::vector<uint8_t> cut = testutil::read_file(data_file("pillow_drawing.emf"));
  cut.resize(cut.size() - 20);
  const int32_t refused = metafile_handle("uemf_test_libuemf_ref.wmf", false);
  const int32_t truncated = host::SetEnhMetaFileBits(cut.data(), cut.size());
  cKorvex k;
  ASSERT_EQ(k.LoadFromFile(data_file("pillow_drawing.wmf")), S::Ok);
  const int32_t before = k.GetNativeImage();
  for (auto [type, h] : {std::pair(host::Picture::kMetafile, refused),
                         std::pair(host::Picture::kEnhancedMetafile, truncated)}) {
    EXPECT_EQ(k.CreateImageFromPicture(std::make_shared<host::Picture>(type, h)), 0);
    EXPECT_EQ(k.GetStat(), S::GenericError);
    EXPECT_EQ(k.GetNativeImage(), before);
  }
  EXPECT_EQ(k.LoadFromFile(data_file("uemf_test_libuemf_ref.wmf")), S::GenericError);
  EXPECT_EQ(k.GetNativeImage(), 0);
  // Bytes that are no metafile of the kind asked for get no handle at all.
  EXPECT_EQ(host::SetMetaFileBits(cut.data(), cut.size()), 0);
  EXPECT_EQ(host::SetEnhMetaFileBits(nullptr, 0), 0);
}

}  // namespace
}  // namespace korvex
