// Every writer onto a full disk (small tmpfs, /dev/full) and a read-only
// folder, and a file rewritten while read: a status, the old file kept, no
// temporary left, the engine usable.
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "../codecs/codec_test_util.h"
#include "korvex/korvex.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
using testutil::ScratchDir;
namespace fs = std::filesystem;

const std::string kSamples = KORVEX_SOURCE_DIR "/samples/";

std::string slurp(const std::string& path) {
  const std::vector<uint8_t> v = testutil::read_file(path);
  return std::string(v.begin(), v.end());
}

std::set<std::string> entries(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// Every way the engine writes its native image, PNG for the codecs (each meets a failing
// sink in tests/codecs); SaveAsIco fails as GenericError.
struct Writer {
  const char* name;
  const char* ext;
  std::function<S(cKorvex&, const std::string&)> save;
};
const Writer kWriters[] = {
    {"png", ".png", [](cKorvex& k, const std::string& p) { return k.SaveAsPng(p); }},
    {"ico", ".ico", [](cKorvex& k, const std::string& p) { return k.SaveAsIco(p); }},
    {"one-page pdf", ".pdf",
     [](cKorvex& k, const std::string& p) {
       k.SaveAsPdf(p);
       return k.GetStat();
     }},
    {"multi-page tiff", ".tif",
     [](cKorvex& k, const std::string& p) {
       // The first page is a clone: closing the file closes it.
       const int32_t native = k.GetNativeImage();
       k.SetNativeImage(k.CreateClonedImage(native));
       S st = k.TiffSaveAsNativeMultiPage(p, 2);
       if (st == S::Ok) st = k.TiffAddToNativeMultipage(native);
       const S closed = k.TiffCloseNativeMultiPage();
       k.SetNativeImage(native);
       return st != S::Ok ? st : closed;
     }},
    {"pdf document", ".pdf",
     [](cKorvex& k, const std::string& p) {
       if (!k.PdfNewPdf(p, "faults")) return k.GetStat();
       k.PdfNewPage();
       k.PdfDrawImage(k.PdfAddImageFromImageID(k.GetNativeImage()), 10, 10, 200, 100);
       k.PdfDrawText(10, 150, "text", k.PdfAddFont("Arial"), 12);
       k.PdfEndPage();
       k.PdfSavePdf();
       return k.GetStat();
     }},
    {"pdf printer", ".pdf",
     [](cKorvex& k, const std::string& p) {
       // Prints "<stem>.pdf", or "<stem> (2).pdf" beside an existing one.
       k.PrintSetActivePrinter("Korvex PDF");
       k.PrintSetOutputFolder(fs::path(p).parent_path().string());
       k.PrintSetDocumentName(fs::path(p).stem().string());
       k.PrintImage();
       return k.PrintGetStat();
     }},
};

// The output decodes (images) or is a complete PDF.
void expect_complete(const std::string& path) {
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".pdf") == 0) {
    const std::string pdf = slurp(path);
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u) << path;
    EXPECT_NE(pdf.find("%%EOF", pdf.size() > 16 ? pdf.size() - 16 : 0), std::string::npos);
    return;
  }
  cKorvex check;
  EXPECT_EQ(check.LoadFromFile(path), S::Ok) << path;
}

// A 1 MiB tmpfs over a scratch folder, in a mount namespace of this process
// alone, so that it disappears with the process whatever happens.
class SmallDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::unshare(CLONE_NEWNS) == 0)
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, "size=1m") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                   << "): mounting needs CAP_SYS_ADMIN";
    }
    mounted_ = true;
    ASSERT_EQ(k_.LoadFromFile(kSamples + "photo.jpg"), S::Ok);
  }
  void TearDown() override {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
  }
  std::string file(const std::string& name) const { return dir_.file(name); }
  void fill() {
    const int fd = ::open(file("filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    static const char block[4096] = {};
    while (::write(fd, block, sizeof block) > 0) continue;
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
  }
  void unfill() { ::unlink(file("filler").c_str()); }
  void remount(bool read_only) {
    ASSERT_EQ(::mount(nullptr, dir_.path().c_str(), nullptr,
                      MS_REMOUNT | (read_only ? MS_RDONLY : 0), "size=1m"),
              0)
        << std::strerror(errno);
  }

  // Each writer onto an existing file while `fault` holds: the status, the
  // old file unchanged, nothing else left; then, the fault gone, a complete file.
  void each_writer_keeps_the_old_file(const std::function<void()>& fault,
                                      const std::function<void()>& repair, S want) {
    for (const Writer& w : kWriters) {
      SCOPED_TRACE(w.name);
      const std::string target = file(std::string("out") + w.ext);
      const std::string old = std::string("the old file of ") + w.name;
      testutil::write_file(target, std::vector<uint8_t>(old.begin(), old.end()));
      fault();
      const std::set<std::string> before = entries(dir_.path());
      EXPECT_EQ(w.save(k_, target), w.name == std::string("ico") ? S::GenericError : want);
      EXPECT_EQ(slurp(target), old);
      EXPECT_EQ(entries(dir_.path()), before);
      repair();
      ::unlink(target.c_str());
      EXPECT_EQ(w.save(k_, target), S::Ok);
      expect_complete(target);
      for (const std::string& name : entries(dir_.path())) ::unlink(file(name).c_str());
    }
  }

  ScratchDir dir_;
  bool mounted_ = false;
  cKorvex k_;
};

TEST_F(SmallDisk, FullDiskGivesWin32ErrorAndKeepsTheOldFile) {
  each_writer_keeps_the_old_file([&] { fill(); }, [&] { unfill(); }, S::Win32Error);
}

TEST_F(SmallDisk, ReadOnlyFolderGivesAccessDeniedAndKeepsTheOldFile) {
  // Root writes through permission bits: only a read-only mount refuses it.
  each_writer_keeps_the_old_file([&] { remount(true); }, [&] { remount(false); },
                                 S::AccessDenied);
}

TEST(DeviceFull, EveryWriterReportsTheFullDevice) {
  cKorvex k;
  ASSERT_EQ(k.LoadFromFile(kSamples + "photo.jpg"), S::Ok);
  for (const Writer& w : kWriters) {
    if (std::string(w.name) == "pdf printer") continue;  // writes into a folder
    EXPECT_EQ(w.save(k, "/dev/full"), w.name == std::string("ico") ? S::GenericError : S::Win32Error)
        << w.name;
  }
  ScratchDir dir;
  EXPECT_EQ(k.SaveAsPng(dir.file("after.png")), S::Ok);
  expect_complete(dir.file("after.png"));
}

// A decoder reading the file itself ("KXSW", width, height, 32bppARGB pixels)
// that lets the test rewrite the file between header and pixels.
std::function<void()> g_between_reads;

std::vector<uint8_t> swap_picture(uint32_t w, uint32_t h, uint32_t argb) {
  std::vector<uint8_t> out = {'K', 'X', 'S', 'W'};
  for (uint32_t v : {w, h})
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  for (uint32_t i = 0; i < w * h; ++i)
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(argb >> (8 * b)));
  return out;
}

