// The set-up the viewer tests share: a viewer on a 400 x 300 headless host,
// a scratch folder that is also TMPDIR, an event log, test images, and
// readings of the client area and of the host's timers.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "korvex/viewer.h"
#include "raster/handles.h"
#include "raster/image.h"
#include "viewer/core.h"
#include "viewer/headless_host.h"

namespace korvex::testutil {

// A 32bppARGB image of one colour (or a 2-colour checkerboard of 1-pixel
// squares), registered in the thread's table.
inline int32_t make_image(int32_t w, int32_t h, float dpi_x = 96, float dpi_y = 96,
                          uint32_t argb = 0xFFFF0000, uint32_t other = 0xFFFF0000) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, raster::pf::k32bppARGB, img), raster::Status::Ok);
  raster::Surface& s = img->surface();
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t c = (x + y) % 2 ? other : argb;
      std::memcpy(s.row(y) + x * 4, &c, 4);  // B, G, R, A in memory
    }
  EXPECT_EQ(img->set_resolution(dpi_x, dpi_y), raster::Status::Ok);  // below 0.5 rounds to 0
  return raster::register_image(std::move(img));
}

// Writes each event by name, input events with their arguments
// ("MouseDown(1,0,10.5,20)"), and lets a test act inside it.
struct EventLog : ViewerEventSink {
  std::string text;
  bool inputs_only = false;
  std::function<void(ViewerEvent, ViewerEventArgs&)> action;
  void OnViewerEvent(ViewerEvent e, ViewerEventArgs& args) override {
    static const char* kNames[] = {"",           "KeyPress",    "KeyUp",     "KeyDown",
                                   "ZoomChange", "ZoomChanged", "MouseMove", "Click",
                                   "DblClick",   "MouseDown",   "MouseUp",   "Displayed",
                                   "Scroll",     "PageChange",  "Resize",    "PictureChange"};
    const auto i = static_cast<size_t>(e);
    const bool input = (i >= 1 && i <= 3) || (i >= 6 && i <= 10);
    if (i >= std::size(kNames) || (inputs_only && !input)) return;
    std::ostringstream s;
    s << (text.empty() ? "" : " ") << kNames[i];
    for (int k = 0; input && k < args.count; ++k)
      s << (k ? "," : "(") << args.values[static_cast<size_t>(k)]
        << (k + 1 == args.count ? ")" : "");
    text += s.str();
    if (action) action(e, args);
  }
};

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::path(::testing::TempDir()) / ("kx_viewer_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "tmp");
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    // No scheduler: the built-in PDF printer is the only one.
    setenv("CUPS_SERVER", (dir / "no-cupsd.sock").c_str(), 1);
  }
  void TearDown() override {
    v.reset();
    std::filesystem::remove_all(dir);
  }

  ViewerStatus show(int32_t id) { return v->DisplayFromImageRef(id); }
  void show(int32_t w, int32_t h) { ASSERT_EQ(show(make_image(w, h)), ViewerStatus::Ok); }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return (dir / name).string();
  }
  // 0xRRGGBB of a pixel of the client area (the middle one by default).
  uint32_t pixel(int32_t x = -1, int32_t y = -1) {
    const viewer::PixelBuffer b = host->Snapshot();
    uint32_t p;
    std::memcpy(&p, b.row(y < 0 ? b.height / 2 : y) + (x < 0 ? b.width / 2 : x) * 4, 4);
    return p & 0xFFFFFF;  // B, G, R in memory
  }
  // The host's pending timers, id -> milliseconds, read from its log.
  std::map<int32_t, int32_t> pending() const {
    std::map<int32_t, int32_t> t;
    std::istringstream log(host->Log());
    int32_t id = 0, ms = 0;
    char what[8] = {};
    for (std::string line; std::getline(log, line);)
      if (std::sscanf(line.c_str(), "timer %d %7s %d", &id, what, &ms) >= 2)
        std::string(what) == "start" ? (void)(t[id] = ms) : (void)t.erase(id);
    return t;
  }
  // Fires the one pending timer; returns its delay.
  int32_t fire() {
    const auto t = pending();
    EXPECT_EQ(t.size(), 1u);
    return t.size() == 1 && host->FireTimer(t.begin()->first) ? t.begin()->second : -1;
  }

  std::filesystem::path dir;
  std::shared_ptr<viewer::HeadlessHost> host = std::make_shared<viewer::HeadlessHost>(400, 300);
  std::unique_ptr<kxViewer> v = std::make_unique<kxViewer>(host);
  std::shared_ptr<EventLog> events = std::make_shared<EventLog>();
};

}  // namespace korvex::testutil
