#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "jet/error.h"
#include "jet/header.h"
#include "jet/pager.h"
#include "jet/rc4.h"
#include "support/child_process.h"
#include "support/fixtures.h"
#include "support/foreign_hold.h"
#include "support/jet_error.h"

namespace {

using jet::Bytes;
using jet::HeaderInfo;
using jet::JetError;
using jet::OpenMode;
using jet::Pager;
namespace fs = std::filesystem;

using testing_support::ErrorOf;

// A page's worth of bytes that differ from page to page and from one
// rewrite (`round`) to the next.
Bytes PagePattern(uint32_t page, int round) {
  Bytes b(4096);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(page * 31 + i + round);
  return b;
}

Bytes RawFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteRaw(const std::string& path, const Bytes& b) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Opens a file as `how` says: "read", "write" or "exclusive" (and writable).
std::shared_ptr<Pager> OpenAs(const std::string& path, const std::string& how) {
  return Pager::Open(path, how == "read" ? OpenMode::kReadOnly : OpenMode::kReadWrite,
                     how == "exclusive");
}

void Touch(const std::string& path) { std::ofstream(path).put('x'); }

// False when the file has not appeared within half a minute.
bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 3000 && !fs::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return fs::exists(path);
}

// Opens the database args[0] as args[1] says and reads its last page: the
// Jet error, or 0.
CHILD_PIECE(OpenDatabase) {
  return ErrorOf([&] {
    auto p = OpenAs(args[0], args[1]);
    p->Copy(p->page_count() - 1);
  });
}

// Opens the database args[0] as args[1] says, makes the file args[2] + "+"
// and holds the database until the file args[2] appears: the Jet error, or 0.
CHILD_PIECE(HoldDatabase) {
  return ErrorOf([&] {
    auto p = OpenAs(args[0], args[1]);
    Touch(args[2] + "+");
    if (!WaitForFile(args[2])) throw JetError(jet::kErrInvalidOperation);
  });
}

TEST(Rc4Test, KnownVectorsAndChunking) {
  const uint8_t key[] = {'K', 'e', 'y'};
  uint8_t text[] = {'P', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't'};
  const uint8_t want[] = {0xbb, 0xf3, 0x16, 0xe8, 0xd9, 0x40, 0xaf, 0x0a, 0xd3};
  jet::Rc4 rc4(jet::ByteView(key, 3));
  rc4.Apply(std::span<uint8_t>(text, 4));  // the keystream carries across calls
  rc4.Apply(std::span<uint8_t>(text + 4, 5));
  EXPECT_EQ(0, std::memcmp(text, want, sizeof want));
}

TEST(HeaderTest, EveryFixtureOpensWithItsLocaleAndSanePages) {
  REQUIRE_FIXTURES();
  int encrypted = 0;
  for (const fs::path& p : testing_support::FixtureFiles(testing_support::Encrypted::kIncluded)) {
    SCOPED_TRACE(p.string());
    auto pager = Pager::Open(p.string(), OpenMode::kReadOnly, false);
    const HeaderInfo& h = pager->header();
    bool jet3 = p.parent_path().filename() == "jet3";
    EXPECT_EQ(h.version, jet3 ? 3 : 4);
    EXPECT_EQ(pager->format().page_size, jet3 ? 2048u : 4096u);
    EXPECT_EQ(h.code_page, 1252);
    EXPECT_EQ(h.sort_order, 0x409u);
    EXPECT_EQ(h.password, "");
    EXPECT_EQ(h.db_key != 0, p.filename().string().starts_with("encrypted"));
    if (!jet3) {
      EXPECT_GT(h.creation_date, 35000.0);
    }
    encrypted += h.db_key != 0;
    for (uint32_t page = 1; page < pager->page_count(); ++page) {
      jet::ByteView v = pager->Read(page);
      bool blank = std::all_of(v.begin(), v.end(), [](uint8_t b) { return b == 0; });
      if (blank) continue;
      // Types 1..5, and 8/9 which unencrypted samples also hold; byte 1 is
      // always 1. Garbage from a wrong key would fail this on most pages.
      EXPECT_TRUE((v[0] >= 1 && v[0] <= 5) || v[0] == 8 || v[0] == 9) << "page " << page;
      EXPECT_EQ(v[1], 1) << "page " << page;
    }
  }
  EXPECT_EQ(encrypted, 2);
}

