#include "funcoes/runner.h"

#include <cmath>

#include "funcoes/cmdline.h"
#include "funcoes/exceptions.h"
#include "platform/errors.h"
#include "platform/fs.h"

namespace {

// Resolved, without trailing delimiters except a lone root "/".
WideString Canonical(const WideString& path) {
  WideString resolved = platform::ResolvedPath(path);
  while (resolved.size() > 1 && IsPathDelimiter(resolved, resolved.size() - 1)) resolved.pop_back();
  return resolved;
}

// inner is outer or lies below it; "/a/bc" is not below "/a/b".
bool Within(const WideString& inner, const WideString& outer) {
  if (inner.size() < outer.size() || !platform::SamePathName(inner.substr(0, outer.size()), outer)) return false;
  return inner.size() == outer.size() || IsPathDelimiter(outer, outer.size() - 1) ||
         IsPathDelimiter(inner, outer.size());
}

// Some folder on the way up from `inner`, `inner` included, is `outer` by
// identity: a bind mount or a name in another letter case does not hide it.
bool WithinById(const WideString& inner, const WideString& outer) {
  const std::optional<platform::FolderId> target = platform::FolderIdOf(outer);
  if (!target) return false;
  for (WideString folder = inner;;) {
    if (platform::FolderIdOf(folder) == target) return true;
    WideString parent = ExtractFileDir(folder);  // "/a" -> "/", "C:\a" -> "C:\"
    if (parent.empty() || parent == folder) return false;
    folder = std::move(parent);
  }
}

}  // namespace

platform::ChildProcess* MirrorChild = nullptr;

void StopMirror() {
  if (!MirrorRunning) return;
  MirrorStopRequested = true;
  // A child that can no longer be ended has ended: the run finishes as usual.
  if (MirrorChild) MirrorChild->Terminate();
}

std::vector<WideString> ProgramSearchFolders() {
  std::vector<WideString> folders;
  for (WideString folder : {platform::ExecutableFolder(), platform::SystemFolder()})
    if (!folder.empty()) folders.push_back(folder);
  // A relative entry would name the current folder.
  for (const WideString& folder : platform::PathEntries())
    if (IsFullPath(folder)) folders.push_back(folder);
  return folders;
}

WideString FindProgram(const WideString& name, const std::vector<WideString>& folders) {
  const WideString file = platform::ProgramFileName(name);
  for (const WideString& folder : folders) {
    if (folder.empty()) continue;  // it would name the current folder
    const WideString path = IncludeTrailingPathDelimiter(folder) + file;
    if (platform::IsProgramFile(path)) return path;
  }
  return {};
}

platform::ChildProcess StartMirror(const WideString& commandLine, platform::OutputSink output) {
  const WideString line = TrimControl(commandLine);
  const std::vector<WideString> args = SplitCommandLine(line);
  const WideString program =
      args.empty() || args[0].empty() ? WideString() : FindProgram(args[0], ProgramSearchFolders());
  if (program.empty())
    throw EOSError(platform::ErrorFileNotFound, platform::SystemErrorText(platform::ErrorFileNotFound));
  return StartChild(program, line, std::move(output));
}

platform::ChildProcess StartChild(const WideString& program, const WideString& commandLine,
                                  platform::OutputSink output) {
  try {
    return platform::StartChild(program, commandLine, SplitCommandLine(commandLine), std::move(output));
  } catch (const std::system_error& e) {
    throw EOSError(e.code().value(), platform::SystemErrorText(e.code().value()));
  }
}

int32_t MirrorPercentage(int64_t source, int64_t destination) {
  if (destination <= 0) return 0;
  if (source <= 0) return 100;
  const double percent = static_cast<double>(destination) / static_cast<double>(source) * 100.0;
  // Held before converting: a ratio beyond int's range has no int value.
  if (!(percent < 100.0)) return 100;
  return static_cast<int32_t>(std::nearbyint(percent));
}

bool FoldersOverlap(const WideString& a, const WideString& b) {
  if (a.empty() || b.empty()) return false;
  const WideString ra = Canonical(a), rb = Canonical(b);
  return Within(ra, rb) || Within(rb, ra) || WithinById(ra, rb) || WithinById(rb, ra);
}
