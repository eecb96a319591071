#include "mirror/mirror.h"

#ifndef _WIN32
#include <locale.h>
#include <wctype.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <cstdio>
#include <optional>
#include <thread>
#include <unordered_map>

namespace mirror {
namespace {

constexpr size_t kCopyThreads = 4;
// Reading a small copy back is one wait on the disk each: more of them at
// once keep the disk's queue full.
constexpr size_t kReadBackThreads = 16;
constexpr size_t kFilesPerThread = 8;  // fewer files per helper are not worth a thread

// Calls work(i) for each i below `count`, up to `threads` at a time: small
// files cost a few system calls each, mostly waiting on the file system.
template <typename Work>
void AtOnce(size_t count, size_t threads, const Work& work) {
  std::atomic<size_t> next{0};
  const auto loop = [&] {
    for (size_t i; (i = next++) < count;) work(i);
  };
  std::vector<std::jthread> helpers;
  for (size_t i = 1; i < threads && i * kFilesPerThread < count; ++i) helpers.emplace_back(loop);
  loop();
}
constexpr char kTempPrefix[] = ".~robocopy-";
constexpr char kTempSuffix[] = ".tmp";
constexpr size_t kTempLength = sizeof kTempPrefix - 1 + 16 + sizeof kTempSuffix - 1;

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' || folder.back() == '\\' ? folder + name : folder + "/" + name;
}

std::string ChecksumPath(const std::string& destination) { return Join(Join(destination, kOwnFolder), kChecksumFile); }

// A file system's own folder at its root, left alone like "System Volume Information".
constexpr char kLostAndFound[] = "lost+found";

// Calls add(c) for each character of `name` in small letters, as far as the
// system's case tables tell: the key under which a file system that ignores
// letter case finds a name.
template <typename Add>
void FoldCase(const std::string& name, const Add& add) {
#ifndef _WIN32
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
#endif
  for (size_t i = 0; i < name.size();) {
    const auto byte = static_cast<unsigned char>(name[i]);
    const size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
    char32_t c = length == 1 ? byte : length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
    bool valid = length > 0 && i + length <= name.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(name[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      add(static_cast<char32_t>(0x110000 + byte));  // a byte that is no character stands for itself
      ++i;
      continue;
    }
    if (c >= 'A' && c <= 'Z') {
      c += 'a' - 'A';
    } else if (c >= 0x80) {
#ifndef _WIN32
      if (utf8 != nullptr) c = static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), utf8));
#endif
    }
    add(c);
    i += length;
  }
}

std::u32string FoldedKey(const std::string& name) {
  std::u32string key;
  FoldCase(name, [&key](char32_t c) { key += c; });
  return key;
}

// A hash of the key, without making it: names that differ in it differ here
// but for a rare collision.
std::uint64_t FoldedHash(const std::string& name) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  FoldCase(name, [&hash](char32_t c) {
    hash ^= c;
    hash *= 1099511628211ull;
  });
  return hash;
}

}  // namespace

int Summary::ExitCode() const {
  int code = 0;
  if (files.copied > 0) code |= 1;
  if (files.extras > 0 || folders.extras > 0) code |= 2;
  if (files.failed > 0 || folders.failed > 0) code |= 8;
  return code;
}

std::string TemporaryName(const std::string& name, std::int64_t size, FileTime mtime) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  auto mix = [&hash](const void* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      hash ^= static_cast<const unsigned char*>(data)[i];
      hash *= 1099511628211ull;
    }
  };
  mix(name.data(), name.size());
  mix(&size, sizeof size);
  mix(&mtime.seconds, sizeof mtime.seconds);
  mix(&mtime.nanoseconds, sizeof mtime.nanoseconds);
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return kTempPrefix + std::string(hex) + kTempSuffix;
}

