// The program's own folder and the drive of a path, which the default folders are built from.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "funcoes/funcoes.h"
#include "platform/process.h"

TEST(ExecutableFolder, IsTheFolderOfThisTestProgram) {
  const std::u16string folder = platform::ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), PathDelim);
  EXPECT_TRUE(DirectoryExists(folder));
  const std::filesystem::path self = std::filesystem::path(folder) / "core_appfolder_test";
  EXPECT_TRUE(std::filesystem::exists(self) || std::filesystem::exists(self.string() + ".exe"));
}

TEST(ExtractFileDrive, Table) {
  struct Case {
    std::u16string path, drive;
  };
  const std::vector<Case> cases = {
#ifdef _WIN32
      {u"C:\\Program Files\\Tarnvel", u"C:"},
      {u"d:\\", u"d:"},
      {u"C:", u"C:"},
      {u"\\\\server\\share\\media\\clips", u"\\\\server\\share"},
      {u"\\\\server\\share", u"\\\\server\\share"},
      {u"//server/share/x", u"//server/share"},
      {u"\\dir\\file", u""},
      {u"relative\\dir", u""},
#else
      {u"/home/user/tarnvel", u""},
      {u"/", u""},
      {u"C:/x", u""},
#endif
      {u"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractFileDrive(c.path), c.drive) << std::string(c.path.begin(), c.path.end());
}
