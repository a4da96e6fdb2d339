#include "support/fault_file_system.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "jet/error.h"

namespace testing_support {
namespace {

constexpr uint64_t kBlock = 4096;

std::filesystem::path Fs(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::optional<std::string> ReadWhole(const std::string& path) {
  std::ifstream in(Fs(path), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(Fs(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void WriteAt(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
  std::fstream f(Fs(path), std::ios::binary | std::ios::in | std::ios::out);
  if (!f) return;
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path FolderKey(const std::string& path) {
  return Fs(path).parent_path().lexically_normal();
}

class FaultFile final : public jet::File {
 public:
  FaultFile(FaultFileSystem& fs, std::unique_ptr<jet::File> real,
            std::shared_ptr<FaultFileSystem::Durable> durable)
      : fs_(fs), real_(std::move(real)), durable_(std::move(durable)) {}

  uint64_t Size() override {
    fs_.CheckAlive();
    return real_->Size();
  }
  size_t ReadAt(uint64_t offset, std::span<const jet::IoBuffer> buffers) override {
    fs_.CheckAlive();
    return real_->ReadAt(offset, buffers);
  }
  void WriteAt(uint64_t offset, std::span<const jet::IoBuffer> buffers) override {
    std::vector<uint8_t> bytes;
    for (const jet::IoBuffer& b : buffers) bytes.insert(bytes.end(), b.data, b.data + b.size);
    fs_.BeforeWrite(durable_, *real_, offset, bytes.size(), &bytes);
    real_->WriteAt(offset, buffers);
  }
  void Extend(uint64_t size) override {
    fs_.BeforeExtend(durable_, *real_);
    real_->Extend(size);
  }
  void Sync() override {
    fs_.BeforeSync(durable_);
    real_->Sync();
    durable_->blocks.clear();
    durable_->size = real_->Size();
  }
  void StartWriteOut(uint64_t offset, uint64_t length) override {
    fs_.CheckAlive();
    real_->StartWriteOut(offset, length);
  }
  bool TryLock(uint64_t offset, bool exclusive) override {
    fs_.CheckAlive();
    return real_->TryLock(offset, exclusive);
  }
  void Unlock(uint64_t offset) override { real_->Unlock(offset); }
  std::unique_ptr<jet::FileMapping> MapReadOnly(size_t length) override {
    fs_.CheckAlive();
    return real_->MapReadOnly(length);
  }

 private:
  FaultFileSystem& fs_;
  std::unique_ptr<jet::File> real_;
  std::shared_ptr<FaultFileSystem::Durable> durable_;
};

}  // namespace

FaultFileSystem::FaultFileSystem(jet::FileSystem& real) : real_(real) {}
FaultFileSystem::~FaultFileSystem() = default;

void FaultFileSystem::FailWrite(int n, int error, bool sticky) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  fail_write_ = n;
  fail_write_error_ = error;
  fail_write_sticky_ = sticky;
}

void FaultFileSystem::FailSync(int n, int error) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  fail_sync_ = n;
  fail_sync_error_ = error;
}

void FaultFileSystem::PowerCutAtWrite(int n, bool torn) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  cut_at_ = n;
  torn_ = torn;
}

void FaultFileSystem::PowerCutAtSync(int n) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  cut_at_sync_ = n;
}

int FaultFileSystem::writes() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return writes_;
}
int FaultFileSystem::syncs() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return syncs_;
}
bool FaultFileSystem::cut() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return cut_;
}

void FaultFileSystem::CheckAlive() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (cut_) throw jet::JetError(jet::kErrDiskIo);
}

std::shared_ptr<FaultFileSystem::Durable> FaultFileSystem::StateFor(const std::string& path) {
  for (const auto& d : files_)
    if (d->path == path) return d;
  files_.push_back(std::make_shared<Durable>(Durable{path, std::nullopt, {}}));
  return files_.back();
}

void FaultFileSystem::CountWrite() {
  ++writes_;
  if (writes_ == cut_at_) {
    cut_ = true;
    throw jet::JetError(jet::kErrDiskIo);
  }
  if (fail_write_ != 0 &&
      (writes_ == fail_write_ || (fail_write_sticky_ && writes_ > fail_write_))) {
    throw jet::JetError(fail_write_error_);
  }
}

void FaultFileSystem::CountSync() {
  ++syncs_;
  if (syncs_ == cut_at_sync_) {
    cut_ = true;
    throw jet::JetError(jet::kErrDiskIo);
  }
  if (syncs_ == fail_sync_) throw jet::JetError(fail_sync_error_);
}

void FaultFileSystem::BeforeWrite(const std::shared_ptr<Durable>& d, jet::File& real,
                                  uint64_t offset, uint64_t length,
                                  const std::vector<uint8_t>* bytes) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  CheckAlive();
  if (writes_ + 1 == cut_at_ && torn_ && bytes) {
    torn_file_ = d;
    torn_offset_ = offset;
    torn_bytes_.assign(bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(length / 2));
  }
  CountWrite();
  if (!d->size) d->size = real.Size();
  // The bytes each touched block held at the last sync, the first time
  // the block is written since.
  for (uint64_t block = offset / kBlock * kBlock; block < offset + length && block < *d->size;
       block += kBlock) {
    if (d->blocks.count(block)) continue;
    std::vector<uint8_t> old(kBlock);
    const jet::IoBuffer b{old.data(), old.size()};
    old.resize(real.ReadAt(block, {&b, 1}));
    d->blocks.emplace(block, std::move(old));
  }
}

