#include <algorithm>
#include <optional>
#include <vector>

#include "funcoes/funcoes.h"
#include "platform/fs.h"

namespace {

// walking holds the folders on the path from the first folder down to this
// one: a link back to any of them would repeat the walk without end.
int64_t SizeOf(const WideString& path, bool recurse, std::vector<platform::FolderId>& walking) {
  WideString folder = path;
  if (folder.back() != PathDelim) folder += PathDelim;

  int64_t sum = 0;
  std::optional<platform::FolderId> id;
  std::vector<WideString> subfolders;
  {
    platform::FolderListing listing(folder);
    if (!listing.IsOpen()) return 0;
    id = listing.Id();
    if (id && std::find(walking.begin(), walking.end(), *id) != walking.end()) return 0;
    platform::FolderEntry entry;
    while (listing.Next(entry)) {
      sum += entry.size;
      if (entry.isFolder && recurse && !entry.name.empty() && entry.name[0] != u'.')
        subfolders.push_back(entry.name);
    }
  }
  // The listing is closed before going deeper, so a deep tree never runs out of handles.
  if (id) walking.push_back(*id);
  for (const WideString& name : subfolders) sum += SizeOf(folder + name, true, walking);
  if (id) walking.pop_back();
  return sum;
}

bool HoldsFiles(const WideString& path, std::vector<platform::FolderId>& walking) {
  const WideString folder = path.back() == PathDelim ? path : path + PathDelim;
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

int64_t FolderSize(const WideString& path, bool recurse) {
  // An empty path names no folder; measuring it would walk the whole drive.
  if (path.empty()) return 0;
  std::vector<platform::FolderId> walking;
  return SizeOf(path, recurse, walking);
}
