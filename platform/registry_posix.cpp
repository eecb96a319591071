// The settings key as a file in the registry editor's text format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Corvalen\TARNVEL]
//   "name"="value"
//
// Every call locks the folder, reads the whole file and, for a change, writes a
// new file beside it and renames it over the old one, so a reader never sees
// half a file. A rewrite changes only the lines of the value it writes or
// deletes: comments, other keys, the encoding (UTF-8, or UTF-16LE with a
// byte-order mark as the registry editor saves it) and the line ends stay. A value that holds a control character (a
// folder name may hold a line break) is written as hex(1), the format's UTF-16 string form, so it can never forge
// another line.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/userdirs.h"

namespace platform {

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kKeyLine = "[HKEY_CURRENT_USER\\Software\\Corvalen\\TARNVEL]";
// How long a call waits for another program's lock before it gives up.
constexpr auto kLockWait = std::chrono::seconds(3);

struct Entry {
  std::u16string name;
  bool isString = false;
  std::u16string value;  // when isString
  size_t line = 0;       // its line in the document
};

// The file as lines, in the encoding and with the line ends it came with. A
// line that continues on the next ones (long hex data) is one line here.
struct Document {
  bool utf16 = false;  // UTF-16LE with a byte-order mark
  bool utf8Bom = false;
  std::string eol = "\n";
  std::vector<std::string> lines;  // without line ends; continuations joined by eol
  std::vector<Entry> entries;      // the values of the program's key, in file order
  size_t keyEnd = 0;               // where a new value goes; 0 when the key line is missing
};

std::string ConfigFolder() { return ConfigHome() + "/Corvalen"; }

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

bool IsKeyLine(const std::string& line) { return SameTextAscii(FromUtf8(line), FromUtf8(kKeyLine)); }

// The file's bytes as UTF-8 text; false for UTF-16 with an odd byte count.
bool DecodeFile(const std::string& bytes, Document& doc, std::string& text) {
  if (bytes.rfind("\xFF\xFE", 0) == 0) {
    if (bytes.size() % 2 != 0) return false;
    std::u16string units;
    for (size_t i = 2; i < bytes.size(); i += 2)
      units +=
          static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    doc.utf16 = true;
    text = ToUtf8(units);
  } else if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
    doc.utf8Bom = true;
    text = bytes.substr(3);
  } else {
    text = bytes;
  }
  const auto newline = text.find('\n');
  if (newline != std::string::npos && newline > 0 && text[newline - 1] == '\r') doc.eol = "\r\n";
  return true;
}

std::optional<Document> Parse(const std::string& bytes) {
  Document doc;
  std::string text;
  if (!DecodeFile(bytes, doc, text)) return std::nullopt;
  std::vector<std::string> logical;  // continuations joined, for reading
  {
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // A line ending in "\" continues on the next one (long hex data).
      if (!logical.empty() && !logical.back().empty() && logical.back().back() == '\\' &&
          logical.back().find("=hex") != std::string::npos) {
        logical.back().pop_back();
        size_t skip = line.find_first_not_of(' ');
        logical.back() += skip == std::string::npos ? "" : line.substr(skip);
        doc.lines.back() += doc.eol + line;
        continue;
      }
      logical.push_back(line);
      doc.lines.push_back(line);
    }
  }
  if (logical.empty() || logical[0] != kHeader) return std::nullopt;
  bool inKey = false, inOtherKey = false;
  for (size_t n = 1; n < logical.size(); ++n) {
    const std::string& line = logical[n];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      // Other keys in the file are kept as they are and never read.
      inKey = IsKeyLine(line);
      inOtherKey = !inKey;
      if (inKey) doc.keyEnd = n + 1;
      continue;
    }
    if (inOtherKey) continue;
    if (!inKey || line[0] != '"') return std::nullopt;
    size_t at = 0;
    std::string name;
    if (!ParseQuoted(line, at, name) || at >= line.size() || line[at] != '=') return std::nullopt;
    ++at;
    Entry entry;
    entry.name = FromUtf8(name);
    entry.line = n;
    const std::string raw = line.substr(at);
    if (at < line.size() && line[at] == '"') {
      std::string value;
      if (!ParseQuoted(line, at, value) || at != line.size()) return std::nullopt;
      entry.isString = true;
      entry.value = FromUtf8(value);
    } else if (raw.rfind("hex(1):", 0) == 0 || raw.rfind("hex(2):", 0) == 0) {
      if (!ParseHexString(raw.substr(7), entry.value)) return std::nullopt;
      entry.isString = true;
    } else if (raw.empty()) {
      return std::nullopt;
    }
    doc.keyEnd = n + 1;
    doc.entries.push_back(std::move(entry));
  }
  return doc;
}

// A file holding the key and no value.
Document EmptyDocument() {
  Document doc;
  doc.lines = {kHeader, "", kKeyLine};
  doc.keyEnd = doc.lines.size();
  return doc;
}