void FaultFileSystem::BeforeExtend(const std::shared_ptr<Durable>& d, jet::File& real) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  CheckAlive();
  CountWrite();
  if (!d->size) d->size = real.Size();
}

void FaultFileSystem::BeforeSync(const std::shared_ptr<Durable>&) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  CheckAlive();
  CountSync();
}

std::unique_ptr<jet::File> FaultFileSystem::Open(const std::string& path, jet::FileAccess access) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  CheckAlive();
  auto real = real_.Open(path, access);
  return std::make_unique<FaultFile>(*this, std::move(real), StateFor(path));
}

std::unique_ptr<jet::File> FaultFileSystem::Create(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  CheckAlive();
  auto real = real_.Create(path);
  auto d = StateFor(path);
  d->size = 0;
  d->blocks.clear();
  pending_.push_back(NameChange{NameChange::kCreate, "", path, std::nullopt, d});
  return std::make_unique<FaultFile>(*this, std::move(real), d);
}

bool FaultFileSystem::Remove(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (cut_) return false;
  std::optional<std::string> old = ReadWhole(path);
  if (!real_.Remove(path)) return false;
  std::shared_ptr<Durable> d = StateFor(path);
  d->path.clear();
  pending_.push_back(NameChange{NameChange::kRemove, path, "", std::move(old), d});
  return true;
}

void FaultFileSystem::Rename(const std::string& from, const std::string& to, bool replace) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  CheckAlive();
  std::optional<std::string> old = replace ? ReadWhole(to) : std::nullopt;
  real_.Rename(from, to, replace);
  for (const auto& d : files_)
    if (d->path == to) d->path.clear();
  std::shared_ptr<Durable> d = StateFor(from);
  d->path = to;
  pending_.push_back(NameChange{NameChange::kRename, from, to, std::move(old), d});
}

void FaultFileSystem::SyncFolder(const std::string& folder) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  CheckAlive();
  CountSync();
  real_.SyncFolder(folder);
  const std::filesystem::path key = Fs(folder).lexically_normal();
  std::erase_if(pending_, [&](const NameChange& c) {
    return FolderKey(c.kind == NameChange::kRemove ? c.from : c.to) == key;
  });
}

void FaultFileSystem::Reboot() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (cut_) {
    std::error_code ec;
    for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
      switch (it->kind) {
        case NameChange::kCreate:
          std::filesystem::remove(Fs(it->to), ec);
          it->file->path.clear();
          break;
        case NameChange::kRename:
          std::filesystem::rename(Fs(it->to), Fs(it->from), ec);
          it->file->path = it->from;
          if (it->old_to) WriteWhole(it->to, *it->old_to);
          break;
        case NameChange::kRemove:
          if (it->old_to) WriteWhole(it->from, *it->old_to);
          it->file->path = it->from;
          break;
      }
    }
    for (const auto& d : files_) {
      if (d->path.empty() || !d->size) continue;
      for (const auto& [offset, bytes] : d->blocks) WriteAt(d->path, offset, bytes);
      std::filesystem::resize_file(Fs(d->path), *d->size, ec);
    }
    if (torn_file_ && !torn_file_->path.empty()) WriteAt(torn_file_->path, torn_offset_, torn_bytes_);
  }
  files_.clear();
  pending_.clear();
  torn_file_.reset();
  torn_bytes_.clear();
  writes_ = syncs_ = 0;
  fail_write_ = fail_sync_ = cut_at_ = cut_at_sync_ = 0;
  torn_ = cut_ = false;
}

int PowerCutAtEveryPoint(FaultFileSystem& fs, const std::function<void()>& prepare,
                         const std::function<void()>& operation,
                         const std::function<void(const std::string& point)>& check, int stride) {
  int writes = 0, syncs = 0;
  prepare();
  {
    InstalledFileSystem installed(fs);
    fs.Reboot();
    operation();
    writes = fs.writes();
    syncs = fs.syncs();
    fs.Reboot();
  }
  check("none");
  int tried = 0;
  auto run = [&](const std::string& point, const std::function<void()>& arm) {
    prepare();
    {
      InstalledFileSystem installed(fs);
      arm();
      try {
        operation();
      } catch (...) {
      }
      const bool cut = fs.cut();
      jet::TakeDeferredErrors();
      fs.Reboot();
      if (!cut) ADD_FAILURE() << "no power cut at " << point;
    }
    ++tried;
    check(point);
  };
  for (int n = 1; n <= writes; n += stride) {
    run("write " + std::to_string(n), [&] { fs.PowerCutAtWrite(n, n % 2 == 0); });
  }
  for (int n = 1; n <= syncs; ++n) {
    run("sync " + std::to_string(n), [&] { fs.PowerCutAtSync(n); });
  }
  return tried;
}

}  // namespace testing_support