TEST(HeaderTest, NewHeaderMatchesTheEnginesByteForByte) {
  REQUIRE_FIXTURES();
  for (const char* name : {"adox_jet4.mdb", "emptyJet4.mdb"}) {
    SCOPED_TRACE(name);
    Bytes raw = RawFile((testing_support::FixturesDir() / "jet4" / name).string());
    ASSERT_GE(raw.size(), 4096u);
    Bytes page0(raw.begin(), raw.begin() + 4096);
    const jet::Format& f = jet::DetectFormat(page0);
    ASSERT_EQ(f.version, 4);
    jet::ToggleHeaderMask(f, page0);
    HeaderInfo h = jet::ParseHeader(f, page0);
    Bytes built = jet::BuildJet4Header(h);
    // Only the engine's build number may differ.
    built[f.offset_engine_build] = page0[f.offset_engine_build];
    built[f.offset_engine_build + 1] = page0[f.offset_engine_build + 1];
    for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(built[i], page0[i]) << "offset " << i;
  }
}

TEST(HeaderTest, Jet4PasswordIsUcs2MaskedWithTheCreationDay) {
  HeaderInfo h;
  h.creation_date = 42329.9448;  // mask: 42329 = 0x0000a559
  h.password = "Año1";
  Bytes page = jet::BuildJet4Header(h);
  const jet::Format& f = jet::Jet4Format();
  const uint8_t want[8] = {'A' ^ 0x59, 0 ^ 0xa5, 0xf1 ^ 0, 0, 'o' ^ 0x59, 0 ^ 0xa5, '1', 0};
  EXPECT_EQ(0, std::memcmp(page.data() + f.offset_password, want, 8));
  EXPECT_EQ(page[f.offset_password + 8], 0x59);  // trailing zeros carry the mask
  EXPECT_EQ(jet::ParseHeader(f, page).password, "Año1");

  h.password = std::string(21, 'x');
  EXPECT_EQ(ErrorOf([&] { jet::BuildJet4Header(h); }), jet::kErrInvalidArgument);
  h.password = "\xff";
  EXPECT_EQ(ErrorOf([&] { jet::BuildJet4Header(h); }), jet::kErrInvalidArgument);
}

TEST(PagerTest, OpenAndCreateErrors) {
  testing_support::TempDir tmp;
  EXPECT_EQ(ErrorOf([&] { Pager::Open(tmp.File("none.mdb"), OpenMode::kReadOnly, false); }),
            jet::kErrFileNotFound);
  WriteRaw(tmp.File("empty.mdb"), {});
  WriteRaw(tmp.File("short.mdb"), Bytes(10, 0));
  Bytes text(8192, 'x');
  WriteRaw(tmp.File("text.mdb"), text);
  for (const char* name : {"empty.mdb", "short.mdb", "text.mdb"})
    EXPECT_EQ(ErrorOf([&] { Pager::Open(tmp.File(name), OpenMode::kReadOnly, false); }),
              jet::kErrNotADatabase)
        << name;

  HeaderInfo h;
  Pager::Create(tmp.File("a.mdb"), h, false);
  Bytes raw = RawFile(tmp.File("a.mdb"));
  ASSERT_EQ(raw.size(), 4096u);
  raw[0x14] = 2;  // a later format version
  WriteRaw(tmp.File("v2.mdb"), raw);
  EXPECT_EQ(ErrorOf([&] { Pager::Open(tmp.File("v2.mdb"), OpenMode::kReadOnly, false); }),
            jet::kErrNotADatabase);
  raw[0x14] = 1;
  raw.resize(4000);  // signature fine, page 0 truncated
  WriteRaw(tmp.File("cut.mdb"), raw);
  EXPECT_EQ(ErrorOf([&] { Pager::Open(tmp.File("cut.mdb"), OpenMode::kReadOnly, false); }),
            jet::kErrNotADatabase);

  EXPECT_EQ(ErrorOf([&] { Pager::Create(tmp.File("a.mdb"), h, false); }),
            jet::kErrDatabaseExists);
  EXPECT_EQ(ErrorOf([&] { Pager::Create(tmp.File("no/such/dir.mdb"), h, false); }),
            jet::kErrPathNotFound);

  auto p = Pager::Open(tmp.File("a.mdb"), OpenMode::kReadOnly, false);
  EXPECT_EQ(ErrorOf([&] { p->Read(1); }), jet::kErrCorrupt);
  EXPECT_EQ(ErrorOf([&] { p->Allocate(); }), jet::kErrReadOnly);
  EXPECT_EQ(ErrorOf([&] { p->Write(0, p->Copy(0)); }), jet::kErrReadOnly);
}

