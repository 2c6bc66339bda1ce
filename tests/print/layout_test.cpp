// Image size and placement on the printable area, and the paper table.
#include <gtest/gtest.h>

#include <tuple>

#include "print/layout.h"
#include "print/paper.h"

namespace korvex::print {
namespace {

TEST(PrintLayout, SizesFromResolutionReducedOrFitted) {
  using P = Placement;
  struct Case {
    const char* what;
    Placement placement;
    int32_t px_w, px_h;
    double dpi;
    double area_w, area_h;
    RectMM want;  // before rounding; alignment 4 (top-left)
  };
  const double mm = 25.4;
  const Case cases[] = {
      {"fits", P::Natural, 300, 150, 300, 100, 100, {0, 0, mm, mm / 2}},
      {"width only", P::Natural, 2480, 3508, 300, 203.2, 300, {0, 0, 203.2, 203.2 * 3508 / 2480}},
      {"both, height more", P::Natural, 3000, 6000, 100, 500, 1000, {0, 0, 500, 1000}},
      {"both, width more", P::Natural, 6000, 3000, 100, 1000, 700, {0, 0, 1000, 500}},
      {"height only", P::Natural, 100, 1000, 10, 300, 2000, {0, 0, 200, 2000}},
      {"0 dpi is 72", P::Natural, 72, 144, 0, 300, 300, {0, 0, mm, 2 * mm}},
      {"fit: to the width", P::Fit, 200, 100, 100, 100, 100, {0, 0, 100, 50}},
      {"fit: to the height", P::Fit, 100, 200, 100, 100, 100, {0, 0, 50, 100}},
      {"fit: reduced", P::Fit, 4000, 1000, 100, 200, 300, {0, 0, 200, 50}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LayoutRequest r;
    r.placement = c.placement;
    r.pixel_width = c.px_w;
    r.pixel_height = c.px_h;
    r.dpi_x = r.dpi_y = c.dpi;
    r.alignment = 4;
    r.area_width = c.area_w;
    r.area_height = c.area_h;
    const RectMM got = layout_image(r);
    EXPECT_NEAR(got.x, c.want.x, 1e-9);
    EXPECT_NEAR(got.y, c.want.y, 1e-9);
    EXPECT_NEAR(got.width, c.want.width, 1e-9);
    EXPECT_NEAR(got.height, c.want.height, 1e-9);
  }
}

TEST(PrintLayout, AlignmentsPlaceOnEachAxisThatFits) {
  // A 30 x 20 mm image (BySize from 5, 7) on a 100 x 80 mm area.
  struct Case {
    int32_t alignment;
    double x, y;
  };
  const Case cases[] = {{0, 5, 30}, {1, 70, 30}, {2, 35, 30}, {3, 5, 7},   {4, 5, 7},
                        {5, 70, 7}, {6, 5, 7},   {7, 5, 60},  {8, 70, 60}, {9, 35, 60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alignment);
    LayoutRequest r;
    r.placement = Placement::BySize;
    r.requested = {5, 7, 30, 20};
    r.alignment = c.alignment;
    r.area_width = 100;
    r.area_height = 80;
    const RectMM got = layout_image(r);
    EXPECT_DOUBLE_EQ(got.x, c.x);
    EXPECT_DOUBLE_EQ(got.y, c.y);
    EXPECT_DOUBLE_EQ(got.width, 30);
    EXPECT_DOUBLE_EQ(got.height, 20);
  }
  // An axis where the image is larger than the area keeps its position.
  LayoutRequest r;
  r.placement = Placement::BySize;
  r.requested = {-3, 4, 120, 20};
  r.alignment = 8;
  r.area_width = 100;
  r.area_height = 80;
  const RectMM got = layout_image(r);
  EXPECT_DOUBLE_EQ(got.x, -3);
  EXPECT_DOUBLE_EQ(got.y, 60);
  // A requested size of 0 measures the image instead.
  r.requested = {0, 0, 0, 20};
  r.pixel_width = 100;
  r.pixel_height = 50;
  r.dpi_x = r.dpi_y = 254;
  EXPECT_DOUBLE_EQ(layout_image(r).width, 10);
  EXPECT_DOUBLE_EQ(layout_image(r).height, 5);
}

TEST(PrintLayout, RoundsToWholeMillimetresHalvesToEven) {
  const RectMM r = round_to_mm({2.5, 3.5, 203.2, 287.43});
  EXPECT_EQ(std::tuple(r.x, r.y, r.width, r.height), std::tuple(2.0, 4.0, 203.0, 287.0));
}

TEST(PrintPaper, CodesMediaNamesAndTwips) {
  EXPECT_EQ(paper_by_code(0), nullptr);
  EXPECT_EQ(paper_by_code(42), nullptr);
  for (int32_t code = 1; code <= 41; ++code) {
    const PaperSize* p = paper_by_code(code);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->code, code);
    // Every media name leads back to a code of the same size.
    const PaperSize* back = paper_by_code(paper_code_for_media(p->media));
    ASSERT_NE(back, nullptr) << p->media;
    EXPECT_NEAR(back->width_mm * back->height_mm, p->width_mm * p->height_mm, 1) << code;
  }
  // "A4" is not a self-describing name.
  for (auto [media, code] : {std::pair{"iso_a4_210x297mm", 9},
                             {"na_letter_8.5x11in", 1},
                             {"A4", 0},
                             {"custom_x_210x297mm", 9},
                             {"custom_x_211x297mm", 0}})
    EXPECT_EQ(paper_code_for_media(media), code) << media;
  EXPECT_EQ(mm_to_twips(25.4), 1440);
  EXPECT_EQ(mm_to_twips(210), 11906);
  EXPECT_NEAR(twips_to_mm(11520), 203.2, 1e-9);
}

}  // namespace
}  // namespace korvex::print
