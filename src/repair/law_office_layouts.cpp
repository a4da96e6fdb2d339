#include "repair/law_office_layouts.h"

#include <filesystem>
#include <random>
#include <system_error>

#include "db/engine.h"
#include "db/file_name.h"
#include "jet/database.h"
#include "jet/text.h"
#include "schema/buttons.h"

namespace maquetor::repair {
namespace {

// A folder of our own under the system's temporary folder, removed with
// everything in it when the object goes.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::random_device seed;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0;; ++attempt) {
      path_ = base / ("maquetor-layouts-" + std::to_string(seed()));
      if (std::filesystem::create_directory(path_) || attempt == 100) break;
    }
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

std::optional<jet::TableDef> LawOfficeLayouts::Find(const std::string& table) {
  if (!loaded_) Load();
  auto it = defs_.find(jet::FoldName(table));
  if (it == defs_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> LawOfficeLayouts::Names() {
  if (!loaded_) Load();
  return names_;
}

void LawOfficeLayouts::Load() {
  loaded_ = true;
  TemporaryFolder folder;
  const std::string path = db::Utf8Name(folder.path() / "Layouts.mdb");
  schema::CrearBaseCompleta(path);
  // The password the program's connect string carries.
  const std::string password = std::string(db::kConnect).substr(sizeof(";pwd=") - 1);
  auto file = jet::FileState::Open(path, false, true, password);
  for (const jet::CatalogEntry& e : file->TableEntries()) {
    if (e.is_system()) continue;
    defs_[jet::FoldName(e.name)] = file->GetTable(e.name).def();
    names_.push_back(e.name);
  }
}

}  // namespace maquetor::repair