TEST(PagerTest, PasswordAndEncryptionSurviveReopen) {
  testing_support::TempDir tmp;
  for (bool encrypt : {false, true}) {
    for (const char* pwd : {"", "Secreto"}) {
      SCOPED_TRACE(std::string(encrypt ? "encrypted " : "plain ") + pwd);
      std::string path = tmp.File(std::string(encrypt ? "e" : "p") + pwd + ".mdb");
      HeaderInfo h;
      h.password = pwd;
      Bytes page(4096);
      for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 7);
      {
        auto p = Pager::Create(path, h, encrypt);
        EXPECT_EQ(p->header().db_key != 0, encrypt);
        EXPECT_GT(p->header().creation_date, 40000.0);
        EXPECT_EQ(p->Allocate(), 1u);
        EXPECT_EQ(p->Allocate(), 2u);
        p->Write(2, page);
      }
      Bytes raw = RawFile(path);
      ASSERT_EQ(raw.size(), 3 * 4096u);
      bool plain_on_disk = std::equal(page.begin(), page.end(), raw.begin() + 8192);
      EXPECT_EQ(plain_on_disk, !encrypt);
      bool zero_on_disk = std::all_of(raw.begin() + 4096, raw.begin() + 8192,
                                      [](uint8_t b) { return b == 0; });
      EXPECT_EQ(zero_on_disk, !encrypt);  // allocated pages are encrypted too

      if (*pwd) {
        EXPECT_EQ(ErrorOf([&] { Pager::Open(path, OpenMode::kReadOnly, false); }),
                  jet::kErrBadPassword);
        EXPECT_EQ(ErrorOf([&] { Pager::Open(path, OpenMode::kReadOnly, false, "secreto"); }),
                  jet::kErrBadPassword);
      }
      auto p = Pager::Open(path, OpenMode::kReadOnly, false, pwd);
      EXPECT_EQ(p->header().password, pwd);
      EXPECT_EQ(p->page_count(), 3u);
      EXPECT_EQ(p->Copy(2), page);
      EXPECT_EQ(p->Copy(1), Bytes(4096, 0));
      // An open pager still checks each new handle's password.
      if (*pwd) {
        EXPECT_EQ(ErrorOf([&] { Pager::Open(path, OpenMode::kReadOnly, false, "x"); }),
                  jet::kErrBadPassword);
      } else {
        EXPECT_EQ(Pager::Open(path, OpenMode::kReadOnly, false, "whatever"), p);
      }
    }
  }
}

TEST(PagerTest, TinyCacheBudgetReadsAndWritesEveryPage) {
  testing_support::TempDir tmp;
  for (bool encrypt : {false, true}) {
    std::string path = tmp.File(encrypt ? "e.mdb" : "p.mdb");
    const uint32_t kPages = 300;
    const auto& fill = PagePattern;
    {
      auto p = Pager::Create(path, HeaderInfo{}, encrypt);
      p->SetCacheBudget(5 * 4096);
      for (uint32_t i = 1; i < kPages; ++i) {
        ASSERT_EQ(p->Allocate(), i);
        p->Write(i, fill(i, 0));
        ASSERT_LE(p->cached_bytes(), 5 * 4096u);
      }
      // Rewrite every third page in scattered order, then check all.
      for (int i = kPages - 1; i >= 1; i -= 3) p->Write(i, fill(i, 1));
      for (uint32_t i = 1; i < kPages; ++i) {
        int round = (kPages - 1 - i) % 3 == 0 ? 1 : 0;
        ASSERT_EQ(p->Copy(i), fill(i, round)) << "page " << i;
        ASSERT_LE(p->cached_bytes(), 5 * 4096u);
      }
      p->SetCacheBudget(0);
      EXPECT_EQ(p->cached_bytes(), Pager::kMinCachedPages * 4096);
    }
    auto p = Pager::Open(path, OpenMode::kReadOnly, false);
    ASSERT_EQ(p->page_count(), kPages);
    for (uint32_t i = 1; i < kPages; ++i) {
      int round = (kPages - 1 - i) % 3 == 0 ? 1 : 0;
      ASSERT_EQ(p->Copy(i), fill(i, round)) << "page " << i;
    }
  }
}

