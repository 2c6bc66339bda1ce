// Viewer painting speed: the visible part of a 10000 x 10000 image in a
// 1920 x 1080 headless view with the high-quality interpolation, at zooms
// 0.1, 1 and 4. For each zoom: the first paint after the zoom change (the
// whole view rendered) and one scroll step (only the uncovered strip),
// median of many. Targets: 16 ms a scroll step at any zoom, 200 ms for the
// first paint after a zoom change. bench/viewer_peers.sh times `vips resize`
// on the same region of the same pixels next to it.
//
// usage: viewer_bench [--raw FILE]   (FILE: the source as raw RGB bytes, for vips)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "korvex/viewer.h"
#include "raster/handles.h"
#include "raster/image.h"
#include "viewer/core.h"
#include "viewer/headless_host.h"

namespace {

using namespace korvex;
using Clock = std::chrono::steady_clock;

constexpr int32_t kSide = 10000;

// A photo-like pattern with detail at every scale (the resample bench's).
int32_t make_source() {
  std::unique_ptr<raster::Image> img;
  if (raster::Image::create(kSide, kSide, raster::pf::k32bppRGB, img) != raster::Status::Ok)
    return 0;
  raster::Surface& s = img->surface();
  for (int32_t y = 0; y < s.height; ++y) {
    uint8_t* row = s.row(y);
    for (int32_t x = 0; x < s.width; ++x) {
      row[x * 4] = static_cast<uint8_t>(x ^ y);
      row[x * 4 + 1] = static_cast<uint8_t>((x * 7 + y * 3) >> 4);
      row[x * 4 + 2] = static_cast<uint8_t>((x + y) >> 5);
      row[x * 4 + 3] = 255;
    }
  }
  return raster::register_image(std::move(img));
}

bool write_raw(int32_t id, const char* path) {
  const raster::Surface& s = raster::find_image(id)->surface();
  std::ofstream out(path, std::ios::binary);
  std::vector<char> rgb(static_cast<size_t>(s.width) * 3);
  for (int32_t y = 0; y < s.height && out; ++y) {
    const uint8_t* row = s.row(y);
    for (int32_t x = 0; x < s.width; ++x) {
      rgb[static_cast<size_t>(x) * 3] = static_cast<char>(row[x * 4 + 2]);
      rgb[static_cast<size_t>(x) * 3 + 1] = static_cast<char>(row[x * 4 + 1]);
      rgb[static_cast<size_t>(x) * 3 + 2] = static_cast<char>(row[x * 4]);
    }
    out.write(rgb.data(), static_cast<std::streamsize>(rgb.size()));
  }
  return static_cast<bool>(out);
}

template <class F>
double ms(F&& f) {
  const auto t0 = Clock::now();
  f();
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int32_t id = make_source();
  if (id == 0) {
    std::fprintf(stderr, "viewer_bench: cannot allocate the source image\n");
    return 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "--raw") == 0 && !write_raw(id, argv[2])) {
    std::fprintf(stderr, "viewer_bench: cannot write %s\n", argv[2]);
    return 1;
  }
  auto host = std::make_shared<viewer::HeadlessHost>(1920, 1080);
  kxViewer v(host);
  v.put_InterpolationMode(2);  // InterpolationModeHighQuality
  if (v.DisplayFromImageRef(id) != ViewerStatus::Ok) return 1;
  std::printf("10000 x 10000 in a 1920 x 1080 view, high-quality interpolation; median ms\n");
  bool within = true;
  for (const double asked : {0.1, 1.0, 4.0}) {
    // The scroll bars' 16 bits bound the zoom of so large an image (about 3.5 here).
    const double zoom = std::min(asked, v.GetMaxZoom());
    std::vector<double> first, step;
    for (int i = 0; i < 9; ++i) {
      v.put_Zoom(zoom * 0.99);  // another zoom, so the next one is a change
      first.push_back(ms([&] { v.put_Zoom(zoom); }));
    }
    // The region the view shows, in source pixels (for the peers).
    const viewer::PaintRect& r = v.core().paint_rect;
    const bool scrolls = v.GetHScrollBarMaxPosition() > 0;
    for (int i = 0; scrolls && i < 61; ++i) {
      const int32_t to = v.GetHScrollBarPosition() + (i % 2 ? -16 : 16);
      step.push_back(ms([&] { v.SetHScrollBarPosition(to); }));
    }
    const double f = median(first);
    const double s = scrolls ? median(step) : 0.0;
    within = within && f <= 200.0 && s <= 16.0;
    std::printf("  zoom %-4.3g first paint %8.1f (target 200)  scroll step ", zoom, f);
    if (scrolls) {
      std::printf("%6.2f (target 16)", s);
    } else {
      std::printf("   n/a (the image fits)");
    }
    std::printf("  region %d,%d %dx%d -> %dx%d\n", r.src_x, r.src_y, r.src_width, r.src_height,
                r.dst_width, r.dst_height);
  }
  std::printf("%s\n", within ? "all within target" : "NOT all within target");
  return 0;
}
