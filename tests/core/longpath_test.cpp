// The extended-length path form, and on Windows the file calls that use it on
// folders deeper than 260 characters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "funcoes/funcoes.h"
#include "platform/longpath.h"
#include "platform/text.h"
#include "tempdir.h"

#ifdef _WIN32
#include <windows.h>

#include "folder_monitor/FolderMon.h"
#include "funcoes/mainthread.h"
#include "platform/fs.h"
#endif

namespace {

using namespace testsupport;

std::string Utf8(const std::u16string& s) { return platform::ToUtf8(s); }

struct Conversion {
  std::u16string in, want;
};

void ExpectConversions(std::u16string (*convert)(const std::u16string&), const std::vector<Conversion>& cases) {
  for (const Conversion& c : cases) EXPECT_EQ(Utf8(convert(c.in)), Utf8(c.want)) << Utf8(c.in);
}

TEST(ExtendedLengthForm, PrefixesFullPathsAndLeavesTheRest) {
  ExpectConversions(platform::ExtendedLengthForm,
                    {
                        {u"C:\\", u"\\\\?\\C:\\"},
                        {u"C:\\media\\clip.mov", u"\\\\?\\C:\\media\\clip.mov"},
                        {u"z:\\a", u"\\\\?\\z:\\a"},
                        {u"\\\\server\\share", u"\\\\?\\UNC\\server\\share"},
                        {u"\\\\server\\share\\deep\\clip.mov", u"\\\\?\\UNC\\server\\share\\deep\\clip.mov"},
                        // Already in the form, or a device: unchanged.
                        {u"\\\\?\\C:\\media", u"\\\\?\\C:\\media"},
                        {u"\\\\?\\UNC\\server\\share", u"\\\\?\\UNC\\server\\share"},
                        {u"\\\\.\\COM1", u"\\\\.\\COM1"},
                        {u"\\??\\C:\\media", u"\\??\\C:\\media"},
                        // Not full, or not in backslashes: only the system can make these full.
                        {u"", u""},
                        {u"media\\clip.mov", u"media\\clip.mov"},
                        {u"C:media", u"C:media"},
                        {u"C:", u"C:"},
                        {u"\\media", u"\\media"},
                        {u"\\\\\\x", u"\\\\\\x"},
                        {u"C:/media", u"C:/media"},
                        {u"1:\\media", u"1:\\media"},
                    });
}

#ifdef _WIN32
std::u16string CurrentFolder() {
  wchar_t buffer[32768];
  const DWORD length = GetCurrentDirectoryW(32768, buffer);
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), length);
}

TEST(ApiPath, MakesThePathFullAsTheSystemDoes) {
  const std::u16string current = CurrentFolder();
  const std::u16string here = platform::ExtendedLengthForm(current.back() == u'\\' ? current : current + u"\\");
  ExpectConversions(platform::ApiPath, {
                                           {u"C:/media/./a/../clip.mov", u"\\\\?\\C:\\media\\clip.mov"},
                                           {u"C:\\media\\\\clip.mov", u"\\\\?\\C:\\media\\clip.mov"},
                                           {u"C:\\media\\clip.mov. ", u"\\\\?\\C:\\media\\clip.mov"},
                                           {u"//server/share/x", u"\\\\?\\UNC\\server\\share\\x"},
                                           {u"\\\\?\\C:\\media\\x", u"\\\\?\\C:\\media\\x"},
                                           {u"clip.mov", here + u"clip.mov"},
                                           {u"", u""},
                                       });
}

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// A source folder over 300 characters deep holding one 5-byte clip. Made and
// removed with the long form written out, so the setup does not rely on what
// the tests check.
class DeepFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    deep = U(tmp.path());
    std::u16string longForm = platform::ExtendedLengthForm(deep);
    for (int i = 0; deep.size() < 300; ++i) {
      const std::u16string name = u"\\folder-of-a-media-project-" + platform::FromUtf8(std::to_string(i));
      deep += name;
      longForm += name;
      ASSERT_TRUE(CreateDirectoryW(W(longForm), nullptr));
      created.push_back(longForm);
    }
    clip = deep + u"\\clip.mov";
    HANDLE h = CreateFileW(W(platform::ExtendedLengthForm(clip)), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, "clip!", 5, &written, nullptr);
    CloseHandle(h);
  }
  void TearDown() override {
    DeleteFileW(W(platform::ExtendedLengthForm(clip)));
    for (auto it = created.rbegin(); it != created.rend(); ++it) RemoveDirectoryW(W(*it));
  }

  TempDir tmp;
  std::u16string deep, clip;
  std::vector<std::u16string> created;
};

TEST_F(DeepFolder, FileCallsWorkPast260Characters) {
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_TRUE(FileExists(clip));
  EXPECT_FALSE(FileExists(deep + u"\\missing.mov"));
  EXPECT_EQ(platform::DirectoryEntryError(deep), 0);
  EXPECT_EQ(FolderSize(deep, false), 5);
  EXPECT_EQ(FolderSize(U(tmp.path()), true), 5);
  EXPECT_TRUE(ForceDirectories(deep + u"\\new\\sub"));
  EXPECT_TRUE(DirectoryExists(deep + u"\\new\\sub"));
  RemoveDirectoryW(W(platform::ExtendedLengthForm(deep + u"\\new\\sub")));
  RemoveDirectoryW(W(platform::ExtendedLengthForm(deep + u"\\new")));
}

TEST_F(DeepFolder, HotFolderWatchesPast260Characters) {
  IsMainThread();
  std::vector<std::u16string> got;
  TFolderMon mon;
  mon.SetFolder(deep);
  mon.SetMonitoredChanges({ctFileName});
  mon.SetOnFolderChange([&](TFolderMon*, TFolderItemInfo item) { got.push_back(item.Name); });
  mon.Activate();
  const std::u16string second = platform::ExtendedLengthForm(deep + u"\\second.mov");
  HANDLE h = CreateFileW(W(second), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  for (int i = 0; i < 500 && got.empty(); ++i) CheckSynchronize(10);
  mon.Deactivate();
  DeleteFileW(W(second));
  ASSERT_FALSE(got.empty()) << "no change reported in the deep folder";
  EXPECT_EQ(Utf8(got.front()), "second.mov");
}
#endif

}  // namespace
