#include "mirror/options.h"

#include <cctype>
#include <climits>

namespace mirror {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// "/R:n" and "/W:n": the number after the colon, or -1 when there is none.
int CountAfterColon(const std::string& upper, const std::string& prefix) {
  if (upper.size() <= prefix.size() || upper.compare(0, prefix.size(), prefix) != 0) return -1;
  long long value = 0;
  for (size_t i = prefix.size(); i < upper.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(upper[i]))) return -1;
    value = value * 10 + (upper[i] - '0');
    if (value > INT_MAX) return -1;
  }
  return static_cast<int>(value);
}

[[noreturn]] void Invalid(size_t index, const std::string& text) {
  throw InvalidCommandLine("ERROR : Invalid Parameter #" + std::to_string(index) + " : \"" + text + "\"");
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  if (args.size() < 2) {
    throw InvalidCommandLine(args.empty() ? "ERROR : No Source Directory Specified."
                                          : "ERROR : No Destination Directory Specified.");
  }
  Options options;
  // On POSIX a folder path itself begins with "/", so the first two arguments
  // are always the two folders.
  options.source = args[0];
  options.destination = args[1];
  if (options.source.empty()) Invalid(1, args[0]);
  if (options.destination.empty()) Invalid(2, args[1]);

  std::vector<std::string>* list = nullptr;  // the /XD or /XF list being read
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const size_t number = i + 1;
    if (arg.empty() || arg[0] != '/') {
      if (list == nullptr) Invalid(number, arg);
      list->push_back(arg);
      continue;
    }
    list = nullptr;
    const std::string upper = Upper(arg);
    if (upper == "/MIR") {
      options.subfolders = options.purge = true;
    } else if (upper == "/E") {
      options.subfolders = true;
    } else if (upper == "/PURGE") {
      options.purge = true;
    } else if (upper == "/XX") {
      options.keepExtras = true;
    } else if (upper == "/FFT") {
      options.fatTimes = true;
    } else if (upper == "/Z") {
      options.restartable = true;
    } else if (upper == "/XA:H") {
      options.skipHidden = true;
    } else if (upper == "/XD") {
      list = &options.excludedFolders;
    } else if (upper == "/XF") {
      list = &options.excludedFiles;
    } else if (int n = CountAfterColon(upper, "/R:"); n >= 0) {
      options.retries = n;
    } else if (int w = CountAfterColon(upper, "/W:"); w >= 0) {
      options.waitSeconds = w;
    } else {
      Invalid(number, arg);
    }
  }
  return options;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0;
  size_t starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      ++n;
      while (n < name.size() && IsContinuation(name[n])) ++n;
    } else if (p < pattern.size() && Fold(pattern[p]) == Fold(name[n])) {
      ++p;
      ++n;
    } else if (starP != std::string::npos) {
      // Let the last '*' swallow one more character and try again.
      p = starP + 1;
      n = ++starN;
      while (n < name.size() && IsContinuation(name[n])) n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& name) {
  for (const std::string& pattern : patterns) {
    if (WildcardMatch(pattern, name)) return true;
  }
  return false;
}

}  // namespace mirror
