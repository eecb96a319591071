// The settings key as a file in the registry editor's text format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Corvalen\TARNVEL]
//   "name"="value"
//
// Every call locks the folder, reads the whole file and, for a change, writes a
// new file beside it and renames it over the old one, so a reader never sees
// half a file. A value that holds a control character (a folder name may hold a
// line break) is written as hex(1), the format's UTF-16 string form, so it can
// never forge another line.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "funcoes/exceptions.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kKeyLine = "[HKEY_CURRENT_USER\\Software\\Corvalen\\TARNVEL]";

struct Entry {
  std::u16string name;
  bool isString = false;
  std::u16string value;  // when isString
  std::string raw;       // the data as written after "=", kept for other types
};

std::string ConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* pw = getpwuid(getuid());
      home = pw ? pw->pw_dir : "/";
    }
    base = std::string(home) + "/.config";
  }
  return base + "/Corvalen";
}

bool MakeFolders(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string EscapeQuoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Reads a quoted string starting at line[at] == '"'; at ends after the closing quote.
bool ParseQuoted(const std::string& line, size_t& at, std::string& out) {
  if (at >= line.size() || line[at] != '"') return false;
  out.clear();
  for (++at; at < line.size(); ++at) {
    char c = line[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c == '\\') {
      if (++at >= line.size()) return false;
      c = line[at];
    }
    out += c;
  }
  return false;
}

std::string HexString(const std::u16string& value) {
  static const char* digits = "0123456789abcdef";
  std::string out = "hex(1):";
  std::u16string data = value;
  data += u'\0';
  bool first = true;
  for (char16_t unit : data) {
    for (unsigned byte : {unsigned(unit & 0xFF), unsigned(unit >> 8)}) {
      if (!first) out += ',';
      first = false;
      out += digits[byte >> 4];
      out += digits[byte & 0xF];
    }
  }
  return out;
}

// hex(1) / hex(2) data back to the string it holds, cut at the first NUL.
bool ParseHexString(const std::string& list, std::u16string& out) {
  std::vector<unsigned> bytes;
  std::stringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.size() != 2 || !std::isxdigit(static_cast<unsigned char>(item[0])) ||
        !std::isxdigit(static_cast<unsigned char>(item[1])))
      return false;
    bytes.push_back(static_cast<unsigned>(std::stoul(item, nullptr, 16)));
  }
  out.clear();
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == u'\0') break;
    out += unit;
  }
  return true;
}

