#include "funcoes/cmdline.h"

#include "funcoes/paths.h"
#include "platform/text.h"

namespace {

// The option tail, with /XX after /MIR when extras are kept; its spacing is the
// line's as users and logs have always seen it.
constexpr const char16_t* TailHead = u"  /MIR  ";
constexpr const char16_t* KeepExtras = u"/XX ";
constexpr const char16_t* TailRest =
    u"/FFT /Z /XA:H  /R:0 /XD $Recycle.bin Boot Recycler \"System Volume Information\"  /XF *.exe  ";

// The folders and files that tail leaves out, for the hot folder to know
// which reports no run would copy.
constexpr const char16_t* SkippedFolders[] = {u"$Recycle.bin", u"Boot", u"Recycler", u"System Volume Information"};
constexpr const char16_t* SkippedFileExtension = u".EXE";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// One argument written so that SplitCommandLine gives it back unchanged.
WideString Argument(const WideString& text) {
  if (!text.empty() && text.find_first_of(u" \t\"") == WideString::npos) return text;
  WideString out = u"\"";
  size_t backslashes = 0;
  for (char16_t c : text) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled and the quote escaped; elsewhere
    // they are literal.
    out.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
    out += c;
    backslashes = 0;
  }
  // Before the closing quote they must be doubled, or the last one would
  // escape it and swallow the rest of the line into the path.
  out.append(2 * backslashes, u'\\');
  return out + u'"';
}

}  // namespace

WideString MirrorCommandLine(const WideString& source, const WideString& destination, bool preserve) {
  return u"robocopy " + Argument(IncludeTrailingPathDelimiter(source)) + u" " +
         Argument(IncludeTrailingPathDelimiter(destination)) + TailHead + (preserve ? KeepExtras : u"") + TailRest;
}

std::vector<WideString> SplitCommandLine(const WideString& line) {
  std::vector<WideString> args;
  if (line.empty()) return args;
  size_t i = 0;
  const size_t n = line.size();
  // The program name: no escapes at all.
  if (line[0] == u'"') {
    const size_t close = line.find(u'"', 1);
    args.push_back(line.substr(1, close == WideString::npos ? WideString::npos : close - 1));
    i = close == WideString::npos ? n : close + 1;
  } else {
    while (i < n && !IsBlank(line[i])) ++i;
    args.push_back(line.substr(0, i));
  }
  while (i < n && IsBlank(line[i])) ++i;
  if (i == n) return args;

  WideString current;
  size_t backslashes = 0;
  int quotes = 0;  // 1 inside quoting
  while (i < n) {
    const char16_t c = line[i];
    if (IsBlank(c) && quotes == 0) {
      args.push_back(current);
      current.clear();
      backslashes = 0;
      while (i < n && IsBlank(line[i])) ++i;
      if (i == n) return args;
    } else if (c == u'\\') {
      current += c;
      ++backslashes;
      ++i;
    } else if (c == u'"') {
      current.resize(current.size() - backslashes / 2);
      if (backslashes % 2 == 1) {
        current.back() = u'"';
      } else {
        ++quotes;
      }
      backslashes = 0;
      ++i;
      // A run of quotes: every third one counts as a literal quote.
      for (; i < n && line[i] == u'"'; ++i) {
        if (++quotes == 3) {
          current += u'"';
          quotes = 0;
        }
      }
      if (quotes == 2) quotes = 0;
    } else {
      current += c;
      backslashes = 0;
      ++i;
    }
  }
  args.push_back(current);
  return args;
}

bool PurgesExtras(const WideString& line) {
  bool purge = false, keep = false;
  for (const WideString& arg : SplitCommandLine(line)) {
    const WideString option = platform::AsciiUpper(arg);
    purge = purge || option == u"/MIR" || option == u"/PURGE";
    keep = keep || option == u"/XX";
  }
  return purge && !keep;
}

WideString TrimControl(const WideString& line) {
  size_t first = 0, last = line.size();
  while (first < last && line[first] <= 32) ++first;
  while (last > first && line[last - 1] <= 32) --last;
  return line.substr(first, last - first);
}

bool MirrorLeavesOut(const WideString& relativePath, bool isFile, bool hidden) {
  if (isFile && hidden) return true;
  size_t start = 0;
  while (start <= relativePath.size()) {
    size_t end = relativePath.find(PathDelim, start);
    if (end == WideString::npos) end = relativePath.size();
    const WideString name = relativePath.substr(start, end - start);
    const bool last = end == relativePath.size();
    if (last && isFile) {
      const WideString ext(SkippedFileExtension);
      return name.size() >= ext.size() && platform::AsciiUpper(name.substr(name.size() - ext.size())) == ext;
    }
    for (const char16_t* folder : SkippedFolders)
      if (platform::SameTextAscii(name, folder)) return true;
    start = end + 1;
  }
  return false;
}
