#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "funcoes/exceptions.h"
#include "funcoes/funcoes.h"
#include "tempdir.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::TryLink;
using testsupport::U;

TEST(DirectoryExists, Table) {
  TempDir t;
  fs::create_directories(t / "folder" / "inner");
  testsupport::WriteFile(t / "file.mp4", "x");
  const bool linked = TryLink(t / "folder", t / "link") && TryLink(t / "gone", t / "dangling");

  struct Case {
    std::u16string path;
    bool expected;
  };
  std::vector<Case> cases = {
      {U(t / "folder"), true},
      {U(t / "folder") + PathDelim, true},
      {U(t / "folder" / "inner"), true},
      {U(t / "file.mp4"), false},
      {U(t / "missing"), false},
      {U(t / "missing" / "deeper"), false},
      {U(t / "file.mp4" / "under-a-file"), false},
      {u"", false},
  };
  if (linked) {
    cases.push_back({U(t / "link"), true});
    cases.push_back({U(t / "dangling"), false});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(fs::path(c.path).string());
    EXPECT_EQ(DirectoryExists(c.path), c.expected);
  }
}

TEST(ForceDirectories, Table) {
  TempDir t;
  fs::create_directories(t / "have");
  testsupport::WriteFile(t / "file", "x");
  struct Case {
    std::u16string path;
    bool expected;
    bool existsAfter;
  };
  const std::vector<Case> cases = {
      {U(t / "have"), true, true},          {U(t / "new"), true, true},
      {U(t / "a" / "b" / "c"), true, true}, {U(t / "trailing") + PathDelim, true, true},
      {U(t / "file"), false, false},        {U(t / "file" / "below"), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fs::path(c.path).string());
    EXPECT_EQ(ForceDirectories(c.path), c.expected);
    EXPECT_EQ(DirectoryExists(c.path), c.existsAfter);
  }
}

TEST(ForceDirectories, EmptyPathRaises) {
  try {
    ForceDirectories(u"");
    FAIL() << "nothing raised";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Unable to create directory");
  }
}

TEST(EInOutError, MessagesByCode) {
  const std::vector<std::pair<int, std::string>> cases = {
      {2, "File not found"},
      {3, "Invalid filename"},
      {4, "Too many open files"},
      {5, "File access denied"},
      {100, "Read beyond end of file"},
      {101, "Disk full"},
      {106, "Invalid numeric input"},
      {32, "I/O error 32"},
  };
  for (const auto& [code, text] : cases) {
    const EInOutError e(code);
    EXPECT_EQ(e.what(), text);
    EXPECT_EQ(e.ErrorCode, code);
  }
}

TEST(EOSError, Message) {
  EXPECT_EQ(std::string(EOSError(2, "The system cannot find the file specified.").what()),
            std::string("System Error.  Code: 2.") + LineBreak + "The system cannot find the file specified.");
  EXPECT_STREQ(EOSError(0, "").what(), "A call to an OS function failed");
}

TEST(FileExists, Table) {
  TempDir t;
  fs::create_directories(t / "folder");
  testsupport::WriteFile(t / "clip.mxf", "x");
  std::vector<std::pair<std::u16string, bool>> cases = {
      {U(t / "clip.mxf"), true},
      {U(t / "folder"), false},
      {U(t / "missing.mxf"), false},
      {U(t / "folder" / "missing.mxf"), false},
      {u"", false},
  };
  std::error_code ec;
  fs::create_symlink(t / "clip.mxf", t / "clip-link.mxf", ec);
  if (!ec && testsupport::TryLink(t / "folder", t / "folder-link")) {
    cases.push_back({U(t / "clip-link.mxf"), true});
    cases.push_back({U(t / "folder-link"), false});
  }
  for (const auto& [path, expected] : cases) {
    SCOPED_TRACE(fs::path(path).string());
    EXPECT_EQ(FileExists(path), expected);
  }
}

#ifndef _WIN32
// The system would read a NUL as the end of the path, so a path holding one
// would name a shorter one: every routine treats it as naming nothing.
TEST(PathHoldingANul, NamesNothing) {
  using namespace std::string_literals;
  TempDir t;
  fs::create_directories(t / "folder");
  testsupport::WriteFile(t / "folder" / "clip.mxf", std::string(10, 'x'));
  const std::u16string folder = U(t / "folder") + u"\0/elsewhere"s;
  const std::u16string file = U(t / "folder" / "clip.mxf") + u"\0.bak"s;
  EXPECT_FALSE(DirectoryExists(folder));
  EXPECT_FALSE(FileExists(file));
  EXPECT_EQ(FolderSize(folder, true), 0);
  EXPECT_FALSE(ForceDirectories(U(t / "made") + u"\0/deeper"s));
  EXPECT_FALSE(fs::exists(t / "made"));
}
#endif
