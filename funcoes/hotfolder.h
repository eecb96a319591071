// The hot folder's rules apart from the window: which reports start a mirror
// run and when, which files wait for their writer, and whether the disk that
// holds a chosen folder is still there. Times are passed in, so the waits
// behave the same under test as in use.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "funcoes/funcoes.h"
#include "platform/fs.h"

class TMirrorFailures;

class THotFolderSchedule {
 public:
  using Clock = std::chrono::steady_clock;
  // A file whose writer the system does not show counts as written once it
  // has not changed for this long.
  static constexpr Clock::duration Quiet = std::chrono::seconds(2);
  // The asks for a run recorded by name during one run; past it, any counts.
  static constexpr size_t NamesKept = 64;

  // What the system tells of a file, by its full path (platform::FileActivityOf).
  using TProbe = std::function<platform::FileActivity(const WideString& path)>;

  enum class TAsk : std::uint8_t {
    Nothing,   // covered by a run, or held for its writer
    Run,       // a run now
    AfterRun,  // one more run once the running one has ended
  };

  explicit THotFolderSchedule(TProbe probe) : FProbe(std::move(probe)) {}

  // The watch started on a folder: what is already there needs a run.
  TAsk Armed();
  // A change read at readAt, at now, naming an item that exists (path, full).
  // Nothing when a run has started since it was read, or while the file is one
  // the last run left in use and its writer is still at it.
  TAsk Reported(const WideString& path, Clock::time_point readAt, Clock::time_point now);
  // Changes nobody knows, read at readAt: only a run over everything covers them.
  TAsk Lost(Clock::time_point readAt);

  // A run (of the hot folder or of "Sincronizar") started at `at`: it sees
  // every change read before then.
  void RunStarted(Clock::time_point at);
  // The run ended at now, leaving inUse (full paths) in use. True when one
  // more run is owed: for an ask it may have missed, or a file it left that
  // is done by now. Files still being written wait for their close or Quiet.
  bool RunEnded(const std::vector<WideString>& inUse, Clock::time_point now);
  bool Running() const { return FRunning; }

  // When the first file waiting for its quiet time should be looked at again;
  // empty when none waits.
  std::optional<Clock::time_point> NextLook() const;
  // Looks at the files whose quiet time was due by now.
  TAsk Look(Clock::time_point now);

 private:
  // A file the last run left in use whose writer is still at it.
  bool Held(const WideString& path, Clock::time_point now);
  TAsk Ask(const WideString* path);

  TProbe FProbe;
  bool FRunning = false;
  std::optional<Clock::time_point> FRunStart;
  std::set<WideString> FInUse;
  std::map<WideString, Clock::time_point> FQuietAt;  // held files whose writer the system does not show
  std::set<WideString> FAsked;                       // names that asked during the run
  bool FAskedAny = false;                            // an ask not by a name, or past NamesKept
};

// The source files a run left in use, as full paths, from the failure lines
// that name them (by their place in the destination, in the source, or
// relative to the source).
std::vector<WideString> FilesLeftInUse(const TMirrorFailures& failures, const WideString& sourceRoot,
                                       const WideString& destinationRoot);

// Where the disk that holds an existing folder is mounted: the nearest folder
// at or above it that is a mount point. Empty when that is the system's root
// (on Windows a drive's root), which is never unplugged.
WideString DiskMountPoint(const WideString& folder);

// Whether the disk remembered for a folder is there: nothing remembered
// (mountPoint empty), a mount point that does not hold the folder, or a
// remembered mount point where a disk is mounted now (any disk: studios rotate
// backup disks on one mount point). False when the folder now lies on the
// file system beneath an empty mount-point folder.
bool DiskConnected(const WideString& mountPoint, const WideString& folder);

// What to remember for a folder the program now shows: the remembered mount
// point stays while its disk is unplugged and it still holds the folder (the
// bare folder there says nothing of the disk); otherwise the folder's own.
WideString DiskToRemember(const WideString& remembered, const WideString& folder);
