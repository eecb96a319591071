#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "funcoes/exceptions.h"
#include "funcoes/funcoes.h"
#include "isolated_settings.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using testsupport::IsolatedSettings;
namespace fs = std::filesystem;

namespace {

class SettingsStore : public ::testing::Test {
 protected:
  IsolatedSettings store;
};

std::string MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(nothing raised)";
}

}  // namespace

TEST_F(SettingsStore, FirstReadCreatesTheKeyAndReturnsTheDefault) {
  ASSERT_FALSE(store.KeyExists());
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u"fallback"), u"fallback");
  EXPECT_TRUE(store.KeyExists());
}

TEST_F(SettingsStore, FirstDeleteAlsoCreatesTheKey) {
  EXPECT_EQ(SettingValue(u"excluir", u"nothing", u""), u"OK");
  EXPECT_TRUE(store.KeyExists());
}

TEST_F(SettingsStore, WriteThenReadAndAnEmptyStringIsNotMissing) {
  EXPECT_EQ(SettingValue(u"escrever", u"storage_Origem", u"/media/in"), u"OK");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u"x"), u"/media/in");
  EXPECT_EQ(SettingValue(u"escrever", u"storage_Origem", u""), u"OK");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u"default"), u"");
}

TEST_F(SettingsStore, ValueNamesIgnoreLetterCase) {
  SettingValue(u"escrever", u"Storage_destino", u"one");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Destino", u""), u"one");
  SettingValue(u"escrever", u"storage_Destino", u"two");
  EXPECT_EQ(SettingValue(u"ler", u"Storage_destino", u""), u"two");
  SettingValue(u"excluir", u"STORAGE_DESTINO", u"");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Destino", u"gone"), u"gone");
}

TEST_F(SettingsStore, DeletingAMissingValueIsOK) {
  EXPECT_EQ(SettingValue(u"excluir", u"never-written", u""), u"OK");
  SettingValue(u"escrever", u"kept", u"v");
  EXPECT_EQ(SettingValue(u"excluir", u"never-written", u""), u"OK");
  EXPECT_EQ(SettingValue(u"ler", u"kept", u""), u"v");
}

TEST_F(SettingsStore, AnOperationWordInAnotherCaseTouchesNothing) {
  SettingValue(u"escrever", u"present", u"before");
  for (const std::u16string word : {u"LER", u"Ler", u"ESCREVER", u"Escrever", u"EXCLUIR", u"", u"read"}) {
    SCOPED_TRACE(std::string(word.begin(), word.end()));
    EXPECT_NE(SettingValue(word, u"present", u"after"), u"before");
    EXPECT_EQ(SettingValue(u"ler", u"present", u""), u"before");
    SettingValue(word, u"absent", u"after");
    EXPECT_EQ(SettingValue(u"ler", u"absent", u"missing"), u"missing");
  }
}

TEST(SettingAsBoolean, ReadsTheHotFolderChoice) {
  struct Case {
    std::u16string text;
    bool expected;
  };
  const std::vector<Case> cases = {
      {u"-1", true}, {u"0", false}, {u"", true},     {u"7", true},   {u"true", true},
      {u"FALSE", false}, {u"False", false}, {u"abc", true}, {u"00", false}, {u" 0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_EQ(SettingAsBoolean(c.text, true), c.expected);
  }
}

TEST_F(SettingsStore, AMissingAutoCheckReadsAsTicked) {
  EXPECT_TRUE(SettingAsBoolean(SettingValue(u"ler", u"AutoCheck", u""), true));
  SettingValue(u"escrever", u"AutoCheck", u"0");
  EXPECT_FALSE(SettingAsBoolean(SettingValue(u"ler", u"AutoCheck", u""), true));
}

TEST_F(SettingsStore, AValueOfAnotherTypeIsRefused) {
  store.PlantNumber("AutoCheck");
  EXPECT_EQ(MessageOf([] { SettingValue(u"ler", u"autocheck", u""); }), "Invalid data type for 'autocheck'");
  // Other values stay readable and writable.
  EXPECT_EQ(SettingValue(u"escrever", u"storage_Origem", u"/a"), u"OK");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u""), u"/a");
}

#ifdef _WIN32

TEST_F(SettingsStore, ARefusedWriteNamesTheValue) {
  GTEST_SKIP() << "Wine grants every write to the current user's hive, so a refusal cannot be provoked here";
}

#else

TEST_F(SettingsStore, ARefusedWriteNamesTheValue) {
  // Each way the system can refuse: the folder cannot be made, the file's
  // place is taken by a folder, the folder is read-only (not for root).
  testsupport::TempDir elsewhere;
  testsupport::WriteFile(elsewhere / "plainfile", "x");
  setenv("XDG_CONFIG_HOME", (elsewhere / "plainfile" / "sub").c_str(), 1);
  EXPECT_EQ(MessageOf([] { SettingValue(u"escrever", u"storage_Origem", u"/a"); }),
            "Failed to set data for 'storage_Origem'");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u"dflt"), u"dflt");

  setenv("XDG_CONFIG_HOME", elsewhere.path().c_str(), 1);
  fs::create_directories(elsewhere / "Corvalen" / "TARNVEL.reg");
  EXPECT_EQ(MessageOf([] { SettingValue(u"escrever", u"AutoCheck", u"-1"); }), "Failed to set data for 'AutoCheck'");

  if (geteuid() != 0) {
    testsupport::TempDir ro;
    setenv("XDG_CONFIG_HOME", ro.path().c_str(), 1);
    SettingValue(u"ler", u"x", u"");  // creates the file
    fs::permissions(ro / "Corvalen", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(MessageOf([] { SettingValue(u"escrever", u"x", u"1"); }), "Failed to set data for 'x'");
  }
}

