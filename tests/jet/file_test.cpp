// The file layer on its own: vectored reads and writes of any number of
// buffers, the end of the file, byte locks between two handles of one
// process, names outside ASCII.
#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "jet/error.h"
#include "jet/file.h"
#include "support/fixtures.h"
#include "support/jet_error.h"

namespace {

using jet::File;
using jet::FileAccess;
using jet::IoBuffer;

// Cuts `bytes` into buffers of 1 to 97 bytes, more than one vectored call
// takes, a few of them back to back in memory and the rest apart.
std::vector<IoBuffer> Cut(std::vector<uint8_t>& bytes, std::vector<std::vector<uint8_t>>& apart) {
  std::vector<IoBuffer> out;
  for (size_t at = 0, n = 1; at < bytes.size(); at += n, n = n % 97 + 1) {
    n = std::min(n, bytes.size() - at);
    if (out.size() % 3 == 0) {
      out.push_back({bytes.data() + at, n});
    } else {
      apart.emplace_back(bytes.begin() + at, bytes.begin() + at + n);
      out.push_back({apart.back().data(), n});
    }
  }
  return out;
}

TEST(FileTest, VectoredWritesAndReadsCoverEveryByteAndStopAtTheEnd) {
  testing_support::TempDir tmp;
  auto f = jet::CurrentFileSystem().Create(tmp.File("v.bin"));
  std::vector<uint8_t> data(20000);
  std::iota(data.begin(), data.end(), uint8_t{7});
  std::vector<std::vector<uint8_t>> apart;
  apart.reserve(data.size());
  std::vector<IoBuffer> out = Cut(data, apart);
  ASSERT_GT(out.size(), 300u);
  f->WriteAt(100, out);
  EXPECT_EQ(f->Size(), 100 + data.size());

  // Read back in other cuts, asking for 50 bytes more than there are.
  std::vector<uint8_t> back(data.size() + 50, 0xEE);
  std::vector<std::vector<uint8_t>> back_apart;
  back_apart.reserve(back.size());
  std::vector<IoBuffer> in = Cut(back, back_apart);
  EXPECT_EQ(f->ReadAt(100, in), data.size());
  size_t at = 0;
  for (const IoBuffer& b : in) {
    std::copy(b.data, b.data + b.size, back.begin() + at);
    at += b.size;
  }
  EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));

  uint8_t one = 0;
  const IoBuffer past{&one, 1};
  EXPECT_EQ(f->ReadAt(f->Size(), {&past, 1}), 0u);
  f->Extend(30000);
  f->Extend(10);  // never shrinks
  EXPECT_EQ(f->Size(), 30000u);
  one = 0xEE;
  EXPECT_EQ(f->ReadAt(29999, {&past, 1}), 1u);
  EXPECT_EQ(one, 0);
}

// Locks belong to handles: two handles of one process meet as two
// processes would.
TEST(FileTest, ByteLocksOfTwoHandlesConflict) {
  testing_support::TempDir tmp;
  const std::string path = tmp.File("l.bin");
  auto writer = jet::CurrentFileSystem().Create(path);
  auto reader = jet::CurrentFileSystem().Open(path, FileAccess::kRead);
  const uint64_t byte = uint64_t{1} << 32;
  EXPECT_TRUE(reader->TryLock(byte, false));
  EXPECT_TRUE(writer->TryLock(byte, false));
  EXPECT_FALSE(writer->TryLock(byte, true));
  EXPECT_TRUE(writer->TryLock(byte + 1, true));
  EXPECT_FALSE(reader->TryLock(byte + 1, false));
  reader->Unlock(byte);
  EXPECT_TRUE(writer->TryLock(byte, true));
  EXPECT_FALSE(reader->TryLock(byte, false));
  writer.reset();  // closing lets go
  EXPECT_TRUE(reader->TryLock(byte, false));
  EXPECT_TRUE(reader->TryLock(byte + 1, false));
}

TEST(FileTest, NamesAreUtf8) {
  testing_support::TempDir tmp;
  const std::string name = "Pe\xC3\xB1" "a y N\xC3\xBA\xC3\xB1" "ez.mdb";
  const std::string path = tmp.path().string() + "/" + name;
  jet::CurrentFileSystem().Create(path);
  EXPECT_TRUE(std::filesystem::exists(tmp.path() / std::filesystem::path(u8"Peña y Núñez.mdb")));
  EXPECT_NE(jet::CanonicalPath(path), "");
  EXPECT_NE(jet::CurrentFileSystem().Open(path, FileAccess::kReadWrite), nullptr);
  EXPECT_JET_ERROR(jet::CurrentFileSystem().Create(path), jet::kErrDatabaseExists);
  EXPECT_TRUE(jet::CurrentFileSystem().Remove(path));
  EXPECT_EQ(jet::CanonicalPath(path), "");
}

}  // namespace