// Reads in page order fetch several pages at a time and changed pages go
// out in runs: neither may step over a page the cache holds changed.
TEST(PagerTest, PagesReadAheadAndWrittenInRunsKeepEveryChange) {
  testing_support::TempDir tmp;
  for (bool encrypt : {false, true}) {
    SCOPED_TRACE(encrypt ? "encrypted" : "plain");
    std::string path = tmp.File(encrypt ? "e.mdb" : "p.mdb");
    const uint32_t kPages = 200;
    const auto& fill = PagePattern;
    {
      auto p = Pager::Create(path, HeaderInfo{}, encrypt);
      for (uint32_t i = 1; i < kPages; ++i) p->Write(p->Allocate(), fill(i, 0));
    }
    {
      auto p = Pager::Open(path, OpenMode::kReadWrite, false);
      for (uint32_t i = 1; i <= 50; ++i) ASSERT_EQ(p->Copy(i), fill(i, 0)) << "page " << i;
      p->Write(100, fill(100, 1));  // cached, changed, never read
      p->Modify(60)[7] ^= 0xFF;
      for (uint32_t i = 51; i < kPages; ++i) {
        Bytes want = fill(i, i == 100 ? 1 : 0);
        if (i == 60) want[7] ^= 0xFF;
        ASSERT_EQ(p->Copy(i), want) << "page " << i;
      }
    }
    auto p = Pager::Open(path, OpenMode::kReadOnly, false);
    for (uint32_t i = kPages - 1; i >= 1; --i) {
      Bytes want = fill(i, i == 100 ? 1 : 0);
      if (i == 60) want[7] ^= 0xFF;
      ASSERT_EQ(p->Copy(i), want) << "page " << i;
    }
  }
}

// A file written page after page, each page retired once filled, holds
// only a batch of pages in the cache; a retired page changed again, or read
// back before its batch leaves, keeps every change.
TEST(PagerTest, RetiredPagesLeaveTheCacheWithTheirChanges) {
  testing_support::TempDir tmp;
  for (bool encrypt : {false, true}) {
    SCOPED_TRACE(encrypt ? "encrypted" : "plain");
    std::string path = tmp.File(encrypt ? "e.mdb" : "p.mdb");
    const uint32_t kPages = 1000;
    const auto& fill = PagePattern;
    {
      auto p = Pager::Create(path, HeaderInfo{}, encrypt);
      for (uint32_t i = 1; i < kPages; ++i) {
        ASSERT_EQ(p->Allocate(), i);
        p->Write(i, fill(i, 0));
        if (i % 7 == 0) {
          // Back into use after retiring, and retired twice.
          p->Retire(i);
          p->Modify(i)[5] ^= 0xFF;
          p->Retire(i);
        } else if (i % 11 != 0) {
          p->Retire(i);
        }
        ASSERT_LE(p->cached_bytes(), 4096u * 300) << "page " << i;
      }
      p->Retire(kPages + 5);  // past the end: nothing to do
      for (uint32_t i = 1; i < kPages; i += 13) {
        Bytes want = fill(i, 0);
        if (i % 7 == 0) want[5] ^= 0xFF;
        ASSERT_EQ(p->Copy(i), want) << "page " << i;
      }
    }
    auto p = Pager::Open(path, OpenMode::kReadOnly, false);
    for (uint32_t i = 1; i < kPages; ++i) {
      Bytes want = fill(i, 0);
      if (i % 7 == 0) want[5] ^= 0xFF;
      ASSERT_EQ(p->Copy(i), want) << "page " << i;
    }
  }
}

