// A folder's entries found by name. Built for every folder of every run, and
// asked once for each entry of the other tree: one table of positions, with no
// allocation per entry, so that a folder of 100,000 entries costs little more
// than its listing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "mirror/folder.h"

namespace mirror {

class NameIndex {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  explicit NameIndex(const std::vector<Entry>& entries) : entries_(entries) {
    size_t size = 16;
    while (size < entries.size() * 2) size *= 2;  // at most half full: short probes
    mask_ = size - 1;
    slots_.assign(size, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
      size_t slot = Hash(entries[i].name) & mask_;
      while (slots_[slot] != 0 && entries_[slots_[slot] - 1].name != entries[i].name) slot = (slot + 1) & mask_;
      if (slots_[slot] == 0) slots_[slot] = static_cast<std::uint32_t>(i + 1);  // the first of a name holds it
    }
  }

  // The position of the entry named `name`, or npos.
  size_t Find(std::string_view name) const {
    for (size_t slot = Hash(name) & mask_; slots_[slot] != 0; slot = (slot + 1) & mask_) {
      if (entries_[slots_[slot] - 1].name == name) return slots_[slot] - 1;
    }
    return npos;
  }
  const Entry* Get(std::string_view name) const {
    const size_t at = Find(name);
    return at == npos ? nullptr : &entries_[at];
  }

 private:
  static size_t Hash(std::string_view name) { return std::hash<std::string_view>{}(name); }

  const std::vector<Entry>& entries_;
  std::vector<std::uint32_t> slots_;  // position + 1; 0: free
  size_t mask_ = 0;
};

}  // namespace mirror
