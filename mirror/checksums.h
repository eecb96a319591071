// The destination's list of the hashes of the files the tool copied and read
// back, one "<hash>  <path>" line each, as `xxhsum -H2` writes them and
// `xxhsum -c` checks them, paths relative to the destination's root.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace mirror {

// The tool's own folder at the destination's root, and the list in it.
inline constexpr char kOwnFolder[] = ".tarnvel";
inline constexpr char kChecksumFile[] = "XXH128SUMS";
// Beside the list while a run that changes it goes on.
inline constexpr char kUnfinished[] = "unfinished";

class ChecksumList {
 public:
  // Takes the lines of a list as written before; lines that are no list
  // line (a hand edit, a foreign tool's) are dropped.
  void Load(std::string_view text);
  std::string Text() const;
  // The hash of the file at `path`; a path that a line cannot hold (a line
  // break in a name) gets none.
  void Set(const std::string& path, const std::string& digest);
  void Erase(const std::string& path);
  // Whether Set or Erase changed anything since Load.
  bool Changed() const { return changed_; }
  // Drops the lines that were loaded, not Set since, and whose file
  // `current` no longer vouches for: a run stopped before it wrote the list
  // may have removed or replaced files whose old lines are still in it.
  void Prune(const std::function<bool(const std::string& path)>& current);

 private:
  struct Line {
    std::string digest;
    bool set = false;  // by Set since Load
  };
  std::map<std::string, Line> lines_;  // by path: the list in a steady order
  bool changed_ = false;
};

}  // namespace mirror
