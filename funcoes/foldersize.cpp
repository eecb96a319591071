#include "funcoes/foldersize.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "funcoes/funcoes.h"
#include "platform/fs.h"

namespace {

// The folders on the path from the first folder down to one folder: a link
// back to any of them would repeat the walk without end. Shared by the paths
// that branch below it.
struct Walking {
  platform::FolderId id;
  std::shared_ptr<const Walking> up;
};

bool OnPath(const Walking* walking, const platform::FolderId& id) {
  for (; walking; walking = walking->up.get())
    if (walking->id == id) return true;
  return false;
}

struct Folder {
  WideString path;
  std::shared_ptr<const Walking> walking;  // the folders above it
};

// Folders waiting to be listed, taken by whichever thread is free: sibling
// folders are walked at once. Newest first, so the walk goes deep before wide
// and few folders wait at any time.
class Walk {
 public:
  Walk(bool recurse, const std::atomic<bool>& stop) : recurse_(recurse), stop_(stop) {}

  int64_t Run(const WideString& path, unsigned threads) {
    std::vector<Folder> found;
    int64_t sum = List({path, nullptr}, found);
    pending_ = std::move(found);
    // Helpers only where there are siblings to share; counted before the first starts taking.
    const unsigned helperCount = pending_.size() > 1 ? threads - 1 : 0;
    std::vector<std::thread> helpers;
    for (unsigned i = 0; i < helperCount; ++i) {
      try {
        helpers.emplace_back([this] { Take(); });
      } catch (const std::system_error&) {
        break;  // the system gives no more threads: fewer walk
      }
    }
    Take();
    for (std::thread& helper : helpers) helper.join();
    return sum + total_;
  }

 private:
  void Take() {
    int64_t sum = 0;
    std::vector<Folder> found;
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return !pending_.empty() || busy_ == 0; });
      if (pending_.empty()) break;  // nothing waits and nobody lists: the walk is over
      Folder folder = std::move(pending_.back());
      pending_.pop_back();
      ++busy_;
      lock.unlock();
      sum += List(folder, found);
      lock.lock();
      --busy_;
      if (stop_) pending_.clear();
      for (Folder& f : found) pending_.push_back(std::move(f));
      found.clear();
      changed_.notify_all();
    }
    total_ += sum;
  }

  // The bytes of one folder's files; its sub-folders to walk go to found.
  int64_t List(const Folder& folder, std::vector<Folder>& found) const {
    if (stop_) return 0;
    const WideString path = IncludeTrailingPathDelimiter(folder.path);
    int64_t sum = 0;
    std::vector<WideString> subfolders;
    std::optional<platform::FolderId> id;
    {
      platform::FolderListing listing(path);
      if (!listing.IsOpen()) return 0;
      id = listing.Id();
      if (id && OnPath(folder.walking.get(), *id)) return 0;
      platform::FolderEntry entry;
      while (listing.Next(entry)) {
        sum += entry.size;
        if (entry.isFolder && recurse_ && !entry.name.empty() && entry.name[0] != u'.')
          subfolders.push_back(entry.name);
      }
    }
    // The listing is closed before going deeper, so a deep tree never runs out of handles.
    if (subfolders.empty()) return sum;
    const std::shared_ptr<const Walking> walking =
        id ? std::make_shared<const Walking>(Walking{*id, folder.walking}) : folder.walking;
    for (const WideString& name : subfolders) found.push_back({path + name, walking});
    return sum;
  }

  const bool recurse_;
  const std::atomic<bool>& stop_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Folder> pending_;
  unsigned busy_ = 0;  // threads listing a folder, which may find more
  int64_t total_ = 0;
};

bool HoldsFiles(const WideString& path, std::vector<platform::FolderId>& walking) {
  const WideString folder = IncludeTrailingPathDelimiter(path);
  std::vector<WideString> subfolders;
  std::optional<platform::FolderId> id;
  {
    platform::FolderListing listing(folder);
    if (!listing.IsOpen()) return false;
    id = listing.Id();
    if (id && std::find(walking.begin(), walking.end(), *id) != walking.end()) return false;
    platform::FolderEntry entry;
    while (listing.Next(entry)) {
      // Hidden, as for the sizes: the mirror leaves such files alone.
      if (entry.name.empty() || entry.name[0] == u'.') continue;
      if (!entry.isFolder) return true;
      subfolders.push_back(entry.name);
    }
  }
  if (id) walking.push_back(*id);
  for (const WideString& name : subfolders)
    if (HoldsFiles(folder + name, walking)) return true;
  if (id) walking.pop_back();
  return false;
}

}  // namespace

bool FolderHoldsFiles(const WideString& path) {
  if (path.empty()) return false;
  std::vector<platform::FolderId> walking;
  return HoldsFiles(path, walking);
}

int64_t FolderSize(const WideString& path, bool recurse, unsigned threads, const std::atomic<bool>& stop) {
  // An empty path names no folder; measuring it would walk the whole drive.
  if (path.empty()) return 0;
  return Walk(recurse, stop).Run(path, std::max(threads, 1u));
}

int64_t FolderSize(const WideString& path, bool recurse) {
  // The walk's time goes to the system's work per entry: one thread per core,
  // a few at most, so that a large machine is not flooded with threads.
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
  const std::atomic<bool> never{false};
  return FolderSize(path, recurse, threads, never);
}