// Resident file-backed memory of this process in KiB, or -1 without /proc.
long RssFileKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("RssFile:", 0) == 0) return std::stol(line.substr(8));
  return -1;
}

// A file opened read-only is read in place; what that brings into memory
// stays within the cache budget, views handed out stay good, and a handle
// that opens it for writing afterwards sees its own changes.
TEST(PagerTest, ReadOnlyFilesReadInPlaceWithinTheBudget) {
  testing_support::TempDir tmp;
  std::string path = tmp.File("ro.mdb");
  const uint32_t kPages = 3000;  // 12 MiB
  const auto& fill = PagePattern;
  {
    auto p = Pager::Create(path, HeaderInfo{}, false);
    for (uint32_t i = 1; i < kPages; ++i) p->Write(p->Allocate(), fill(i, 0));
  }
  auto p = Pager::Open(path, OpenMode::kReadOnly, false);
  p->SetCacheBudget(1 << 20);
  const jet::ByteView kept = p->Read(5);
  const long before = RssFileKb();
  for (uint32_t i = 1; i < kPages; ++i) ASSERT_EQ(p->Copy(i), fill(i, 0)) << "page " << i;
  for (int i = kPages - 1; i >= 1; i -= 7) {
    const auto page = static_cast<uint32_t>(i);
    ASSERT_EQ(p->Copy(page), fill(page, 0)) << "page " << i;
  }
  if (before >= 0) {
    EXPECT_LT(RssFileKb() - before, 4 * 1024) << "KiB brought in and kept";
  }
  EXPECT_EQ(Bytes(kept.begin(), kept.end()), fill(5, 0));

  auto w = Pager::Open(path, OpenMode::kReadWrite, false);
  ASSERT_EQ(w, p);
  w->Write(7, fill(7, 1));
  EXPECT_EQ(p->Copy(7), fill(7, 1));
  EXPECT_EQ(p->Copy(8), fill(8, 0));
}

TEST(PagerTest, HandlesInOneProcessShareThePager) {
  testing_support::TempDir tmp;
  std::string path = tmp.File("s.mdb");
  auto a = Pager::Create(path, HeaderInfo{}, false);
  auto b = Pager::Open(tmp.path().string() + "/./s.mdb", OpenMode::kReadOnly, false);
  EXPECT_EQ(a, b);
  uint32_t page = b->Allocate();
  Bytes data(4096, 0xab);
  a->Write(page, data);
  EXPECT_EQ(b->Copy(page), data);
  // Exclusive handles in the same process share it as well.
  EXPECT_EQ(Pager::Open(path, OpenMode::kReadWrite, true), a);
  a.reset();
  b.reset();
  // The last handle flushed: a fresh pager sees the page.
  auto c = Pager::Open(path, OpenMode::kReadOnly, false);
  EXPECT_EQ(c->Copy(page), data);

#ifdef _WIN32
  // Names that differ only in case name one file there.
  EXPECT_EQ(Pager::Open(tmp.File("S.MDB"), OpenMode::kReadOnly, false), c);
#endif

  // A read-only pager upgrades in place when a handle asks to write.
  auto d = Pager::Open(path, OpenMode::kReadWrite, false);
  EXPECT_EQ(c, d);
  EXPECT_TRUE(c->writable());
  c->Write(page, Bytes(4096, 1));
}

// Another process may read beside a writer; a second writer, or anyone
// beside an exclusive open, is refused; and a refused open writes nothing.
TEST(PagerTest, OtherProcessesRespectExclusiveAndSharedLocks) {
  testing_support::TempDir tmp;
  std::string path = tmp.File("l.mdb");
  Pager::Create(path, HeaderInfo{}, false)->Allocate();
  const Bytes before = RawFile(path);
  const struct {
    const char* held;
    int read, write, exclusive;  // what another process gets
  } rows[] = {
      {"read", 0, 0, jet::kErrFileInUse},
      {"write", 0, jet::kErrFileInUse, jet::kErrFileInUse},
      {"exclusive", jet::kErrLockedExclusive, jet::kErrLockedExclusive, jet::kErrLockedExclusive},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.held);
    auto held = OpenAs(path, row.held);
    EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "read"}), row.read);
    EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "write"}), row.write);
    EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "exclusive"}), row.exclusive);
    EXPECT_EQ(RawFile(path), before);
  }
  EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "exclusive"}), 0);
}

