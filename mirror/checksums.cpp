#include "mirror/checksums.h"

#include <algorithm>

namespace mirror {
namespace {

constexpr size_t kDigestLength = 32;

bool IsDigest(std::string_view text) {
  return text.size() == kDigestLength &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

void ChecksumList::Load(std::string_view text) {
  lines_.clear();
  changed_ = false;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.size() > kDigestLength + 2 && IsDigest(line.substr(0, kDigestLength)) &&
        line.substr(kDigestLength, 2) == "  ") {
      lines_[std::string(line.substr(kDigestLength + 2))] = {std::string(line.substr(0, kDigestLength))};
    }
  }
}

std::string ChecksumList::Text() const {
  std::string text;
  for (const auto& [path, line] : lines_) text += line.digest + "  " + path + "\n";
  return text;
}

void ChecksumList::Set(const std::string& path, const std::string& digest) {
  if (path.find_first_of("\r\n") != std::string::npos || !IsDigest(digest)) {
    Erase(path);
    return;
  }
  Line& held = lines_[path];
  changed_ = changed_ || held.digest != digest;
  held = {digest, true};
}

void ChecksumList::Erase(const std::string& path) { changed_ = lines_.erase(path) > 0 || changed_; }

void ChecksumList::Prune(const std::function<bool(const std::string& path)>& current) {
  changed_ = std::erase_if(lines_, [&](const auto& entry) { return !entry.second.set && !current(entry.first); }) > 0 ||
             changed_;
}

}  // namespace mirror
