// Streams, arrays and crash-safe file writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>

#include "../file_size_limit.h"
#include "host/file_io.h"
#include "korvex/array.h"
#include "korvex/stream.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;

struct Scratch {
  const fs::path dir = fs::temp_directory_path() / ("kx-io-" + std::to_string(getpid()));
  Scratch() { fs::create_directories(dir); }
  ~Scratch() { fs::remove_all(dir); }
  std::string operator/(const std::string& name) const { return (dir / name).string(); }
  size_t regular_files() const {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.is_regular_file();
    return n;
  }
};

TEST(Streams, MemoryAndFileStreamsReadWriteAndSeekAlike) {
  const Scratch tmp;
  MemoryStream memory;
  const auto file = FileStream::Open(tmp / "stream", "w+b");
  ASSERT_NE(file, nullptr);
  for (Stream* s : {static_cast<Stream*>(&memory), static_cast<Stream*>(file.get())}) {
    SCOPED_TRACE(s == &memory ? "memory" : "file");
    EXPECT_EQ(s->Write("abcdef", 6), 6);
    EXPECT_EQ(s->Tell(), 6);
    EXPECT_EQ(s->Seek(2, Stream::kBegin), 2);
    char buf[8] = {};
    EXPECT_EQ(s->Read(buf, 8), 4);
    EXPECT_EQ(std::string(buf, 4), "cdef");
    EXPECT_EQ(s->Read(buf, 8), 0);
    EXPECT_EQ(s->Seek(-1, Stream::kBegin), -1);
    EXPECT_EQ(s->Seek(10, Stream::kBegin), 10);  // past the end: a later write fills with zeros
    EXPECT_EQ(s->Write("z", 1), 1);
    EXPECT_EQ(s->Size(), 11);
    EXPECT_EQ(s->Seek(-4, Stream::kEnd), 7);
    EXPECT_EQ(s->Read(buf, 1), 1);
    EXPECT_EQ(buf[0], 0);
  }
  EXPECT_EQ(memory.Read(nullptr, 1), -1);
  EXPECT_EQ(FileStream::Open(tmp / "missing", "rb"), nullptr);
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
  const Scratch tmp;
  const fs::path& dir = tmp.dir;
  const std::string target = tmp / "out.bin";
  const uint8_t data[] = {1, 2, 3};
  ASSERT_EQ(host::write_file_atomically(target, data, 3), raster::Status::Ok);
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
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  // A symbolic link keeps pointing at its file, which gets the new contents.
  const std::string link = tmp / "link.bin";
  fs::create_symlink(target, link);
  const uint8_t other[] = {9, 9};
  ASSERT_EQ(host::write_file_atomically(link, other, 2), raster::Status::Ok);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::file_size(target), 2u);
  fs::remove(link);
  EXPECT_EQ(tmp.regular_files(), 1u);
}

TEST(FileSinks, WritesSeeksAndReadsBackLikeAMemorySink) {
  // The same script on both sinks: buffered small writes, a write larger than
  // the file sink's buffer, going back to patch buffered and flushed bytes,
  // reading back, and a gap past the end that reads as zeros.
  std::vector<uint8_t> big(700000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  auto script = [&](raster::ByteSink& s, std::string& log) {
    EXPECT_TRUE(s.write("head", 4));
    EXPECT_TRUE(s.write(big.data(), 1000));
    EXPECT_TRUE(s.write(big.data(), big.size()));
    EXPECT_TRUE(s.seek(2));
    EXPECT_TRUE(s.write("PATCH", 5));
    EXPECT_TRUE(s.seek(s.size() - 3));
    EXPECT_TRUE(s.write("tail-end", 8));
    EXPECT_TRUE(s.seek(1));
    char back[12] = {};
    log += std::to_string(s.read(back, sizeof back)) + ":" + std::string(back, sizeof back);
    log += "@" + std::to_string(s.tell());
    EXPECT_TRUE(s.seek(s.size() + 100));
    EXPECT_TRUE(s.write("z", 1));
    EXPECT_TRUE(s.seek(s.size() - 1));
    char z = 0;
    log += "|" + std::to_string(s.read(&z, 4)) + z;
    log += "|" + std::to_string(s.size()) + "@" + std::to_string(s.tell());
  };
  std::vector<uint8_t> memory;
  std::string memory_log;
  {
    raster::MemorySink sink(memory);
    script(sink, memory_log);
    EXPECT_EQ(sink.error(), raster::Status::Ok);
  }
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::string file_log;
  {
    host::FileSink sink(fileno(f));
    script(sink, file_log);
    EXPECT_TRUE(sink.flush());
    EXPECT_EQ(sink.error(), raster::Status::Ok);
  }
  std::vector<uint8_t> file(memory.size() + 1);
  EXPECT_EQ(::pread(fileno(f), file.data(), file.size(), 0), static_cast<ssize_t>(memory.size()));
  file.pop_back();
  std::fclose(f);
  EXPECT_EQ(file_log, memory_log);
  EXPECT_TRUE(file == memory);
  EXPECT_EQ(memory.size(), 4 + 1000 + big.size() + 5 + 100 + 1);
}

TEST(AtomicWrites, AFailedStreamingSaveKeepsTheOldFileAndLeavesNoTemporary) {
  const Scratch tmp;
  const std::string target = tmp / "out.bin";
  std::ofstream(target) << "old contents";
  fs::permissions(target, fs::perms(0640));
  auto unchanged = [&] {
    std::vector<uint8_t> text;
    host::read_whole_file(target, text);
    return std::string(text.begin(), text.end()) == "old contents" && tmp.regular_files() == 1;
  };
  // A producer that writes `mib` megabytes and then returns `result`.
  const std::vector<uint8_t> chunk(1 << 20, 0x5A);
  auto save = [&](int mib, raster::Status result) {
    return host::write_file_atomically(target, [&](raster::ByteSink& out) {
      for (int i = 0; i < mib; ++i) out.write(chunk.data(), chunk.size());
      return result;
    });
  };
  // The producer fails after writing megabytes, or throws.
  EXPECT_EQ(save(3, raster::Status::GenericError), raster::Status::GenericError);
  EXPECT_TRUE(unchanged());
  const auto throws = [&](raster::ByteSink& out) -> raster::Status {
    out.write(chunk.data(), 10);
    throw std::bad_alloc();
  };
  EXPECT_EQ(host::write_file_atomically(target, throws), raster::Status::OutOfMemory);
  EXPECT_TRUE(unchanged());
  // The file system refuses the bytes midway (a file size limit, as a full
  // disk would): the write error is the result, even if the producer
  // ignored it.
  {
    const testutil::FileSizeLimit limit(3 << 20);
    EXPECT_EQ(save(8, raster::Status::Ok), raster::Status::Win32Error);
  }
  EXPECT_TRUE(unchanged());
  // A successful streamed save replaces the file and keeps its permissions.
  const auto patched = [](raster::ByteSink& out) {
    out.write("new", 3);
    out.seek(0);
    out.write("N", 1);
    return raster::Status::Ok;
  };
  ASSERT_EQ(host::write_file_atomically(target, patched), raster::Status::Ok);
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
  raster::EncodedBytes kept;
  ASSERT_EQ(host::read_whole_file(target, kept), raster::Status::Ok);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(kept.data), kept.size), "New");
  EXPECT_EQ(host::read_whole_file(tmp / "none", kept), raster::Status::FileNotFound);
  EXPECT_EQ(host::read_whole_file(tmp.dir.string(), kept), raster::Status::Win32Error);
}

}  // namespace
}  // namespace korvex
