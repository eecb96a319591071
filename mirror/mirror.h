// The mirror itself: walks the source tree and makes the destination match it
// as the options ask, counting what it did.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "mirror/folder.h"
#include "mirror/helper_thread.h"
#include "mirror/options.h"
#include "mirror/writeback.h"

namespace mirror {

struct Counts {
  std::int64_t total = 0, copied = 0, skipped = 0, mismatch = 0, failed = 0, extras = 0;
};

struct Summary {
  Counts folders, files, bytes;
  // robocopy's bits: 1 files copied, 2 extras seen, 8 failures.
  int ExitCode() const;
};

// A run that cannot start (a source that is not a folder, a destination that
// cannot be made); robocopy's exit code 16.
class FatalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The name a copy of `name` is written under until complete. It depends on the
// source's size and time, so that /Z can tell the leftover of an interrupted
// copy of the same file.
std::string TemporaryName(const std::string& name, std::int64_t size, FileTime mtime);
bool IsTemporaryName(const std::string& name);

// Whether a destination file's modification time `destination` stands for the
// source's `source`, on a file system that keeps times as `keeping`: equal, or
// the source's cut down to the file system's step. fatTimes (/FFT): on FAT,
// times within 2 seconds are equal, whichever way its driver rounds. A source
// time that a FAT or exFAT destination cannot store (before 1980, after 2107)
// is equal to whatever it stored.
bool SameTimes(FileTime destination, FileTime source, TimeKeeping keeping, bool fatTimes);

class Mirror {
 public:
  // Errors go to `errors`, one line each, naming the path and the OS message:
  // "ERROR : <action> <path> : <reason>". The program that runs the tool reads
  // these lines; a file open for writing by another program is
  // "ERROR : File In Use <path> : <reason>", which it tells apart.
  Mirror(const Options& options, std::ostream& errors);
  Summary Run();

 private:
  struct Copy {
    const Entry* file;
    bool replaces;  // something of that name is in the destination
  };
  void MirrorFolder(const Folder& source, const Folder& destination, const std::string& path);
  // Decides whether `file` needs copying (clearing an entry of the other kind
  // in the way) and adds it to `copies`.
  void CopyFile(const Folder& destination, const Entry& file, const Entry* existing, const std::string& path,
                std::vector<Copy>& copies);
  void CopyAll(const Folder& source, const Folder& destination, const std::vector<Copy>& files,
               const std::string& path);
  void MirrorSubfolder(const Folder& source, const Folder& destination, const Entry& folder, const Entry* existing,
                       const std::string& path);
  void Extra(const Folder& destination, const Entry& entry, const std::string& path);
  // Removes a destination folder's tree except what the exclusions keep.
  // Returns false when something was kept or could not be removed.
  bool PurgeTree(const Folder& parent, const std::string& name, const std::string& path);
  bool Kept(const Entry& destinationEntry) const;
  // How the file system of `device`, which holds `folder`, keeps times; asked once per device.
  TimeKeeping TimesOn(const Folder& folder, std::uint64_t device);
  void Report(const std::string& what, const std::string& path, const std::error_code& error);
  // A source entry that is not a regular file: one failure line naming it.
  void NotCopied(const std::string& sourcePath);
  // The source path of entry `name` of the destination folder `path`.
  std::string SourcePath(const std::string& path, const std::string& name) const;
  // After a failed flush: removes the files this run put in place.
  void ForgetWritten();

  const Options& options_;
  std::ostream& errors_;
  Summary summary_;
  bool OnSourcePath(const Identity& folder) const;

  Identity destinationRoot_;
  std::vector<Identity> sourcePath_;  // the source and the folders above it: never removed or written into
  std::vector<Identity> ancestors_;   // source folders being walked: the link cycle guard
  std::unordered_map<std::uint64_t, TimeKeeping> timeKeeping_;  // by device
  HelperThread lister_;             // lists each destination folder while its source folder is listed
  Writeback* writeback_ = nullptr;  // during Run
  // The files this run put in place, as destination folder and name.
  std::vector<std::pair<std::string, std::string>> written_;
};

void PrintSummary(std::ostream& out, const Options& options, const Summary& summary);

}  // namespace mirror