std::optional<std::vector<Entry>> Parse(const std::string& text) {
  std::vector<std::string> lines;
  {
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // A line ending in "\" continues on the next one (long hex data).
      if (!lines.empty() && !lines.back().empty() && lines.back().back() == '\\' &&
          lines.back().find("=hex") != std::string::npos) {
        lines.back().pop_back();
        size_t skip = line.find_first_not_of(' ');
        lines.back() += skip == std::string::npos ? "" : line.substr(skip);
        continue;
      }
      lines.push_back(line);
    }
  }
  if (lines.empty()) return std::nullopt;
  std::string first = lines[0];
  if (first.rfind("\xEF\xBB\xBF", 0) == 0) first = first.substr(3);
  if (first != kHeader) return std::nullopt;
  std::vector<Entry> entries;
  bool inKey = false;
  for (size_t n = 1; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line != kKeyLine) return std::nullopt;
      inKey = true;
      continue;
    }
    if (!inKey || line[0] != '"') return std::nullopt;
    size_t at = 0;
    std::string name;
    if (!ParseQuoted(line, at, name) || at >= line.size() || line[at] != '=') return std::nullopt;
    ++at;
    Entry entry;
    entry.name = FromUtf8(name);
    entry.raw = line.substr(at);
    if (at < line.size() && line[at] == '"') {
      std::string value;
      if (!ParseQuoted(line, at, value) || at != line.size()) return std::nullopt;
      entry.isString = true;
      entry.value = FromUtf8(value);
    } else if (entry.raw.rfind("hex(1):", 0) == 0 || entry.raw.rfind("hex(2):", 0) == 0) {
      if (!ParseHexString(entry.raw.substr(7), entry.value)) return std::nullopt;
      entry.isString = true;
    } else if (entry.raw.empty()) {
      return std::nullopt;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string Serialize(const std::vector<Entry>& entries) {
  std::string out = std::string(kHeader) + "\n\n" + kKeyLine + "\n";
  for (const Entry& e : entries) out += EscapeQuoted(ToUtf8(e.name)) + "=" + e.raw + "\n";
  return out;
}

bool HasControlCharacter(const std::u16string& text) {
  for (char16_t c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

struct SettingsKey::Impl {
  std::string folder;
  std::string file;
  int folderFd = -1;  // open and locked while the key is open

  bool ReadFile(std::string& text) const {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::stringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return !in.bad();
  }

  // Writes a complete new file beside the old one and renames it over it.
  bool Replace(const std::string& text) const {
    std::string temp = file + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = fchmod(fd, 0600) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
      const ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;
      else done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
      unlink(temp.c_str());
      return false;
    }
    fsync(folderFd);
    return true;
  }
};

SettingsKey::SettingsKey() : impl_(new Impl) {
  impl_->folder = ConfigFolder();
  impl_->file = impl_->folder + "/TARNVEL.reg";
  if (!MakeFolders(impl_->folder)) return;
  impl_->folderFd = open(impl_->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (impl_->folderFd < 0) return;
  while (flock(impl_->folderFd, LOCK_EX) != 0 && errno == EINTR) {
  }
  // Opening the key creates it: an empty key is a file with the header alone.
  if (access(impl_->file.c_str(), F_OK) != 0 && errno == ENOENT) impl_->Replace(Serialize({}));
}

SettingsKey::~SettingsKey() {
  if (impl_->folderFd >= 0) close(impl_->folderFd);  // releases the lock
  delete impl_;
}

std::optional<std::u16string> SettingsKey::Read(const std::u16string& name) {
  std::string text;
  if (!impl_->ReadFile(text)) return std::nullopt;
  const auto entries = Parse(text);
  if (!entries) throw Exception(FormatWithName("Failed to get data for '%s'", name));
  for (const Entry& e : *entries) {
    if (!SameTextAscii(e.name, name)) continue;
    if (!e.isString) throw Exception(FormatWithName("Invalid data type for '%s'", name));
    return e.value;
  }
  return std::nullopt;
}

void SettingsKey::Write(const std::u16string& name, const std::u16string& value) {
  const auto refuse = [&] { return Exception(FormatWithName("Failed to set data for '%s'", name)); };
  if (impl_->folderFd < 0 || HasControlCharacter(name)) throw refuse();
  std::string text;
  std::vector<Entry> entries;
  if (impl_->ReadFile(text)) {
    auto parsed = Parse(text);
    if (!parsed) throw refuse();  // never overwrite what cannot be read back
    entries = std::move(*parsed);
  }
  Entry* target = nullptr;
  for (Entry& e : entries)
    if (SameTextAscii(e.name, name)) target = &e;
  if (!target) {
    entries.push_back(Entry{name});
    target = &entries.back();
  }
  target->isString = true;
  target->value = value;
  target->raw = HasControlCharacter(value) ? HexString(value) : EscapeQuoted(ToUtf8(value));
  if (!impl_->Replace(Serialize(entries))) throw refuse();
}

void SettingsKey::Delete(const std::u16string& name) {
  std::string text;
  if (impl_->folderFd < 0 || !impl_->ReadFile(text)) return;
  auto entries = Parse(text);
  if (!entries) return;
  const auto before = entries->size();
  std::erase_if(*entries, [&](const Entry& e) { return SameTextAscii(e.name, name); });
  if (entries->size() != before) impl_->Replace(Serialize(*entries));
}

}  // namespace platform
