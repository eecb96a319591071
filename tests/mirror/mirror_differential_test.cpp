// The mirror against rsync on generated trees: after our tool and after
// `rsync -r -L --times --delete` with the same exclusions, the destination
// trees must be identical. MIRROR_SEED=n runs the one case that failed.
// The trees hold links to files and folders outside the source, which both
// follow, and, where the destination tells letter case apart, names that
// differ only in case. Left out, since there the mirror deliberately differs
// from rsync: names differing only in case on a destination that ignores
// case (one is kept and the others reported), links into the destination or
// onto /proc and the like (refused), links back to a folder being walked
// (rsync walks on until paths grow too long) and links that lead nowhere
// (rsync then deletes nothing at all).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "exfat_mount.h"
#include "mirror_support.h"
#include "tempdir.h"

namespace {

using testsupport::TempDir;
namespace fs = std::filesystem;

constexpr int kCases = 240;
constexpr int kChangedCases = 40;
const char* const kExcludedFolders[] = {"$Recycle.bin", "Boot", "Recycler", "System Volume Information"};

// rsync matches case-sensitively: every ASCII letter becomes a class of both cases.
std::string AnyCase(const std::string& pattern) {
  std::string out;
  for (char c : pattern) {
    if (std::isalpha(static_cast<unsigned char>(c))) {
      out += '[';
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

struct Options {
  bool preserve, fatTimes, skipHidden;
};

std::vector<std::string> OurArgs(const fs::path& src, const fs::path& dst, const Options& o) {
  std::vector<std::string> args{src.string() + "/", dst.string() + "/", "/MIR"};
  if (o.preserve) args.push_back("/XX");
  if (o.fatTimes) args.push_back("/FFT");
  args.push_back("/Z");
  if (o.skipHidden) args.push_back("/XA:H");
  args.push_back("/R:0");
  args.push_back("/XD");
  for (const char* f : kExcludedFolders) args.push_back(f);
  args.push_back("/XF");
  args.push_back("*.exe");
  return args;
}

std::vector<std::string> RsyncArgs(const fs::path& src, const fs::path& dst, const Options& o) {
  std::vector<std::string> args{"-r", "-L", "--times"};
  if (!o.preserve) args.push_back("--delete");
  // No window for /FFT: it spares FAT destinations only, and ours keep the
  // times given (exFAT whole seconds, the generated times are whole seconds).
  for (const char* f : kExcludedFolders) args.push_back("--exclude=" + AnyCase(f) + "/");
  // Folders named like the file pattern are not excluded: /XF is for files only.
  args.push_back("--include=" + AnyCase("*.exe") + "/");
  args.push_back("--exclude=" + AnyCase("*.exe"));
  if (o.skipHidden) {
    args.push_back("--include=.*/");
    args.push_back("--exclude=.*");
  }
  args.push_back(src.string() + "/");
  args.push_back(dst.string() + "/");
  return args;
}

// The ASCII letters of `name` in the other case, or all in lower case.
std::string ToggledCase(std::string name, bool lower = false) {
  for (char& c : name) {
    if (std::islower(static_cast<unsigned char>(c)) && !lower)
      c = static_cast<char>(std::toupper(c));
    else if (std::isupper(static_cast<unsigned char>(c)))
      c = static_cast<char>(std::tolower(c));
  }
  return name;
}

// Files and folders outside every source, which the sources link to.
fs::path MakeOutside(const fs::path& root) {
  const fs::path outside = root / "outside";
  for (const char* file : {"shared.mov", "still.jpg", "library/a.wav", "library/sub/b.wav", "library/.hidden"}) {
    fs::create_directories((outside / file).parent_path());
    std::ofstream(outside / file, std::ios::binary) << "outside " << file;
    mirrortest::SetTime(outside / file, 1'550'000'000);
  }
  return outside;
}

// One generated case: a source tree, and a destination made twice alike.
// caseInsensitive: no two names in a folder differ only in letter case, and
// extras are purged, as a destination that ignores case needs. outside: what
// the source's links lead to.
class Generator {
 public:
  Generator(std::uint64_t seed, const fs::path& src, const std::vector<fs::path>& destinations, const fs::path& outside,
            bool caseInsensitive = false)
      : random_(seed), destinations_(destinations), outside_(outside), caseInsensitive_(caseInsensitive) {
    options_ = {Chance(30), Chance(70), Chance(70)};
    if (caseInsensitive_) options_.preserve = false;
    Folder(src, "", 0, true);
    if (Chance(10)) {
      for (const fs::path& d : destinations_) fs::remove_all(d);  // a missing destination is created
    }
  }
  const Options& options() const { return options_; }

 private:
  bool Chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(random_) < percent; }
  // Whether `name` is new in a folder that already holds `used`.
  bool Unused(std::set<std::string>& used, std::string name) const {
    if (caseInsensitive_) name = ToggledCase(name, true);
    return used.insert(name).second;
  }
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::string Name(bool folder) {
    static const char* const folderNames[] = {
        "boot", "BOOT",  "Recycler", "$RECYCLE.BIN", "system volume information", ".cache", "clips", "Audio",
        "raw",  "x.exe", "sub dir",  "caf\xC3\xA9"};
    static const char* const fileNames[] = {"a.exe",
                                            "B.EXE",
                                            "c.Exe",
                                            ".hidden",
                                            ".DS_Store",
                                            "exe",
                                            "clip.mov",
                                            "take 1.wav",
                                            "notes.txt",
                                            "boot",
                                            "e\xCC\x81t\xC3\xA9.jpg",
                                            "x.exe.txt"};
    if (Chance(40)) return folder ? folderNames[Between(0, 11)] : fileNames[Between(0, 11)];
    std::string name;
    for (int i = Between(1, 6); i > 0; --i) name += "abcXYZ019_-."[Between(0, 11)];
    if (name == "." || name == "..") name = "dots";
    return name;
  }

  std::string Content(int size) {
    std::string text(size, ' ');
    for (char& c : text) c = static_cast<char>(Between(0, 255));
    return text;
  }

  void Write(const fs::path& p, const std::string& content, std::int64_t time) {
    std::ofstream(p, std::ios::binary) << content;
    mirrortest::SetTime(p, time);
  }
  void WriteAll(const std::string& rel, const std::string& content, std::int64_t time) {
    for (const fs::path& d : destinations_) Write(d / rel, content, time);
  }
  void MakeAll(const std::string& rel) {
    for (const fs::path& d : destinations_) fs::create_directories(d / rel);
  }

  // Fills source folder `rel` and its destination counterpart (when `mirrored`).
  void Folder(const fs::path& src, const std::string& rel, int depth, bool mirrored) {
    fs::create_directories(src / rel);
    if (mirrored) MakeAll(rel);
    const auto join = [&rel](const std::string& name) { return rel.empty() ? name : rel + "/" + name; };
    std::set<std::string> used;
    for (int i = Between(0, 5); i > 0; --i) {
      const std::string name = Name(false);
      if (!Unused(used, name)) continue;
      const std::string content = Content(Chance(15) ? 0 : Between(1, 64));
      const std::int64_t time = 1'500'000'000 + Between(0, 100'000'000);
      Write(src / join(name), content, time);
      const std::string twin = ToggledCase(name);
      if (Chance(15) && Unused(used, twin))
        Write(src / join(twin), Content(Between(0, 9)), time);  // the same name in other letters
      if (!mirrored) continue;
      switch (Between(0, 7)) {
        case 0:
          break;  // new
        case 1:
        case 2:
          WriteAll(join(name), content, time);
          break;  // the same
        case 3:
          WriteAll(join(name), Content(content.size() + 1), time);
          break;   // size differs
        case 4: {  // same size, other content, time a little or a lot off
          static const int offsets[] = {-10, -3, -2, -1, 1, 2, 3, 3600};
          WriteAll(join(name), Content(content.size()), time + offsets[Between(0, 7)]);
          break;
        }
        case 5:
          WriteAll(join(name), Content(content.size()), time);
          break;  // the same as far as times tell
        case 6:   // a folder of the same name
          if (options_.preserve) break;
          MakeAll(join(name));
          WriteAll(join(name) + "/inner.bin", Content(3), time);
          break;
        default:
          WriteAll(join(name), content, time + 1);
          break;
      }
    }
    for (int i = depth < 3 ? Between(0, 2) : 0; i > 0; --i) {
      const std::string name = Name(true);
      if (!Unused(used, name)) continue;
      const bool below = mirrored && Chance(70);
      if (mirrored && !below && !options_.preserve && Chance(20)) {
        WriteAll(join(name), Content(5), 1'600'000'000);  // a file where the source has a folder
      }
      Folder(src, join(name), depth + 1, below);
    }
    if (Chance(25)) {  // a link to a file or a folder outside the source
      const bool folder = Chance(40);
      const std::string name = Name(folder);
      static const char* const targets[] = {"shared.mov", "still.jpg"};
      if (Unused(used, name)) {
        fs::create_symlink(outside_ / (folder ? "library" : targets[Between(0, 1)]), src / join(name));
      }
    }
    if (!mirrored) return;
    for (int i = Between(0, 2); i > 0; --i) {  // extras
      const std::string name = Name(Chance(50));
      if (!Unused(used, name)) continue;
      if (Chance(40)) {
        MakeAll(join(name));
        for (int j = Between(0, 3); j > 0; --j) {
          const std::string inner = Name(false);
          if (inner == name) continue;
          WriteAll(join(name) + "/" + inner, Content(Between(0, 9)), 1'600'000'000);
        }
      } else {
        WriteAll(join(name), Content(Between(0, 9)), 1'600'000'000);
      }
    }
  }

  std::mt19937_64 random_;
  std::vector<fs::path> destinations_;
  fs::path outside_;
  bool caseInsensitive_;
  Options options_{};
};

// `count` seeds from a random start, or the one that MIRROR_SEED names.
std::vector<std::uint64_t> Seeds(int count) {
  std::vector<std::uint64_t> seeds;
  if (const char* one = std::getenv("MIRROR_SEED")) {
    seeds.push_back(std::strtoull(one, nullptr, 10));
  } else {
    const std::uint64_t base = std::random_device{}();
    for (int i = 0; i < count; ++i) seeds.push_back(base + i);
    std::cout << "seeds " << seeds.front() << " to " << seeds.back() << "\n";
  }
  return seeds;
}

TEST(MirrorDifferential, SameTreesAsRsync) {
  const std::vector<std::uint64_t> seeds = Seeds(kCases);
  // The cases are laid out side by side, grouped by their options, so that one
  // run of each tool serves a whole group.
  TempDir dir;
  const fs::path outside = MakeOutside(dir.path());
  struct Case {
    std::uint64_t seed;
    Options options;
    std::string name;
  };
  std::vector<Case> cases;
  std::map<std::tuple<bool, bool, bool>, fs::path> groups;
  const auto groupOf = [&dir](const Options& o) {
    return dir / ("group" + std::to_string(o.preserve) + std::to_string(o.fatTimes) + std::to_string(o.skipHidden));
  };
  for (std::uint64_t seed : seeds) {
    const fs::path scratch = dir / "generating";
    const Generator generated(seed, scratch / "src", {scratch / "ours", scratch / "rsync"}, outside);
    const Case c{seed, generated.options(), "case" + std::to_string(seed)};
    const fs::path group = groupOf(c.options);
    groups[{c.options.preserve, c.options.fatTimes, c.options.skipHidden}] = group;
    for (const char* side : {"src", "ours", "rsync"}) {
      fs::create_directories(group / side);
      if (fs::exists(scratch / side)) fs::rename(scratch / side, group / side / c.name);
    }
    cases.push_back(c);
  }
  for (const auto& [key, group] : groups) {
    const Options o{std::get<0>(key), std::get<1>(key), std::get<2>(key)};
    const mirrortest::Outcome rsync =
        mirrortest::Run("rsync", RsyncArgs(group / "src", group / "rsync", o), dir / "rsync-log");
    ASSERT_TRUE(rsync.exitCode == 0 || rsync.exitCode == 23) << rsync.err;
    const mirrortest::Outcome first = mirrortest::RunMirror(OurArgs(group / "src", group / "ours", o), dir / "log");
    EXPECT_EQ(first.exitCode & ~(1 | 2), 0) << group << "\n" << first.err;
  }
  for (const Case& c : cases) {
    const Options& o = c.options;
    const fs::path group = groupOf(o);
    const auto picture = mirrortest::Picture(group / "ours" / c.name);
    const auto expected = mirrortest::Picture(group / "rsync" / c.name);
    EXPECT_EQ(picture, expected) << "seed " << c.seed << " (MIRROR_SEED=" << c.seed << "; preserve " << o.preserve
                                 << ", /FFT " << o.fatTimes << ", /XA:H " << o.skipHidden << ")\n"
                                 << mirrortest::Describe(picture, expected);
    if (HasFailure()) return;  // one case explained is worth more than many
  }
  // A second run finds nothing to copy and changes nothing.
  for (const auto& [key, group] : groups) {
    const Options o{std::get<0>(key), std::get<1>(key), std::get<2>(key)};
    const auto before = mirrortest::Picture(group / "ours");
    const mirrortest::Outcome second = mirrortest::RunMirror(OurArgs(group / "src", group / "ours", o), dir / "log");
    EXPECT_EQ(second.exitCode & ~2, 0) << group << "\n" << second.err;
    EXPECT_EQ(mirrortest::Picture(group / "ours"), before) << group;
  }
}

// Changes a source tree between two runs: files grow or are rewritten under a
// new time, and files and folders are renamed in letter case only.
void ChangeBetweenRuns(std::uint64_t seed, const fs::path& src) {
  std::mt19937_64 random(seed);
  const auto chance = [&random](int percent) { return std::uniform_int_distribution<int>(0, 99)(random) < percent; };
  std::vector<fs::path> entries{fs::recursive_directory_iterator(src), fs::recursive_directory_iterator()};
  std::sort(entries.rbegin(), entries.rend());  // what lies in a folder before the folder
  for (const fs::path& p : entries) {
    if (fs::is_regular_file(fs::symlink_status(p)) && chance(30)) {
      std::ofstream(p, std::ios::binary | (chance(50) ? std::ios::app : std::ios::trunc)) << "changed " << seed;
      mirrortest::SetTime(p, 1'700'000'000 + std::uniform_int_distribution<int>(0, 1000)(random));
    }
    const fs::path renamed = p.parent_path() / ToggledCase(p.filename().string());
    if (chance(25) && renamed != p && !fs::exists(fs::symlink_status(renamed))) fs::rename(p, renamed);
  }
}

// On a destination that ignores letter case, a folder renamed in case keeps
// its old spelling while it holds what the mirror keeps (excluded entries),
// where rsync's destination has both spellings: compare paths without case.
std::map<std::string, std::string> Folded(const std::map<std::string, std::string>& picture, bool fold) {
  if (!fold) return picture;
  std::map<std::string, std::string> folded;
  for (const auto& [path, what] : picture) folded.emplace(ToggledCase(path, true), what);
  return folded;
}

// Two runs with changes between them, the second one checked against rsync.
// Where an exFAT image can be mounted our destination lies on it, so the
// case-only renames meet a file system that ignores letter case.
TEST(MirrorDifferential, ChangesBetweenRunsAsRsync) {
  testsupport::ExfatMount exfat;
  const bool onExfat = exfat.Reason().empty();
  if (!onExfat) std::cout << "destination on the native file system: " << exfat.Reason() << "\n";
  const std::vector<std::uint64_t> seeds = Seeds(kChangedCases);
  TempDir dir;
  const fs::path outside = MakeOutside(dir.path());
  for (std::uint64_t seed : seeds) {
    const fs::path src = dir / "src", theirs = dir / "rsync", ours = onExfat ? exfat.path() / "ours" : dir / "ours";
    for (const fs::path& p : {src, theirs, ours}) fs::remove_all(p);
    const Generator generated(seed, src, {ours, theirs}, outside, onExfat);
    const Options& o = generated.options();
    for (int run = 0; run < 2; ++run) {
      if (run == 1) ChangeBetweenRuns(seed, src);
      const mirrortest::Outcome rsync = mirrortest::Run("rsync", RsyncArgs(src, theirs, o), dir / "rsync-log");
      ASSERT_TRUE(rsync.exitCode == 0 || rsync.exitCode == 23) << rsync.err;
      const mirrortest::Outcome mine = mirrortest::RunMirror(OurArgs(src, ours, o), dir / "log");
      EXPECT_EQ(mine.exitCode & ~(1 | 2), 0) << mine.err;
      const auto picture = Folded(mirrortest::Picture(ours), onExfat);
      const auto expected = Folded(mirrortest::Picture(theirs), onExfat);
      ASSERT_EQ(picture, expected) << "seed " << seed << " (MIRROR_SEED=" << seed << "), run " << run + 1
                                   << "; preserve " << o.preserve << ", /FFT " << o.fatTimes << ", /XA:H "
                                   << o.skipHidden << "\n"
                                   << mirrortest::Describe(picture, expected);
    }
  }
}

}  // namespace