std::string Serialize(const Document& doc) {
  std::string text;
  for (const std::string& line : doc.lines) text += line + doc.eol;
  if (!doc.utf16) return doc.utf8Bom ? "\xEF\xBB\xBF" + text : text;
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : FromUtf8(text)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// Removes lines of the document, keeping the entries' line numbers right.
void RemoveLines(Document& doc, const std::vector<size_t>& sorted) {
  for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
    doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(*it));
    std::erase_if(doc.entries, [&](const Entry& e) { return e.line == *it; });
    for (Entry& e : doc.entries)
      if (e.line > *it) --e.line;
    if (doc.keyEnd > *it) --doc.keyEnd;
  }
}

// The lines of every value of that name but the first; all of them with keepFirst unset.
std::vector<size_t> LinesNamed(const Document& doc, const std::u16string& name, bool keepFirst) {
  std::vector<size_t> lines;
  for (const Entry& e : doc.entries)
    if (SameTextAscii(e.name, name)) lines.push_back(e.line);
  if (keepFirst && !lines.empty()) lines.erase(lines.begin());
  return lines;
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
  int folderFd = -1;          // open and locked while the key is open
  bool lockTimedOut = false;  // another program held the lock too long

  enum class FileState { Missing, Read, Failed };
  // A file that exists but cannot be read is a failure, never an empty key.
  FileState ReadFile(std::string& text) const {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? FileState::Missing : FileState::Failed;
    text.clear();
    char buffer[8192];
    for (;;) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        close(fd);
        return FileState::Failed;
      }
      if (n == 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return FileState::Read;
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
      if (n <= 0)
        ok = false;
      else
        done += static_cast<size_t>(n);
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
  // A lock held by another program (a stuck editor, a dead network share)
  // must not freeze the window: wait a little, then fail the call.
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (flock(impl_->folderFd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      impl_->lockTimedOut = true;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Opening the key creates it: an empty key is a file with the header alone.
  if (access(impl_->file.c_str(), F_OK) != 0 && errno == ENOENT) impl_->Replace(Serialize(EmptyDocument()));
}

SettingsKey::~SettingsKey() {
  if (impl_->folderFd >= 0) close(impl_->folderFd);  // releases the lock
  delete impl_;
}

SettingsKey::Stored SettingsKey::Read(const std::u16string& name) {
  const Stored refused{ReadStatus::Failed, {}}, missing{ReadStatus::Missing, {}};
  if (impl_->lockTimedOut) return refused;
  if (impl_->folderFd < 0) return missing;  // no key: nothing stored
  std::string text;
  const auto state = impl_->ReadFile(text);
  if (state == Impl::FileState::Missing) return missing;
  if (state == Impl::FileState::Failed) return refused;
  const auto doc = Parse(text);
  if (!doc) return refused;
  for (const Entry& e : doc->entries) {
    if (!SameTextAscii(e.name, name)) continue;
    if (!e.isString) return {ReadStatus::InvalidType, {}};
    // A NUL would cut the path short wherever it is used.
    if (e.value.find(u'\0') != std::u16string::npos) return refused;
    return {ReadStatus::Found, e.value};
  }
  return missing;
}

bool SettingsKey::Write(const std::u16string& name, const std::u16string& value) {
  if (impl_->folderFd < 0 || impl_->lockTimedOut || HasControlCharacter(name) ||
      value.find(u'\0') != std::u16string::npos)
    return false;
  std::string text;
  Document doc = EmptyDocument();
  switch (impl_->ReadFile(text)) {
    case Impl::FileState::Failed:
      return false;  // never overwrite what cannot be read
    case Impl::FileState::Read: {
      auto parsed = Parse(text);
      if (!parsed) return false;  // nor what cannot be parsed
      doc = std::move(*parsed);
      break;
    }
    case Impl::FileState::Missing:
      break;
  }
  // The first value of that name is the one read: write it and drop the others.
  RemoveLines(doc, LinesNamed(doc, name, true));
  std::u16string spelling = name;
  size_t at = doc.keyEnd;
  for (const Entry& e : doc.entries) {
    if (!SameTextAscii(e.name, name)) continue;
    spelling = e.name;  // an existing value keeps its name's spelling
    at = e.line;
    doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(at));
    break;
  }
  if (at == 0) {
    // No line of the key yet: add it at the end.
    if (!doc.lines.empty() && !doc.lines.back().empty()) doc.lines.push_back("");
    doc.lines.push_back(kKeyLine);
    at = doc.lines.size();
  }
  const std::string data = HasControlCharacter(value) ? HexString(value) : EscapeQuoted(ToUtf8(value));
  doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(at), EscapeQuoted(ToUtf8(spelling)) + "=" + data);
  return impl_->Replace(Serialize(doc));
}

void SettingsKey::Delete(const std::u16string& name) {
  std::string text;
  if (impl_->folderFd < 0 || impl_->lockTimedOut || impl_->ReadFile(text) != Impl::FileState::Read) return;
  auto doc = Parse(text);
  if (!doc) return;
  const auto lines = LinesNamed(*doc, name, false);
  if (lines.empty()) return;
  RemoveLines(*doc, lines);
  impl_->Replace(Serialize(*doc));
}

}  // namespace platform
