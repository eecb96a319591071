#include "funcoes/funcoes.h"
#include "platform/proclist.h"
#include "platform/text.h"

namespace {

// The text after the last "\" or ":" of an image name. On POSIX the names are
// paths of the system's own as well, whose delimiter ends the part too.
WideString FileNamePart(const WideString& exe) {
  const WideString name = ExtractFileName(exe);
  return name.substr(name.find_last_of(u"\\:") + 1);  // npos + 1 == 0: the whole name
}

bool Matches(const WideString& exe, const std::vector<WideString>& wanted) {
  const WideString file = platform::AsciiUpper(FileNamePart(exe));
  const WideString whole = platform::AsciiUpper(exe);
  for (const WideString& name : wanted)
    if (file == name || whole == name) return true;
  return false;
}

}  // namespace

int32_t TerminateProcessesByName(const WideString& name) {
  // Names the system could not read, or that a program cleared, are empty:
  // no name asked for must reach those.
  if (name.empty()) return 0;
  std::vector<WideString> wanted{platform::AsciiUpper(name)};
#ifndef _WIN32
  // Programs here carry no ".exe": "robocopy.exe" also means "robocopy".
  const WideString& upper = wanted.front();
  if (upper.size() > 4 && upper.ends_with(u".EXE")) wanted.push_back(upper.substr(0, upper.size() - 4));
#endif
  int32_t result = 0;
  for (const platform::ProcessEntry& process : platform::ListProcesses()) {
    bool match = false;
    for (const WideString& exe : process.names) match = match || Matches(exe, wanted);
    if (match) result = platform::TerminateProcessById(process.id) ? 1 : 0;
  }
  return result;
}
