#include "platform/directory_reader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "platform/helper_thread.h"
#include "platform/system_error.h"

namespace corvane {
namespace {

std::string Trimmed(const std::string& relative) {
  const std::size_t first = relative.find_first_not_of('/');
  if (first == std::string::npos) return ".";
  const std::size_t last = relative.find_last_not_of('/');
  return relative.substr(first, last - first + 1);
}

void Fill(const struct stat& status, DirectoryEntryInfo& entry) {
  entry.is_directory = S_ISDIR(status.st_mode);
  entry.owner_writable = (status.st_mode & S_IWUSR) != 0;
  entry.size = entry.is_directory ? 0 : static_cast<std::uint64_t>(status.st_size);
  entry.modified = std::chrono::sys_seconds{std::chrono::seconds{status.st_mtim.tv_sec}};
}

// Entries are read in batches of this many; a directory that fills one is examined by a
// second thread as well, batch by batch, while the rest is still being read.
constexpr std::size_t kBatchEntries = 4096;

// A batch of read entries, the name offsets within its own names.
struct Batch {
  DirectoryEntries read;
  std::vector<char> examined;
};

// Batches handed from the reading thread to the examining ones.
class BatchQueue {
 public:
  void Push(Batch&& batch) {
    const std::lock_guard lock(mutex_);
    batches_.push_back(std::move(batch));
    ready_.notify_one();
  }
  void Close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    ready_.notify_all();
  }
  // The next batch nobody examines yet; null once the queue is closed and all are taken.
  Batch* Take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return taken_ < batches_.size() || closed_; });
    return taken_ < batches_.size() ? &batches_[taken_++] : nullptr;
  }
  // Once every examining thread is done.
  std::deque<Batch>& Batches() { return batches_; }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Batch> batches_;  // a deque keeps taken batches in place as more arrive
  std::size_t taken_ = 0;
  bool closed_ = false;
};

}  // namespace

DirectoryReader::DirectoryReader(const std::string& root, const std::string& relative)
    : root_(root), relative_(Trimmed(relative)) {
  UniqueFd directory = root_.OpenDirectory(relative_);
  dir_.reset(::fdopendir(directory.Get()));
  if (!dir_) throw std::runtime_error(SystemErrorText(errno));
  directory.Release();  // the stream owns it now
}

bool DirectoryReader::Examine(const char* name, DirectoryEntryInfo& entry) const {
  const int dir_fd = ::dirfd(dir_.get());
  const std::string_view view(name);
  struct stat status {};
  if (view == "." || (view == ".." && relative_ == ".")) {
    // SECURITY: the root's parent lies outside it; ".." of the root shows the root.
    if (::fstat(dir_fd, &status) != 0) return false;
    Fill(status, entry);
    return true;
  }
  if (view == "..") {
    // A directory reached through a link may have its parent outside: then it shows itself.
    std::optional<struct stat> parent = root_.Status(relative_ + "/..");
    if (!parent && ::fstat(dir_fd, &status) != 0) return false;
    Fill(parent ? *parent : status, entry);
    return true;
  }
  if (::fstatat(dir_fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISLNK(status.st_mode)) {
    // SECURITY: follow a link only while it stays beneath the root.
    if (const std::optional<struct stat> target = root_.Status(relative_ + "/" + name)) {
      Fill(*target, entry);
    } else {
      Fill(status, entry);
      entry.is_directory = false;
      entry.size = 0;
    }
    return true;
  }
  Fill(status, entry);
  return true;
}

DirectoryEntries DirectoryReader::ReadAll(bool names_only) {
  // Examining is one system call per entry and most of a listing's time: from the second
  // batch on, a helper thread examines what has been read while this one reads on, and both
  // examine what is left once reading ends.
  BatchQueue queue;
  const auto examine = [&] {
    while (Batch* batch = queue.Take()) {
      batch->examined.resize(batch->read.entries.size());
      for (std::size_t index = 0; index < batch->read.entries.size(); ++index) {
        DirectoryEntryInfo& entry = batch->read.entries[index];
        batch->examined[index] = Examine(batch->read.NameText(entry), entry);
      }
    }
  };
  std::optional<HelperThread> helper;
  Batch batch;
  try {
    while (const dirent* record = ::readdir(dir_.get())) {
      const std::size_t size = std::strlen(record->d_name);
      DirectoryEntryInfo& entry = batch.read.entries.emplace_back();
      entry.name_offset = static_cast<std::uint32_t>(batch.read.names.size());
      entry.name_size = static_cast<std::uint32_t>(size);
      batch.read.names.append(record->d_name, size + 1);
      if (names_only || batch.read.entries.size() < kBatchEntries) continue;
      queue.Push(std::move(batch));
      batch = {};
      if (!helper) helper.emplace(examine);
    }
    if (names_only) return std::move(batch.read);
    queue.Push(std::move(batch));
    queue.Close();
    examine();
  } catch (...) {
    // The helper ends once the queue is closed and every batch taken; what it threw is
    // dropped for what this thread throws.
    queue.Close();
    helper.reset();
    throw;
  }
  if (helper) helper->Join();
  // One list in reading order; entries that could not be examined (gone since they were
  // read, say) are left out.
  DirectoryEntries read;
  std::size_t entries = 0, name_bytes = 0;
  for (const Batch& each : queue.Batches()) {
    entries += each.read.entries.size();
    name_bytes += each.read.names.size();
  }
  read.entries.reserve(entries);
  read.names.reserve(name_bytes);
  for (const Batch& each : queue.Batches()) {
    const auto base = static_cast<std::uint32_t>(read.names.size());
    read.names += each.read.names;
    for (std::size_t index = 0; index < each.read.entries.size(); ++index) {
      if (!each.examined[index]) continue;
      read.entries.push_back(each.read.entries[index]);
      read.entries.back().name_offset += base;
    }
  }
  return read;
}

}  // namespace corvane