// This process is refused as the other is, and a refused upgrade leaves the
// pager as it was, locks included.
TEST(PagerTest, UpgradesRefusedByAnotherProcessChangeNothing) {
  testing_support::TempDir tmp;
  std::string path = tmp.File("u.mdb");
  std::string release = tmp.File("release");
  Pager::Create(path, HeaderInfo{}, false)->Allocate();
  auto reader = Pager::Open(path, OpenMode::kReadOnly, false);
  {
    testing_support::Child writer("HoldDatabase", {path, "write", release});
    ASSERT_TRUE(WaitForFile(release + "+"));
    EXPECT_EQ(ErrorOf([&] { Pager::Open(path, OpenMode::kReadWrite, false); }), jet::kErrFileInUse);
    EXPECT_EQ(ErrorOf([&] { Pager::Open(path, OpenMode::kReadOnly, true); }), jet::kErrFileInUse);
    EXPECT_FALSE(reader->writable());
    EXPECT_EQ(reader->Copy(1), Bytes(4096, 0));
    Touch(release);
    EXPECT_EQ(writer.Wait(), 0);
  }
  // Still open here: nobody else may have the file exclusively.
  EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "exclusive"}), jet::kErrFileInUse);

  EXPECT_EQ(Pager::Open(path, OpenMode::kReadWrite, false), reader);
  EXPECT_TRUE(reader->writable());
  EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "write"}), jet::kErrFileInUse);
  EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "read"}), 0);
  EXPECT_EQ(Pager::Open(path, OpenMode::kReadWrite, true), reader);
  EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "read"}), jet::kErrLockedExclusive);
}

// The office application keeps <name>.ldb open beside a database it has
// open (found whatever its case); no other program writes then. One left
// behind after a crash, held by nobody, changes nothing.
TEST(PagerTest, TheOfficeApplicationKeepsWritersOut) {
  testing_support::TempDir tmp;
  std::string path = tmp.File("Despacho.mdb");
  std::string ldb = tmp.File("DESPACHO.LDB");
  Pager::Create(path, HeaderInfo{}, false)->Allocate();
  Touch(ldb);
  const Bytes before = RawFile(path);
  auto reader = Pager::Open(path, OpenMode::kReadOnly, false);
  {
    testing_support::ForeignHold office(ldb, testing_support::Hold::kJetLockFile);
    ASSERT_TRUE(office.held());
    EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "write"}), jet::kErrFileInUse);
    EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "exclusive"}), jet::kErrFileInUse);
    EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "read"}), 0);
    EXPECT_EQ(ErrorOf([&] { Pager::Open(path, OpenMode::kReadWrite, false); }), jet::kErrFileInUse);
    EXPECT_FALSE(reader->writable());
  }
#ifdef _WIN32
  // The Jet engine's own share modes on the database.
  const struct {
    testing_support::Hold hold;
    int read, write;
  } rows[] = {
      {testing_support::Hold::kShareReadWrite, 0, jet::kErrFileInUse},
      {testing_support::Hold::kShareNothing, jet::kErrLockedExclusive, jet::kErrLockedExclusive},
  };
  reader.reset();
  for (const auto& row : rows) {
    testing_support::ForeignHold jet_engine(path, row.hold);
    ASSERT_TRUE(jet_engine.held());
    EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "read"}), row.read);
    EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "write"}), row.write);
    EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "exclusive"}), row.write);
  }
  reader = Pager::Open(path, OpenMode::kReadOnly, false);
#endif
  EXPECT_EQ(RawFile(path), before);
  EXPECT_EQ(testing_support::RunInChild("OpenDatabase", {path, "write"}), 0);
  EXPECT_EQ(Pager::Open(path, OpenMode::kReadWrite, false), reader);
}

}  // namespace