TEST_F(SettingsStore, AnUnreadableFileIsNeverOverwritten) {
  const std::string garbage = "this is not a registry file\n\"a\"=\"b\"\n";
  testsupport::WriteFile(store.file(), garbage);
  EXPECT_EQ(MessageOf([] { SettingValue(u"escrever", u"storage_Origem", u"/x"); }),
            "Failed to set data for 'storage_Origem'");
  EXPECT_EQ(MessageOf([] { SettingValue(u"ler", u"storage_Origem", u""); }),
            "Failed to get data for 'storage_Origem'");
  EXPECT_EQ(SettingValue(u"excluir", u"a", u""), u"OK");
  EXPECT_EQ(testsupport::ReadFile(store.file()), garbage);
}

TEST_F(SettingsStore, TheFileIsTheUsersAlone) {
  SettingValue(u"escrever", u"storage_Origem", u"/a");
  struct stat st {};
  ASSERT_EQ(stat(store.file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(testsupport::ReadFile(store.file()).rfind("Windows Registry Editor Version 5.00\n\n"
                                                      "[HKEY_CURRENT_USER\\Software\\Corvalen\\TARNVEL]\n",
                                                      0),
            0u);
}

TEST_F(SettingsStore, AwkwardValuesRoundTrip) {
  const std::vector<std::u16string> values = {
      u"with \"quotes\"",
      u"C:\\back\\slashes\\",
      u"a=b",
      u"]\n[HKEY_CURRENT_USER\\Other]",
      u"line\nbreak\"\n\"AutoCheck\"=\"0",
      u"tab\there\r\n",
      u"São Paulo – clipes 日本 🎬",
      u"/" + std::u16string(999, u'p'),
      u"",
  };
  for (const auto& v : values) {
    SettingValue(u"escrever", u"storage_Origem", v);
    EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u"?"), v);
  }
  // Nothing written through a value may be read back as another value.
  EXPECT_EQ(SettingValue(u"ler", u"AutoCheck", u"missing"), u"missing");
  // A name that the format cannot hold on one line is refused, not mangled.
  EXPECT_EQ(MessageOf([] { SettingValue(u"escrever", u"a\nb", u"v"); }), "Failed to set data for 'a\nb'");
}

TEST_F(SettingsStore, TwoWritersAtOnceLoseNothing) {
  SettingValue(u"ler", u"x", u"");
  auto writer = [](const char16_t* name) {
    for (int i = 0; i < 200; ++i) {
      const std::string n = std::to_string(i);
      SettingValue(u"escrever", name, std::u16string(n.begin(), n.end()));
    }
  };
  std::vector<pid_t> children;
  for (const char16_t* name : {u"first", u"second"}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        writer(name);
      } catch (...) {
        _exit(1);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(SettingValue(u"ler", u"first", u""), u"199");
  EXPECT_EQ(SettingValue(u"ler", u"second", u""), u"199");
}

#endif

#ifdef _WIN32
// The tests work on a scratch key: the user's own settings survive them.
TEST(IsolatedSettingsOnWindows, TheUsersOwnSettingsAreNeverTouched) {
  const wchar_t* const path = L"Software\\Corvalen\\TARNVEL";
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  // A value of this test's own, standing for the user's settings.
  const wchar_t mine[] = L"C:\\my clips";
  RegSetValueExW(key, L"tarnvel_test_sentinel", 0, REG_SZ, reinterpret_cast<const BYTE*>(mine), sizeof mine);
  {
    IsolatedSettings store;
    EXPECT_FALSE(store.KeyExists());
    EXPECT_EQ(SettingValue(u"ler", u"tarnvel_test_sentinel", u"none"), u"none");
    EXPECT_EQ(SettingValue(u"escrever", u"tarnvel_test_sentinel", u"C:\\test"), u"OK");
    EXPECT_EQ(SettingValue(u"excluir", u"tarnvel_test_sentinel", u""), u"OK");
  }
  wchar_t value[64] = {};
  DWORD size = sizeof value;
  EXPECT_EQ(RegQueryValueExW(key, L"tarnvel_test_sentinel", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(value), mine);
  // Leave the machine as it was.
  RegDeleteValueW(key, L"tarnvel_test_sentinel");
  RegCloseKey(key);
  if (disposition == REG_CREATED_NEW_KEY) RegDeleteKeyW(HKEY_CURRENT_USER, path);
}
#endif
