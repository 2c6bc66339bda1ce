// The colour model classes: fields kept in step whichever side is set.
#include <gtest/gtest.h>

#include <vector>

#include "processing/color_models.h"

namespace korvex::colors {
namespace {

TEST(ColorModels, CmyPairsStayComplementaryAndTakeTheLowByte) {
  cCMY m;
  m.RGB(0x0A141E);  // red is the low byte
  EXPECT_EQ(std::vector<int32_t>({m.R(), m.G(), m.B(), m.C(), m.M(), m.y()}),
            std::vector<int32_t>({0x1E, 0x14, 0x0A, 225, 235, 245}));
  m.C(256 + 55);  // low byte 55
  m.y(-1);        // low byte 255
  EXPECT_EQ(std::vector<int32_t>({m.R(), m.B(), m.RGB()}),
            std::vector<int32_t>({200, 0, 200 | 0x14 << 8}));
}

TEST(ColorModels, CmykRecomputesTheOtherSideOfWhatIsSet) {
  cCMYK m;
  m.RGB(MakeRGBValue(255, 0, 0));
  EXPECT_EQ(std::vector<int32_t>({m.C(), m.M(), m.y(), m.K()}),
            std::vector<int32_t>({0, 255, 255, 0}));
  m.K(255);  // the inks stay as set, the colour turns black
  EXPECT_EQ(std::vector<int32_t>({m.RGB(), m.C(), m.M(), m.K()}),
            std::vector<int32_t>({0, 0, 255, 255}));
  m.FromCMY(0, 128, 255);  // R = 255, G = 127, B = 0: black 0
  EXPECT_EQ(std::vector<int32_t>({m.R(), m.G(), m.B(), m.K(), m.M()}),
            std::vector<int32_t>({255, 127, 0, 0, 128}));
  EXPECT_EQ(m.ToCMY().RGB(), m.RGB());
}

TEST(ColorModels, ColorUnpacksArgbAndTurnsRgbValuesOpaque) {
  cColor c;
  c.SetFromCOLORREF(MakeRGBValue(1, 2, 3));
  EXPECT_EQ(c.GetValue(), static_cast<int32_t>(0xFF010203u));
  c.FromARGB(0x80, 4, 5, 6);
  EXPECT_EQ(std::vector<int>({c.GetAlpha(), c.GetRed(), c.GetGreen(), c.GetBlue()}),
            std::vector<int>({0x80, 4, 5, 6}));
}

}  // namespace
}  // namespace korvex::colors
