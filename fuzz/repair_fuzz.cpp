// libFuzzer target: the whole repair over any byte string, the writing of
// the new file included, must end in a report or a jet::JetError (a file
// that does not read at all, a new file the engine refuses), never a crash,
// a hang or any other exception. Each run writes into a folder of its own,
// emptied after. REPAIR_FUZZ_DEBUG=1 prints what each run came to.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "jet/error.h"
#include "repair/law_office_layouts.h"
#include "repair/repair.h"

namespace {

namespace fs = std::filesystem;

// The pager reads files: the fastest place there is, /dev/shm when it exists.
const fs::path& Folder() {
  static const fs::path folder = [] {
    std::string base = "/tmp";
    if (const char* env = std::getenv("TMPDIR"); env && *env) {
      base = env;
    } else if (::access("/dev/shm", W_OK) == 0) {
      base = "/dev/shm";
    }
    std::string name = base + "/maquetor-repair-fuzz-XXXXXX";
    if (!::mkdtemp(name.data())) std::abort();  // the harness itself is broken
    return fs::path(name);
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static maquetor::repair::LawOfficeLayouts layouts;
  const fs::path in = Folder() / "in.mdb", out = Folder() / "out.mdb";
  std::ofstream(in, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  try {
    const auto report = maquetor::repair::Repair(
        in.string(), "", out.string(), [](const std::string& t) { return layouts.Find(t); },
        [] { return layouts.Names(); });
    if (std::getenv("REPAIR_FUZZ_DEBUG")) {
      std::fprintf(stderr, "%zu tables, written %d\n", report.tables.size(), report.written);
    }
  } catch (const jet::JetError& e) {
    if (std::getenv("REPAIR_FUZZ_DEBUG")) std::fprintf(stderr, "Jet error: %s\n", e.what());
  }
  for (const auto& entry : fs::directory_iterator(Folder())) fs::remove(entry.path());
  return 0;
}