bool IsTemporaryName(const std::string& name) {
  if (name.size() != kTempLength || !name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix)) return false;
  const std::string_view hex = std::string_view(name).substr(sizeof kTempPrefix - 1, 16);
  return std::all_of(hex.begin(), hex.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

Mirror::Mirror(const Options& options, std::ostream& errors) : options_(options), errors_(errors) {}

Summary Mirror::Run() {
  summary_ = {};
  Folder source = [&] {
    try {
      return Folder::Open(options_.source);
    } catch (const std::system_error& e) {
      throw FatalError("ERROR : Accessing Source Directory " + options_.source + " : " + e.code().message());
    }
  }();
  Folder destination = [&] {
    try {
      try {
        return Folder::Open(options_.destination);
      } catch (const std::system_error& e) {
        if (e.code() != std::errc::no_such_file_or_directory) throw;
        Folder::Create(options_.destination);
        return Folder::Open(options_.destination);
      }
    } catch (const std::system_error& e) {
      throw FatalError("ERROR : Accessing Destination Directory " + options_.destination + " : " + e.code().message());
    }
  }();
  // One run at a time on a destination: a second one would find the first's
  // files half made, or gone under it.
  destination.Hold();
  destinationRoot_ = destination.Id();
  try {
    sourcePath_ = source.PathIds();
  } catch (const std::system_error& e) {
    throw FatalError("ERROR : Accessing Source Directory " + options_.source + " : " + e.code().message());
  }
  ancestors_ = {sourcePath_.front()};
  checksums_.reset();
  checksumsUnreadable_ = false;
  Writeback writeback(destination);
  writeback_ = &writeback;
  written_.clear();
  {
    ListAhead::Ticket<Listing> destinationListing =
        listAhead_.Start([&destination] { return ListOf(destination, false); });
    Listing sourceListing = ListOf(source, true);
    MirrorFolder(source, destination, std::move(sourceListing), destinationListing.Take(), options_.source,
                 options_.destination);
  }
  const std::error_code flushedMeanwhile = writeback.Stop();
  writeback_ = nullptr;
  // Once per run rather than per file: a card pulled or power lost right
  // after the run must not find a file of the right size and time whose
  // bytes never reached it, for no later run would copy it again.
  const Counts& f = summary_.files;
  const Counts& d = summary_.folders;
  if (f.copied + f.extras + d.copied + d.extras > 0) {
    std::error_code error = flushedMeanwhile;
    try {
      destination.Flush();
    } catch (const std::system_error& e) {
      if (!error) error = e.code();
    }
    if (error) {
      Report("Flushing Destination Directory", options_.destination, error);
      ++summary_.folders.failed;
      ForgetWritten();
    } else {
      VerifyWritten();
    }
  }
  SaveChecksums(destination);
  return summary_;
}

void Mirror::VerifyWritten() {
  std::mutex lock;
  AtOnce(written_.size(), kReadBackThreads, [&](size_t i) {
    const Written& w = written_[i];
    if (w.copy.verified || w.copy.digest.empty()) return;
    std::error_code error = CopyDiffers();
    try {
      if (Folder::Open(w.folder).ReadsBackAs(w.name, w.copy.digest)) error.clear();
    } catch (const std::system_error& e) {
      error = e.code();
    }
    std::lock_guard<std::mutex> guard(lock);
    if (!error) {
      Checksums().Set(Listed(w.folder, w.name), w.copy.digest);
      return;
    }
    // A copy that may not be the source's never stays under its name: the
    // next run, finding none, copies it again.
    Report("Verifying File", Join(w.folder, w.name), error);
    try {
      Folder::Open(w.folder).RemoveFile(w.name);
    } catch (const std::system_error& e) {
      if (e.code() != std::errc::no_such_file_or_directory) Report("Deleting File", Join(w.folder, w.name), e.code());
    }
    --summary_.files.copied;
    ++summary_.files.failed;
    summary_.bytes.copied -= w.copied;
    summary_.bytes.failed += w.size;
  });
}

ChecksumList& Mirror::Checksums() {
  if (checksums_) return *checksums_;
  checksums_.emplace();
  if (!kCopiesVerified) return *checksums_;
  try {
    const Folder destination = Folder::Open(options_.destination);
    try {
      checksums_->Load(destination.OpenChild(kOwnFolder, false).ReadFile(kChecksumFile));
    } catch (const std::system_error& e) {
      if (e.code() != std::errc::no_such_file_or_directory) throw;
    }
    // Until the list is written: a run stopped before then leaves it behind
    // for the next run, which brings the list up to date even if it has
    // nothing to copy.
    OwnFolder(destination).MakeChild(kUnfinished, 0755);
  } catch (const std::system_error& e) {
    if (e.code() == std::errc::file_exists) return *checksums_;
    // Rewritten from what this run knows, it would lose the other files' lines.
    Report("Reading Checksum List", ChecksumPath(options_.destination), e.code());
    ++summary_.files.failed;
    checksumsUnreadable_ = true;
  }
  return *checksums_;
}

Folder Mirror::OwnFolder(const Folder& destination) {
  try {
    destination.MakeChild(kOwnFolder, 0755);
  } catch (const std::system_error& e) {
    if (e.code() != std::errc::file_exists) throw;
  }
  return destination.OpenChild(kOwnFolder, false);
}

void Mirror::SaveChecksums(const Folder& destination) {
  if (!kCopiesVerified) return;
  try {
    destination.ChangedAt(std::string(kOwnFolder) + "/" + kUnfinished);
    Checksums();  // left by a stopped run
  } catch (const std::system_error&) {
    if (!checksums_ || !checksums_->Changed()) return;  // nothing to write
  }
  if (checksumsUnreadable_) return;
  try {
    const Folder own = OwnFolder(destination);
    // A line whose file changed after the list was last written is not that
    // file's: a stopped run removed or replaced it. A file that this run
    // copied and read back has its line anew.
    std::optional<FileTime> written;
    try {
      written = own.ChangedAt(kChecksumFile);
    } catch (const std::system_error&) {
    }
    checksums_->Prune([&](const std::string& path) {
      try {
        return written && destination.ChangedAt(path) <= *written;
      } catch (const std::system_error&) {
        return false;
      }
    });
    own.ReplaceFile(kChecksumFile, checksums_->Text());
    own.RemoveEmptyFolder(kUnfinished);
  } catch (const std::system_error& e) {
    Report("Writing Checksum List", ChecksumPath(options_.destination), e.code());
    ++summary_.files.failed;
  }
}

std::string Mirror::Listed(const std::string& folder, const std::string& name) const {
  return Join(folder, name).substr(Join(options_.destination, "").size());
}

void Mirror::ForgetWritten() {
  // Their bytes may never have reached the disk, yet their size and time
  // would pass them as current: removed, the next run copies them again.
  for (const Written& w : written_) {
    Checksums().Erase(Listed(w.folder, w.name));
    try {
      Folder::Open(w.folder).RemoveFile(w.name);
    } catch (const std::system_error& e) {
      if (e.code() != std::errc::no_such_file_or_directory) Report("Deleting File", Join(w.folder, w.name), e.code());
    }
  }
  written_.clear();
}

bool Mirror::OnSourcePath(const Identity& folder) const {
  return std::find(sourcePath_.begin(), sourcePath_.end(), folder) != sourcePath_.end();
}

bool SameTimes(FileTime destination, FileTime source, TimeKeeping keeping, bool fatTimes) {
  if (destination == source) return true;
  if (keeping == TimeKeeping::Exact) return false;  // an edit a moment later is a different time, whatever /FFT says
  // FAT and exFAT keep 1980 to 2107; their drivers clamp or wrap a time
  // outside, so what is stored cannot be told from the source's: the size decides.
  constexpr std::int64_t kFirstStorable = 315'532'800, kPastStorable = 4'354'819'200;  // 1980, 2108 (UTC)
  if (source.seconds < kFirstStorable || source.seconds >= kPastStorable) return true;
  constexpr std::int32_t kTenMilliseconds = 10'000'000;
  const FileTime inTens{source.seconds, source.nanoseconds - source.nanoseconds % kTenMilliseconds};
  const FileTime inSeconds{source.seconds, 0};
  switch (keeping) {
    case TimeKeeping::Exact:
      return false;
    case TimeKeeping::TenMilliseconds:
      return destination == inTens;
    case TimeKeeping::TwoSeconds:
      if (fatTimes) {
        // Within 2 seconds either way.
        const FileTime later = destination > source ? destination : source;
        const FileTime earlier = destination > source ? source : destination;
        return later.seconds - earlier.seconds < 2 ||
               (later.seconds - earlier.seconds == 2 && later.nanoseconds <= earlier.nanoseconds);
      }
      return destination == FileTime{source.seconds - source.seconds % 2, 0};
    case TimeKeeping::Unknown:
      // A stored fraction of a second shows how finely the file system keeps
      // times; none at all, that it may keep whole seconds only.
      if (destination.nanoseconds % kTenMilliseconds != 0) return false;
      return destination == (destination.nanoseconds != 0 ? inTens : inSeconds);
  }
  return false;
}

TimeKeeping Mirror::TimesOn(const Folder& folder, std::uint64_t device) {
  auto it = timeKeeping_.find(device);
  if (it == timeKeeping_.end()) {
    TimeKeeping keeping = TimeKeeping::Exact;  // a file system that cannot be asked: never skip an edit
    try {
      keeping = folder.Times();
    } catch (const std::system_error&) {
    }
    it = timeKeeping_.emplace(device, keeping).first;
  }
  return it->second;
}

bool Mirror::Kept(const Entry& entry) const {
  if (entry.kind == Kind::Folder) return MatchesAny(options_.excludedFolders, entry.name);
  return MatchesAny(options_.excludedFiles, entry.name) || (options_.skipHidden && entry.hidden);
}

void Mirror::Report(const std::string& what, const std::string& path, const std::error_code& error) {
  errors_ << "ERROR : " << what << ' ' << path << " : " << error.message() << '\n';
}

void Mirror::NotCopied(const std::string& sourcePath) {
  Report("Copying File", sourcePath, NotRegularFile());
  ++summary_.files.failed;
}

Mirror::Listing Mirror::ListOf(const Folder& folder, bool followLinks) {
  Listing listing;
  try {
    listing.entries = folder.List(followLinks);
  } catch (const std::system_error& e) {
    listing.error = e.code();
  }
  return listing;
}

Mirror::Opened Mirror::OpenAndList(const Folder& parent, const std::string& name, bool followLinks) {
  Opened opened;
  try {
    opened.folder.emplace(parent.OpenChild(name, followLinks));
  } catch (const std::system_error& e) {
    opened.error = e.code();
    return opened;
  }
  opened.listing = ListOf(*opened.folder, followLinks);
  return opened;
}

void Mirror::MirrorFolder(const Folder& source, const Folder& destination, Listing sourceListing,
                          Listing destinationListing, const std::string& sourcePath, const std::string& path) {
  if (sourceListing.error) {
    Report("Scanning Source Directory", sourcePath, sourceListing.error);
    ++summary_.folders.failed;
    return;
  }
  if (destinationListing.error) {
    Report("Scanning Destination Directory", path, destinationListing.error);
    ++summary_.folders.failed;
    return;
  }
  const std::vector<Entry>& sourceEntries = sourceListing.entries;
  const std::vector<Entry>& destinationEntries = destinationListing.entries;
  const NameIndex existing(destinationEntries);

  // What the source holds, excluded entries left out: every other entry of
  // the destination is an extra.
  std::vector<char> wanted(destinationEntries.size(), 0);
  const auto want = [&](std::string_view name) {
    if (const size_t at = existing.Find(name); at != NameIndex::npos) wanted[at] = 1;
  };
  // lost+found at the root of either file system is neither copied nor purged.
  const auto holdsLostAndFound = [](const std::vector<Entry>& entries, const Folder& folder) {
    return std::any_of(entries.begin(), entries.end(),
                       [](const Entry& e) { return e.kind == Kind::Folder && e.name == kLostAndFound; }) &&
           folder.IsFileSystemRoot();
  };
  const bool lostAndFound =
      holdsLostAndFound(sourceEntries, source) || holdsLostAndFound(destinationEntries, destination);
  if (lostAndFound) want(kLostAndFound);
  // The tool's own folder at the destination's root is neither purged nor
  // written over; a source's at its root (the source a mirror itself) holds
  // that mirror's list, which says nothing of this copy.
  const bool root = path == options_.destination;
  if (root) want(kOwnFolder);
  std::vector<const Entry*> folders, files;
  for (const Entry& e : sourceEntries) {
    if (root && e.name == kOwnFolder) continue;
    if (e.error) {
      Report("Accessing Source File", Join(sourcePath, e.name), e.error);
      ++summary_.files.failed;
      want(e.name);  // the same name in the destination is not an extra
    } else if (e.kind == Kind::Folder) {
      if (MatchesAny(options_.excludedFolders, e.name) || (lostAndFound && e.name == kLostAndFound)) continue;
      want(e.name);
      if (options_.subfolders) folders.push_back(&e);
    } else if (e.kind == Kind::File) {
      if (Kept(e)) continue;
      want(e.name);
      files.push_back(&e);
    } else if (e.kind == Kind::Other) {
      if (Kept(e)) continue;
      // A pipe, socket or device: the destination's file of that name is
      // the last copy of what was there, and no extra.
      want(e.name);
      ++summary_.files.total;
      NotCopied(Join(sourcePath, e.name));
    }
  }
  LeaveCaseClashes(destination, existing, files, folders, sourcePath);
  // The subfolders are listed while this folder's files are compared and
  // copied; the last handed in is listed first, so the first is.
  std::vector<Ahead> ahead;
  ahead.reserve(folders.size());
  for (auto e = folders.rbegin(); e != folders.rend(); ++e) {
    const std::string& name = (*e)->name;
    Ahead& next =
        ahead.emplace_back(Ahead{listAhead_.Start([&source, name] { return OpenAndList(source, name, true); }), {}});
    const Entry* there = existing.Get(name);
    if (there != nullptr && there->kind == Kind::Folder) {
      next.destination = listAhead_.Start([&destination, name] { return OpenAndList(destination, name, false); });
    }
  }
  std::vector<Copy> copies;
  for (const Entry* e : files) CopyFile(destination, *e, existing.Get(e->name), path, copies);
  // Extras go before the copies: on a destination that ignores letter case,
  // "song.mp3" purged after "Song.mp3" was copied would take the copy with it.
  // Leftovers of stopped copies go after them, so that /Z can resume from one.
  const auto leftover = [](const Entry& e) { return e.kind == Kind::File && IsTemporaryName(e.name); };
  for (size_t i = 0; i < destinationEntries.size(); ++i) {
    if (!wanted[i] && !leftover(destinationEntries[i])) Extra(destination, destinationEntries[i], path);
  }
  CopyAll(source, destination, copies, sourcePath, path);
  for (size_t i = 0; i < destinationEntries.size(); ++i) {
    if (!wanted[i] && leftover(destinationEntries[i])) Extra(destination, destinationEntries[i], path);
  }
  for (size_t i = 0; i < folders.size(); ++i) {
    const Entry& e = *folders[i];
    MirrorSubfolder(destination, e, existing.Get(e.name), std::move(ahead[folders.size() - 1 - i]), sourcePath, path);
  }
}

void Mirror::LeaveCaseClashes(const Folder& destination, const NameIndex& held, std::vector<const Entry*>& files,
                              std::vector<const Entry*>& folders, const std::string& sourcePath) {
  // Most folders have no such names: told by the hashes alone, without a key
  // made for every name.
  std::vector<std::uint64_t> hashes;
  hashes.reserve(files.size() + folders.size());
  for (const std::vector<const Entry*>* list : {&files, &folders}) {
    for (const Entry* e : *list) hashes.push_back(FoldedHash(e->name));
  }
  std::sort(hashes.begin(), hashes.end());
  if (std::adjacent_find(hashes.begin(), hashes.end()) == hashes.end()) return;
  std::unordered_map<std::u32string, std::vector<const Entry*>> spellings;
  bool clash = false;
  for (const std::vector<const Entry*>* list : {&files, &folders}) {
    for (const Entry* e : *list) {
      std::vector<const Entry*>& same = spellings[FoldedKey(e->name)];
      same.push_back(e);
      clash = clash || same.size() > 1;
    }
  }
  if (!clash || !destination.IgnoresCase(TemporaryName(sourcePath, 0, FileTime{}))) return;
  const auto byName = [](const Entry* a, const Entry* b) { return a->name < b->name; };
  std::vector<const Entry*> left;
  for (const auto& [key, same] : spellings) {
    if (same.size() < 2) continue;
    // The spelling the destination holds; else the first in byte order, so
    // that every run keeps the same one.
    const Entry* kept = *std::min_element(same.begin(), same.end(), byName);
    for (const Entry* e : same) {
      if (held.Find(e->name) != NameIndex::npos) kept = e;
    }
    for (const Entry* e : same) {
      if (e != kept) left.push_back(e);
    }
  }
  std::sort(left.begin(), left.end(), byName);
  for (const Entry* e : left) {
    const bool folder = e->kind == Kind::Folder;
    errors_ << "ERROR : " << (folder ? "Creating Directory " : "Copying File ") << Join(sourcePath, e->name)
            << " : another name differing only in letter case is already in this folder\n";
    Counts& counts = folder ? summary_.folders : summary_.files;
    ++counts.total;
    ++counts.failed;
    if (!folder) {
      summary_.bytes.total += e->size;
      summary_.bytes.failed += e->size;
    }
  }
  const auto isLeft = [&left](const Entry* e) { return std::find(left.begin(), left.end(), e) != left.end(); };
  std::erase_if(files, isLeft);
  std::erase_if(folders, isLeft);
}

void Mirror::CopyFile(const Folder& destination, const Entry& file, const Entry* existing, const std::string& path,
                      std::vector<Copy>& copies) {
  const std::string target = Join(path, file.name);
  ++summary_.files.total;
  summary_.bytes.total += file.size;
  if (existing != nullptr && existing->kind == Kind::File && existing->size == file.size &&
      SameTimes(existing->mtime, file.mtime, TimesOn(destination, existing->id.device), options_.fatTimes)) {
    ++summary_.files.skipped;
    summary_.bytes.skipped += file.size;
    return;
  }
  if (existing != nullptr && existing->kind != Kind::File) {
    // A folder or a link stands where the source has a file.
    const bool cleared =
        options_.Purging() &&
        (existing->kind == Kind::Folder ? !OnSourcePath(existing->id) && PurgeTree(destination, file.name, target)
                                        : [&] {
                                            try {
                                              destination.RemoveFile(file.name);
                                              return true;
                                            } catch (const std::system_error&) {
                                              return false;
                                            }
                                          }());
    if (!cleared) {
      errors_ << "ERROR : Copying File " << target << " : the destination holds a "
              << (existing->kind == Kind::Folder ? "folder" : "link") << " of that name\n";
      ++summary_.files.failed;
      ++summary_.files.mismatch;
      summary_.bytes.failed += file.size;
      return;
    }
  }
  // A folder or a link in the way was removed above.
  copies.push_back({&file, existing != nullptr && existing->kind == Kind::File});
}

void Mirror::CopyAll(const Folder& source, const Folder& destination, const std::vector<Copy>& files,
                     const std::string& sourcePath, const std::string& path) {
  std::mutex lock;
  AtOnce(files.size(), kCopyThreads, [&](size_t i) {
    const Entry& file = *files[i].file;
    if (source.OpenForWriting(file.name)) {
      // Still being written: this run leaves it, its writer's close asks for the next.
      std::lock_guard<std::mutex> guard(lock);
      errors_ << "ERROR : File In Use " << Join(sourcePath, file.name) << " : open for writing\n";
      ++summary_.files.failed;
      summary_.bytes.failed += file.size;
      return;
    }
    const std::string temp = TemporaryName(file.name, file.size, file.mtime);
    for (int attempt = 0;; ++attempt) {
      try {
        Copied copied = destination.CopyIn(source, file.name, temp, options_.restartable, files[i].replaces);
        writeback_->Wrote(copied.bytes);
        std::lock_guard<std::mutex> guard(lock);
        // A copy not yet read back gets its line once it is.
        if (copied.verified) {
          Checksums().Set(Listed(path, file.name), copied.digest);
        } else {
          Checksums().Erase(Listed(path, file.name));
        }
        summary_.bytes.copied += copied.bytes;
        ++summary_.files.copied;
        written_.push_back({path, file.name, file.size, copied.bytes, std::move(copied)});
        return;
      } catch (const std::system_error& e) {
        if (e.code() == NotRegularFile()) {
          // Became a pipe or a device since it was listed.
          std::lock_guard<std::mutex> guard(lock);
          NotCopied(Join(sourcePath, file.name));
          summary_.bytes.failed += file.size;  // counted in the total when it was listed
          return;
        }
        if (attempt < options_.retries) {
          std::this_thread::sleep_for(std::chrono::seconds(options_.waitSeconds));
          continue;
        }
        std::lock_guard<std::mutex> guard(lock);
        if (dynamic_cast<const SourceFailure*>(&e) != nullptr) {
          Report("Reading Source File", Join(sourcePath, file.name), e.code());
        } else {
          Report(e.code() == CopyDiffers() ? "Verifying File" : "Copying File", Join(path, file.name), e.code());
        }
        ++summary_.files.failed;
        summary_.bytes.failed += file.size;
        return;
      }
    }
  });
}

void Mirror::MirrorSubfolder(const Folder& destination, const Entry& folder, const Entry* existing, Ahead ahead,
                             const std::string& sourcePath, const std::string& path) {
  const std::string target = Join(path, folder.name), origin = Join(sourcePath, folder.name);
  // A link back to a folder being walked would never end; the destination
  // inside the source is no part of what it mirrors.
  if (std::find(ancestors_.begin(), ancestors_.end(), folder.id) != ancestors_.end() ||
      (folder.id == destinationRoot_ && !folder.linked && linkedDepth_ == 0)) {
    return;
  }
  ++summary_.folders.total;
  Opened from = ahead.source.Take();
  if (!from.folder) {
    // What the destination holds of it stays, as for an entry that cannot be examined.
    Report("Scanning Source Directory", origin, from.error);
    ++summary_.folders.failed;
    return;
  }
  if (const char* why = Refusal(*from.folder, folder)) {
    errors_ << "ERROR : Scanning Source Directory " << origin << " : " << why << '\n';
    ++summary_.folders.failed;
    return;
  }
  try {
    if (existing == nullptr) {
      try {
        destination.MakeChild(folder.name, folder.permissions);
        ++summary_.folders.copied;
      } catch (const std::system_error& e) {
        // On a destination that ignores letter case, an extra folder of
        // another spelling that still holds what the mirror keeps is this
        // folder: fill it.
        if (e.code() != std::errc::file_exists) throw;
        ++summary_.folders.skipped;
      }
    } else if (existing->kind == Kind::Folder) {
      ++summary_.folders.skipped;
    } else if (options_.Purging()) {
      // A file or a link stands where the source has a folder: the link goes,
      // what it points to stays.
      destination.RemoveFile(folder.name);
      Checksums().Erase(Listed(path, folder.name));
      destination.MakeChild(folder.name, folder.permissions);
      ++summary_.folders.copied;
    } else {
      errors_ << "ERROR : Creating Directory " << target << " : the destination holds a "
              << (existing->kind == Kind::Link ? "link" : "file") << " of that name\n";
      ++summary_.folders.failed;
      ++summary_.folders.mismatch;
      return;
    }
    // Listed ahead when it was there already; else listed now (one made here is empty).
    Opened to = ahead.destination ? ahead.destination->Take() : OpenAndList(destination, folder.name, false);
    if (!to.folder) throw std::system_error(to.error, "open");
    if (OnSourcePath(to.folder->Id())) {
      // The destination's folder of that name is the source or holds it,
      // whatever the names say (bind mounts, names that differ in case).
      errors_ << "ERROR : Creating Directory " << target << " : it is the source folder or holds it\n";
      ++summary_.folders.failed;
      return;
    }
    ancestors_.push_back(folder.id);
    linkedDepth_ += folder.linked ? 1 : 0;
    MirrorFolder(*from.folder, *to.folder, std::move(from.listing), std::move(to.listing), origin, target);
    linkedDepth_ -= folder.linked ? 1 : 0;
    ancestors_.pop_back();
  } catch (const std::system_error& e) {
    Report("Creating Directory", target, e.code());
    ++summary_.folders.failed;
  }
}

const char* Mirror::Refusal(const Folder& from, const Entry& folder) {
  // A followed link never leads into what the run writes: the destination
  // would grow with every level it walks.
  if (folder.id == destinationRoot_) return "it leads into the destination folder";
  if (folder.linked) {
    try {
      const std::vector<Identity> up = from.PathIds();
      if (std::find(up.begin(), up.end(), destinationRoot_) != up.end()) return "it leads into the destination folder";
    } catch (const std::system_error&) {
    }
  }
  // Nor onto the kernel's own file systems, whose trees never end (/proc).
  // The source's own file system is the user's choice.
  if (folder.id.device != sourcePath_.front().device) {
    auto it = pseudo_.find(folder.id.device);
    if (it == pseudo_.end()) it = pseudo_.emplace(folder.id.device, from.OnPseudoFileSystem()).first;
    if (it->second) return "it leads onto a pseudo file system, which holds no files";
  }
  return nullptr;
}

void Mirror::Extra(const Folder& destination, const Entry& entry, const std::string& path) {
  const std::string target = Join(path, entry.name);
  try {
    if (entry.kind == Kind::File && IsTemporaryName(entry.name)) {
      // Left by a copy that was stopped; its own run has no further use for it.
      destination.RemoveFile(entry.name);
      return;
    }
    if (Kept(entry) || options_.keepExtras) return;
    if (entry.kind == Kind::Folder) {
      if (!options_.subfolders || OnSourcePath(entry.id)) return;
      ++summary_.folders.extras;
      if (options_.purge) PurgeTree(destination, entry.name, target);
    } else {
      ++summary_.files.extras;
      if (entry.kind == Kind::File) summary_.bytes.extras += entry.size;
      if (options_.purge) {
        destination.RemoveFile(entry.name);
        Checksums().Erase(Listed(path, entry.name));
      }
    }
  } catch (const std::system_error& e) {
    if (e.code() == std::errc::no_such_file_or_directory) return;
    Report("Deleting Extra", target, e.code());
    ++(entry.kind == Kind::Folder ? summary_.folders.failed : summary_.files.failed);
  }
}

bool Mirror::PurgeTree(const Folder& parent, const std::string& name, const std::string& path) {
  bool whole = true;
  try {
    Folder folder = parent.OpenChild(name, false);
    for (const Entry& e : folder.List(false)) {
      const std::string target = Join(path, e.name);
      if (e.kind == Kind::Folder && OnSourcePath(e.id)) {
        whole = false;  // the source itself lies inside the destination
      } else if (e.kind == Kind::File && IsTemporaryName(e.name)) {
        folder.RemoveFile(e.name);
      } else if (Kept(e)) {
        whole = false;
      } else if (e.kind == Kind::Folder) {
        ++summary_.folders.extras;
        whole = PurgeTree(folder, e.name, target) && whole;
      } else {
        ++summary_.files.extras;
        if (e.kind == Kind::File) summary_.bytes.extras += e.size;
        try {
          folder.RemoveFile(e.name);
          Checksums().Erase(Listed(path, e.name));
        } catch (const std::system_error& err) {
          Report("Deleting Extra File", target, err.code());
          ++summary_.files.failed;
          whole = false;
        }
      }
    }
  } catch (const std::system_error& e) {
    Report("Deleting Extra Directory", path, e.code());
    ++summary_.folders.failed;
    return false;
  }
  if (!whole) return false;
  try {
    parent.RemoveEmptyFolder(name);
    return true;
  } catch (const std::system_error& e) {
    Report("Deleting Extra Directory", path, e.code());
    ++summary_.folders.failed;
    return false;
  }
}

void PrintSummary(std::ostream& out, const Options& options, const Summary& summary) {
  const char* line = "------------------------------------------------------------------------------\n";
  out << line << "\n   Source : " << options.source << "\n     Dest : " << options.destination << "\n\n"
      << line << '\n';
  char row[160];
  // A blank before every column, so that figures of ten digits and more stay apart.
  std::snprintf(row, sizeof row, "%10s %9s %9s %9s %9s %9s %9s\n", "", "Total", "Copied", "Skipped", "Mismatch",
                "FAILED", "Extras");
  out << row;
  auto print = [&](const char* label, const Counts& c) {
    std::snprintf(row, sizeof row, "%10s %9lld %9lld %9lld %9lld %9lld %9lld\n", label, static_cast<long long>(c.total),
                  static_cast<long long>(c.copied), static_cast<long long>(c.skipped),
                  static_cast<long long>(c.mismatch), static_cast<long long>(c.failed),
                  static_cast<long long>(c.extras));
    out << row;
  };
  print("Dirs :", summary.folders);
  print("Files :", summary.files);
  print("Bytes :", summary.bytes);
  out << '\n';
}

}  // namespace mirror