raster::Status swap_image(const uint8_t* head, const uint8_t* px, size_t n,
                          std::unique_ptr<raster::Image>& out) {
  uint32_t w = 0, h = 0;
  std::memcpy(&w, head + 4, 4);
  std::memcpy(&h, head + 8, 4);
  if (w == 0 || h == 0 || w > 64 || h > 64 || n < size_t{w} * h * 4) return raster::Status::GenericError;
  const auto iw = static_cast<int32_t>(w), ih = static_cast<int32_t>(h);
  if (raster::Image::create(iw, ih, raster::pf::k32bppARGB, out) != raster::Status::Ok)
    return raster::Status::OutOfMemory;
  out->write_pixels({0, 0, iw, ih}, raster::pf::k32bppARGB, px, iw * 4);
  out->set_raw_format(raster::guids::kFormatPng);
  return raster::Status::Ok;
}

const raster::Decoder kSwapDecoder{
    "kx-swap", raster::guids::kFormatPng,
    [](const uint8_t* d, size_t n) { return n >= 4 && std::memcmp(d, "KXSW", 4) == 0; },
    [](const raster::EncodedBytes& in, std::unique_ptr<raster::Image>& out) {
      if (in.size < 12) return raster::Status::GenericError;
      return swap_image(in.data, in.data + 12, in.size - 12, out);
    },
    [](int fd, uint64_t, std::unique_ptr<raster::Image>& out) {
      uint8_t head[12];
      if (::pread(fd, head, sizeof head, 0) != sizeof head) return raster::Status::GenericError;
      if (g_between_reads) g_between_reads();
      uint8_t px[64 * 64 * 4];
      const ssize_t n = ::pread(fd, px, sizeof px, sizeof head);
      return swap_image(head, px, n < 0 ? 0 : static_cast<size_t>(n), out);
    }};

TEST(FileRewrittenWhileRead, GivesOnePictureWholeOrWin32Error) {
  raster::register_decoder(kSwapDecoder);
  ScratchDir dir;
  const std::string target = dir.file("picture.kxsw");
  // 8 x 8 red before, 4 x 16 blue after: as many bytes, a different picture.
  const std::vector<uint8_t> before = swap_picture(8, 8, 0xFFFF0000u),
                             after = swap_picture(4, 16, 0xFF0000FFu);
  const struct {
    const char* name;
    std::function<void()> between;  // what happens to the file between the reads
    S want;
    int32_t width;  // of the picture loaded
  } kCases[] = {
      {"untouched", nullptr, S::Ok, 8},
      // Saved over as our saves do: the open file keeps the old contents.
      {"replaced by rename", [&] {
         testutil::write_file(dir.file("new"), after);
         ::rename(dir.file("new").c_str(), target.c_str());
       }, S::Ok, 8},
      // Rewritten in place once: read again, the new picture whole.
      {"rewritten in place once", [&] {
         testutil::write_file(target, after);
         g_between_reads = nullptr;
       }, S::Ok, 4},
      {"rewritten in place on every read", [&] { testutil::write_file(target, after); },
       S::Win32Error, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    testutil::write_file(target, before);
    // An old modification time, so that any write shows.
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, target.c_str(), old, 0), 0);
    g_between_reads = c.between;
    cKorvex k;
    EXPECT_EQ(k.LoadFromFile(target), c.want);
    g_between_reads = nullptr;
    if (c.want == S::Ok) {
      EXPECT_EQ(k.GetWidth(), c.width);
      EXPECT_EQ(static_cast<uint32_t>(k.PixelGetColor(1, 1)), c.width == 8 ? 0xFFFF0000u : 0xFF0000FFu);
    }
    EXPECT_EQ(k.LoadFromFile(target), S::Ok);  // the file, now still, loads
  }
  raster::unregister_decoder("kx-swap");
}

}  // namespace
}  // namespace korvex
