#include "read_all.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/pager.h"
#include "jet/salvage.h"

namespace {

// A file holding the input, removed when it goes. The pager reads files, so
// the buffer goes to the fastest place we have: /dev/shm when it exists.
class InputFile {
 public:
  InputFile(const uint8_t* data, size_t size) {
    std::string dir = "/tmp";
    if (const char* env = std::getenv("TMPDIR"); env && *env) {
      dir = env;
    } else if (::access("/dev/shm", W_OK) == 0) {
      dir = "/dev/shm";
    }
    path_ = dir + "/maquetor-fuzz-XXXXXX.mdb";
    int fd = ::mkstemps(path_.data(), 4);
    if (fd < 0) std::abort();  // the harness itself is broken: stop loudly
    size_t done = 0;
    while (done < size) {
      ssize_t w = ::write(fd, data + done, size - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) std::abort();
      done += static_cast<size_t>(w);
    }
    ::close(fd);
  }
  ~InputFile() { ::unlink(path_.c_str()); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

void ReadWholeDatabase(const uint8_t* data, size_t size) {
  InputFile file(data, size);
  try {
    std::shared_ptr<jet::Pager> pager = jet::Pager::Open(file.path(), jet::OpenMode::kReadOnly, false);
    const jet::HeaderInfo& header = pager->header();
    volatile uint32_t sink = header.db_key ^ header.code_page;
    const uint32_t pages = pager->page_count();
    for (uint32_t i = 0; i < pages; ++i) {
      jet::ByteView page = pager->Read(i);
      if (!page.empty()) sink = sink + page[0] + page[page.size() - 1];
    }
    (void)sink;
    pager.reset();
  } catch (const jet::JetError&) {
    return;  // a refused file is a correct answer
  }
  // The catalogue, then every table's definition and rows, as a reader of
  // the file would go through them.
  try {
    using namespace jet::dao;
    Database db = DBEngine::Instance().Workspaces(0).OpenDatabase(file.path(), false, true, "");
    for (const TableDef& t : db.TableDefs()) {
      for (const Field& f : t.Fields()) (void)f.DefaultValue();
      for (const Index& i : t.Indexes()) (void)i.Fields();
      try {
        Recordset rs = db.OpenRecordset(t.Name());
        for (int row = 0; !rs.IsEOF() && row < 100000; ++row) {
          for (int c = 0; c < rs.FieldCount(); ++c) (void)rs.GetValue(c).ToString();
          rs.MoveNext();
        }
      } catch (const jet::JetError&) {
        // One damaged table does not stop the others.
      }
    }
    (void)db.Relations();
    db.Close();
  } catch (const jet::JetError&) {
  }
}

void SalvageWholeDatabase(const uint8_t* data, size_t size) {
  InputFile file(data, size);
  std::shared_ptr<jet::Pager> pager;
  try {
    pager = jet::Pager::Open(file.path(), jet::OpenMode::kReadOnly, false);
  } catch (const jet::JetError&) {
    return;  // not a Jet file: repair calls it unreadable
  }
  // Anything thrown from here on is a fault of the salvager: it escapes and
  // the fuzzer reports it.
  jet::Salvager salvager(pager);
  volatile size_t sink = 0;
  for (const jet::SalvagedTable& t : salvager.tables()) {
    if (!t.def) continue;
    jet::RowHarvest h = salvager.Rows(t.tdef_page, *t.def, [&](std::vector<jet::Value>& v) {
      for (const jet::Value& x : v) sink = sink + x.ToString().size();
    });
    sink = sink + h.recovered + h.lost + salvager.IndexDamage(*t.def).size();
    // The same pages read with no map to follow, as for a lost definition.
    jet::TableDef bare = *t.def;
    bare.owned_pages = 0;
    sink = sink + salvager.Rows(t.tdef_page, bare, [](std::vector<jet::Value>&) {}).recovered;
  }
  sink = sink + salvager.Relations().size();
  (void)sink;
}
