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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "jet/error.h"
#include "repair/law_office_layouts.h"
#include "repair/repair.h"

namespace {

namespace fs = std::filesystem;

// The folder's name, in storage no destructor touches, so that the exit
// handler can still remove it.
char folder_name[512];

// The pager reads files: the fastest place there is, /dev/shm when it exists.
fs::path Folder() {
  static const bool made = [] {
    std::string base = "/tmp";
    if (const char* env = std::getenv("TMPDIR"); env && *env) {
      base = env;
    } else if (::access("/dev/shm", W_OK) == 0) {
      base = "/dev/shm";
    }
    const std::string name = base + "/maquetor-repair-fuzz-XXXXXX";
    // The harness itself is broken: stop loudly.
    if (name.size() >= sizeof folder_name) std::abort();
    std::memcpy(folder_name, name.c_str(), name.size() + 1);
    if (!::mkdtemp(folder_name)) std::abort();
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(folder_name, ignored);
    });
    return true;
  }();
  (void)made;
  return fs::path(folder_name);
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
