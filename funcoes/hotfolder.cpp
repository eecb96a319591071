#include "funcoes/hotfolder.h"

#include <algorithm>

#include "funcoes/mirrorfailures.h"
#include "platform/dirwatch.h"
#include "platform/fs.h"

THotFolderSchedule::TAsk THotFolderSchedule::Armed() {
  // Files of the folder watched before are no concern of this one.
  FInUse.clear();
  FQuietAt.clear();
  return Ask(nullptr);
}

THotFolderSchedule::TAsk THotFolderSchedule::Reported(const WideString& path, Clock::time_point readAt,
                                                      Clock::time_point now) {
  if (FRunStart && readAt < *FRunStart) return TAsk::Nothing;
  if (Held(path, now)) return TAsk::Nothing;
  return Ask(&path);
}

THotFolderSchedule::TAsk THotFolderSchedule::Lost(Clock::time_point readAt) {
  if (FRunStart && readAt < *FRunStart) return TAsk::Nothing;
  return Ask(nullptr);
}

THotFolderSchedule::TAsk THotFolderSchedule::Ask(const WideString* path) {
  if (!FRunning) return TAsk::Run;
  if (path && FAsked.size() < NamesKept)
    FAsked.insert(*path);
  else
    FAskedAny = true;
  return TAsk::AfterRun;
}

void THotFolderSchedule::RunStarted(Clock::time_point at) {
  FRunning = true;
  FRunStart = at;
  FAsked.clear();
  FAskedAny = false;
}

bool THotFolderSchedule::RunEnded(const std::vector<WideString>& inUse, Clock::time_point now) {
  FRunning = false;
  // What this run copied is no longer in use; what it left is.
  FInUse = std::set<WideString>(inUse.begin(), inUse.end());
  std::erase_if(FQuietAt, [&](const auto& wait) { return !FInUse.contains(wait.first); });
  bool owed = FAskedAny;
  // An ask about a file this run left that is still being written waits for
  // the writer; a file done since the run met it needs the run it missed.
  for (const WideString& path : FAsked) owed = owed || !Held(path, now);
  for (const WideString& path : inUse) owed = !Held(path, now) || owed;
  FAsked.clear();
  FAskedAny = false;
  return owed;
}

std::optional<THotFolderSchedule::Clock::time_point> THotFolderSchedule::NextLook() const {
  if (FQuietAt.empty()) return std::nullopt;
  return std::min_element(FQuietAt.begin(), FQuietAt.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; })
      ->second;
}

THotFolderSchedule::TAsk THotFolderSchedule::Look(Clock::time_point now) {
  std::vector<WideString> due;
  for (const auto& [path, at] : FQuietAt)
    if (at <= now) due.push_back(path);
  TAsk ask = TAsk::Nothing;
  for (const WideString& path : due) {
    FQuietAt.erase(path);
    if (!Held(path, now)) ask = Ask(&path);
  }
  return ask;
}

bool THotFolderSchedule::Held(const WideString& path, Clock::time_point now) {
  if (!FInUse.contains(path)) return false;
  const platform::FileActivity activity = FProbe(path);
  bool held = false;
  if (activity.writer == platform::FileWriter::Open) {
    held = true;
    // Its close is reported where the watch tells of closes; elsewhere it is
    // looked at again once it could have been quiet.
    if (!platform::DirWatchReportsClose) FQuietAt[path] = now + Quiet;
  } else if (activity.writer == platform::FileWriter::Unknown && activity.sinceChange &&
             *activity.sinceChange < Quiet) {
    // No close to wait for: look again once it has been quiet long enough.
    FQuietAt[path] = now + (Quiet - std::chrono::duration_cast<Clock::duration>(*activity.sinceChange));
    held = true;
  }
  if (!held) {
    FInUse.erase(path);
    FQuietAt.erase(path);
  }
  return held;
}

std::vector<WideString> FilesLeftInUse(const TMirrorFailures& failures, const WideString& sourceRoot,
                                       const WideString& destinationRoot) {
  // "ERROR : File In Use <path> : <reason>" from the mirror tool, which names
  // the source's file (a tool of an older build named the file where it would
  // land); "ERROR 32 (0x00000020) Copying File <path> : <reason>" from
  // robocopy.exe. Each is taken back to the source's file.
  static const WideString tool = u"ERROR : File In Use ", copying = u"Copying File ", reason = u" : ";
  std::vector<WideString> files;
  for (const TMirrorFailures::Line& line : failures.Lines()) {
    if (!line.inUse) continue;
    size_t start = line.text.starts_with(tool) ? tool.size() : line.text.find(copying);
    if (start == WideString::npos) continue;
    if (start != tool.size()) start += copying.size();
    const size_t end = line.text.find(reason, start);
    WideString path = line.text.substr(start, end == WideString::npos ? WideString::npos : end - start);
    if (path.empty()) continue;
    const WideString destination = IncludeTrailingPathDelimiter(destinationRoot);
    if (platform::SamePathName(path.substr(0, destination.size()), destination))
      path = IncludeTrailingPathDelimiter(sourceRoot) + path.substr(destination.size());
    else if (!IsFullPath(path))
      path = IncludeTrailingPathDelimiter(sourceRoot) + path;
    files.push_back(std::move(path));
  }
  return files;
}

namespace {

// folder or one of the folders above it is mountPoint, by name.
bool Holds(const WideString& mountPoint, const WideString& folder) {
  const WideString outer = platform::ResolvedPath(mountPoint);
  for (WideString path = platform::ResolvedPath(folder);;) {
    if (platform::SamePathName(path, outer)) return true;
    WideString parent = ExtractFileDir(path);
    if (parent.empty() || parent == path) return false;
    path = std::move(parent);
  }
}

}  // namespace

WideString DiskMountPoint(const WideString& folder) {
  if (folder.empty()) return {};
  for (WideString path = platform::ResolvedPath(folder);;) {
    WideString parent = ExtractFileDir(path);
    // The root itself, or a folder that stopped existing on the way: nothing to guard.
    if (parent.empty() || parent == path) return {};
    if (platform::IsMountPoint(path)) return path;
    path = std::move(parent);
  }
}

bool DiskConnected(const WideString& mountPoint, const WideString& folder) {
  return mountPoint.empty() || !Holds(mountPoint, folder) || platform::IsMountPoint(mountPoint);
}

WideString DiskToRemember(const WideString& remembered, const WideString& folder) {
  if (!DiskConnected(remembered, folder)) return remembered;
  return DiskMountPoint(folder);
}
