// Streams, arrays and crash-safe file writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/file_io.h"
#include "korvex/array.h"
#include "korvex/stream.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;

TEST(MemoryStreams, ReadWriteSeekBehaveLikeAFile) {
  MemoryStream s;
  EXPECT_EQ(s.Write("abcdef", 6), 6);
  EXPECT_EQ(s.Tell(), 6);
  EXPECT_EQ(s.Seek(2, Stream::kBegin), 2);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_EQ(std::string(buf, 4), "cdef");
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_EQ(s.Seek(-1, Stream::kBegin), -1);
  EXPECT_EQ(s.Seek(10, Stream::kBegin), 10);  // past the end: a later write fills with zeros
  EXPECT_EQ(s.Write("z", 1), 1);
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.Bytes()[7], 0);
  EXPECT_EQ(s.Seek(-3, Stream::kEnd), 8);
  EXPECT_EQ(s.Read(nullptr, 1), -1);
}

TEST(FileStreams, OpenReadAndSizeARealFile) {
  const std::string path =
      (fs::temp_directory_path() / ("kx-fs-" + std::to_string(getpid()))).string();
  { std::ofstream(path) << "0123456789"; }
  auto f = FileStream::Open(path, "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Size(), 10);
  EXPECT_EQ(f->Seek(4, Stream::kBegin), 4);
  char c = 0;
  EXPECT_EQ(f->Read(&c, 1), 1);
  EXPECT_EQ(c, '4');
  EXPECT_EQ(FileStream::Open(path + ".missing", "rb"), nullptr);
  fs::remove(path);
}

TEST(Arrays, BoundsDimensionsAndFirstIndexFastest) {
  Array<int32_t> a;
  EXPECT_EQ(a.LBound(), 0);
  EXPECT_EQ(a.UBound(), -1);
  a.Redim({{1, 3}, {0, 1}});
  EXPECT_EQ(a.Dims(), 2);
  EXPECT_EQ(a.size(), 6u);
  a(2, 1) = 7;
  EXPECT_EQ(a.data()[1 + 3 * 1], 7);  // column index runs fastest
  EXPECT_THROW(a(4, 0), std::out_of_range);
  EXPECT_THROW(a(1), std::out_of_range);
  EXPECT_THROW(a.Redim({{2, 0}}), std::length_error);
  a.Redim({{5, 5}});
  EXPECT_EQ(a.Count(), 1);
  EXPECT_EQ(a(5), 0);
}

TEST(AtomicWrites, TheTargetIsTheOldFileOrTheWholeNewOne) {
  const fs::path dir = fs::temp_directory_path() / ("kx-aw-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string target = (dir / "out.bin").string();
  const uint8_t data[] = {1, 2, 3};
  ASSERT_EQ(host::write_file_atomically(target, data, 3), raster::Status::Ok);
  EXPECT_EQ(fs::file_size(target), 3u);
  std::vector<uint8_t> back;
  ASSERT_EQ(host::read_whole_file(target, back), raster::Status::Ok);
  EXPECT_EQ(back, (std::vector<uint8_t>{1, 2, 3}));
  // A folder that cannot be written keeps the old file (root ignores modes,
  // so a missing folder stands in for a failing one).
  EXPECT_EQ(host::write_file_atomically((dir / "no" / "x").string(), data, 3),
            raster::Status::FileNotFound);
  EXPECT_EQ(host::read_whole_file((dir / "none").string(), back), raster::Status::FileNotFound);
  EXPECT_EQ(host::read_whole_file(dir.string(), back), raster::Status::Win32Error);
  // A device is written in place, never replaced by a regular file: a full
  // one reports the failure.
  EXPECT_EQ(host::write_file_atomically("/dev/full", data, 3), raster::Status::Win32Error);
  struct stat st {};
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  // A symbolic link keeps pointing at its file, which gets the new contents.
  const std::string link = (dir / "link.bin").string();
  fs::create_symlink(target, link);
  const uint8_t other[] = {9, 9};
  ASSERT_EQ(host::write_file_atomically(link, other, 2), raster::Status::Ok);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::file_size(target), 2u);
  fs::remove(link);
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1u);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace korvex
