// The mirror itself: walks the source tree and makes the destination match it
// as the options ask, counting what it did.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "mirror/checksums.h"
#include "mirror/folder.h"
#include "mirror/list_ahead.h"
#include "mirror/name_index.h"
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
  // A folder's entries, or why they could not be listed.
  struct Listing {
    std::vector<Entry> entries;
    std::error_code error;
  };
  // A subfolder opened and listed ahead of the walk; `folder` is empty when
  // it could not be opened, and `error` says why.
  struct Opened {
    std::optional<Folder> folder;
    std::error_code error;
    Listing listing;
  };
  // The listings of a subfolder of both trees, under way; none for the
  // destination's when it holds no folder of that name.
  struct Ahead {
    ListAhead::Ticket<Opened> source;
    std::optional<ListAhead::Ticket<Opened>> destination;
  };
  static Listing ListOf(const Folder& folder, bool followLinks);
  static Opened OpenAndList(const Folder& parent, const std::string& name, bool followLinks);
  // sourcePath and path: the two folders' paths, for the failure lines.
  void MirrorFolder(const Folder& source, const Folder& destination, Listing sourceListing, Listing destinationListing,
                    const std::string& sourcePath, const std::string& path);
  // Leaves out of `files` and `folders` every source entry whose name the
  // destination folder takes for another's (letter case), but one.
  void LeaveCaseClashes(const Folder& destination, const NameIndex& held, std::vector<const Entry*>& files,
                        std::vector<const Entry*>& folders, const std::string& sourcePath);
  // Decides whether `file` needs copying (clearing an entry of the other kind
  // in the way) and adds it to `copies`.
  void CopyFile(const Folder& destination, const Entry& file, const Entry* existing, const std::string& path,
                std::vector<Copy>& copies);
  void CopyAll(const Folder& source, const Folder& destination, const std::vector<Copy>& files,
               const std::string& sourcePath, const std::string& path);
  void MirrorSubfolder(const Folder& destination, const Entry& folder, const Entry* existing, Ahead ahead,
                       const std::string& sourcePath, const std::string& path);
  // Why source folder `from` (entry `folder`) is not to be walked, or null.
  const char* Refusal(const Folder& from, const Entry& folder);
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
  // After a failed flush: removes the files this run put in place.
  void ForgetWritten();
  // After the run's flush: reads back from the disk each copy not yet read
  // back, and removes those that differ from their source.
  void VerifyWritten();
  // The destination's checksum list, read when first needed.
  ChecksumList& Checksums();
  // Writes the list back when the run changed it, or a stopped run may have.
  void SaveChecksums(const Folder& destination);
  // The destination's folder for the list, made if missing.
  static Folder OwnFolder(const Folder& destination);
  // The list's name for file `name` of destination folder `folder`.
  std::string Listed(const std::string& folder, const std::string& name) const;

  const Options& options_;
  std::ostream& errors_;
  Summary summary_;
  bool OnSourcePath(const Identity& folder) const;

  Identity destinationRoot_;
  std::vector<Identity> sourcePath_;  // the source and the folders above it: never removed or written into
  std::vector<Identity> ancestors_;   // source folders being walked: the link cycle guard
  int linkedDepth_ = 0;               // how many of them were reached through a link
  std::unordered_map<std::uint64_t, bool> pseudo_;              // by device: a pseudo file system
  std::unordered_map<std::uint64_t, TimeKeeping> timeKeeping_;  // by device
  ListAhead listAhead_;                                         // lists the folders of both trees ahead of the walk
  Writeback* writeback_ = nullptr;  // during Run
  struct Written {
    std::string folder, name;  // the destination folder's path, the file's name
    std::int64_t size, copied;
    Copied copy;
  };
  // The files this run put in place.
  std::vector<Written> written_;
  std::optional<ChecksumList> checksums_;
  bool checksumsUnreadable_ = false;  // then left as it is
};

void PrintSummary(std::ostream& out, const Options& options, const Summary& summary);

}  // namespace mirror
