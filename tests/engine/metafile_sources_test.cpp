// Metafiles through the engine's sources: files keep their format name,
// picture objects of type 2 and 4 and clipboard format 3 give memory bitmaps
// of the same pixels; a metafile that cannot be rendered gives no image.
#include <string>
#include <vector>

#include "engine_test_util.h"
#include "korvex/host.h"

namespace korvex {
namespace {

std::string data_file(const std::string& name) {
  return std::string(KORVEX_SOURCE_DIR) + "/tests/data/metafile/" + name;
}

int32_t handle_of(std::vector<uint8_t> b, bool enhanced, size_t cut = 0) {
  b.resize(b.size() - cut);
  return enhanced ? host::SetEnhMetaFileBits(b.data(), b.size())
                  : host::SetMetaFileBits(b.data(), b.size());
}

TEST(MetafileSources, FilesPicturesAndTheClipboardGiveTheSamePixels) {
  using P = host::Picture;
  for (auto [file, type, format] :
       {std::tuple("pillow_drawing.wmf", P::kMetafile, "WMF"),
        std::tuple("emf2svg_test-023.emf", P::kEnhancedMetafile, "EMF")}) {
    SCOPED_TRACE(file);
    const bool enhanced = type == P::kEnhancedMetafile;
    const std::vector<uint8_t> bytes = testutil::read_file(data_file(file));
    cKorvex k;
    ASSERT_EQ(k.LoadFromFile(data_file(file)), S::Ok);
    EXPECT_EQ(k.GetImageFormat(), format);
    const std::vector<uint32_t> from_file = testutil::argb_pixels(*img(k.GetNativeImage()));

    auto picture = std::make_shared<P>(type, handle_of(bytes, enhanced));
    ASSERT_EQ(k.LoadFromPicture(picture), S::Ok);
    EXPECT_EQ(k.GetImageFormat(), "Memory BMP");
    EXPECT_EQ(testutil::argb_pixels(*img(k.GetNativeImage())), from_file);
    // The handle shown as the other kind of metafile is no picture.
    const P::Type other = enhanced ? P::kMetafile : P::kEnhancedMetafile;
    EXPECT_EQ(k.CreateImageFromPicture(std::make_shared<P>(other, picture->handle(), 0, false)), 0);
    EXPECT_EQ(k.GetStat(), S::UnknownImageFormat);
    // Damaged bytes (cut before the end record): a status, no image, the
    // native image kept.
    const int32_t before = k.GetNativeImage();
    EXPECT_EQ(k.CreateImageFromPicture(std::make_shared<P>(type, handle_of(bytes, enhanced, 8))),
              0);
    EXPECT_EQ(std::pair(k.GetStat(), k.GetNativeImage()), std::pair(S::GenericError, before));

    // Clipboard format 3 takes WMF metafiles only, and releases them when emptied.
    host::EmptyClipboard();
    const int32_t h = handle_of(bytes, enhanced);
    ASSERT_EQ(host::SetClipboardData(host::kClipboardMetafile, h), !enhanced);
    if (enhanced) {
      host::DeleteObject(h);
      continue;
    }
    ASSERT_EQ(k.LoadFromClipboard(), S::Ok);
    EXPECT_EQ(testutil::argb_pixels(*img(k.GetNativeImage())), from_file);
    host::EmptyClipboard();
    EXPECT_EQ(host::GetMetafile(h), nullptr);
  }
  // A real file libwmf refuses; bytes that are not a metafile of the kind.
  cKorvex k;
  EXPECT_EQ(k.LoadFromFile(data_file("uemf_test_libuemf_ref.wmf")), S::GenericError);
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_EQ(handle_of(testutil::read_file(data_file("pillow_drawing.emf")), false), 0);
}

}  // namespace
}  // namespace korvex
