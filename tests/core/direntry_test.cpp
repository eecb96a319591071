// Whether a folder can be entered, and the system's code when it cannot: the
// folder views raise their input/output errors from it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "tempdir.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::U;

TEST(DirectoryEntryError, Table) {
  TempDir t;
  fs::create_directories(t / "folder" / "inner");
  testsupport::WriteFile(t / "clip.mov", "x");
  struct Case {
    std::u16string path;
    int code;
  };
  const std::vector<Case> cases = {
      {U(t / "folder"), 0},
      {U(t / "folder" / "inner"), 0},
      {U(t / "missing"), 2},             // the parent is there
      {U(t / "missing" / "deeper"), 3},  // the parent is missing too
      {U(t / "clip.mov"), 267},          // a file is not a folder
      {U(t / "clip.mov" / "inner"), 3},  // nor a path through one
  };
  for (const Case& c : cases) EXPECT_EQ(platform::DirectoryEntryError(c.path), c.code) << fs::path(c.path).string();
}

#ifndef _WIN32
#include "unprivileged.h"

// Run with an ordinary user's rights, since root may enter every folder.
TEST(DirectoryEntryError, AFolderTheUserMayNotEnter) {
  TempDir t;
  fs::create_directories(t / "locked");
  fs::permissions(t / "locked", fs::perms::none);
  int code = -1;
  {
    testsupport::ScopedUnprivileged user;
    ASSERT_TRUE(user.Active()) << "root could not take an ordinary user's ids";
    code = platform::DirectoryEntryError(U(t / "locked"));
  }
  fs::permissions(t / "locked", fs::perms::owner_all);
  EXPECT_EQ(code, 5);
}
#endif
