#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "funcoes/exceptions.h"
#include "funcoes/funcoes.h"
#include "isolated_settings.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "unprivileged.h"
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
      {u"-1", true},
      {u"0", false},
      {u"", true},
      {u"7", true},
      {u"true", true},
      {u"FALSE", false},
      {u"False", false},
      {u"abc", true},
      {u"00", false},
      {u" 0", false},
      // The extremes of 64 bits and beyond: read without overflow.
      {u"-9223372036854775808", true},
      {u"9223372036854775807", true},
      {u"-99999999999999999999", true},
      {u"-0", false},
      {u"$0", false},
      {u"-0x8000000000000000", true},
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
  // A key that may be read but not written, as one locked by a policy.
  SettingValue(u"escrever", u"storage_Origem", u"C:\\a");
  store.Break();
  EXPECT_EQ(MessageOf([] { SettingValue(u"escrever", u"storage_Origem", u"C:\\b"); }),
            "Failed to set data for 'storage_Origem'");
  EXPECT_TRUE(store.Mend());
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u""), u"C:\\a");
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

  testsupport::TempDir ro;
  setenv("XDG_CONFIG_HOME", ro.path().c_str(), 1);
  SettingValue(u"ler", u"x", u"");  // creates the file
  for (const fs::path& p : {ro.path(), ro / "Corvalen", ro / "Corvalen" / "TARNVEL.reg"})
    testsupport::ScopedUnprivileged::Give(p);
  fs::permissions(ro / "Corvalen", fs::perms::owner_read | fs::perms::owner_exec);
  std::string message;
  {
    testsupport::ScopedUnprivileged user;
    ASSERT_TRUE(user.Active()) << "root could not take an ordinary user's ids";
    message = MessageOf([] { SettingValue(u"escrever", u"x", u"1"); });
  }
  EXPECT_EQ(message, "Failed to set data for 'x'");
}

// The file is there but may not be read (or reading it fails): neither a read
// nor a write may take it for an empty key, and nothing replaces it.
TEST_F(SettingsStore, AFileThatCannotBeReadIsNeverReplaced) {
  SettingValue(u"escrever", u"storage_Origem", u"/media/card");
  SettingValue(u"escrever", u"AutoCheck", u"0");
  const std::string before = testsupport::ReadFile(store.file());
  // The user owns the folder, so a replacement would succeed; only the file is closed.
  testsupport::ScopedUnprivileged::Give(store.folder().parent_path());
  testsupport::ScopedUnprivileged::Give(store.folder());
  fs::permissions(store.file(), fs::perms::none);
  std::string read, write, removal;
  {
    testsupport::ScopedUnprivileged user;
    ASSERT_TRUE(user.Active()) << "root could not take an ordinary user's ids";
    read = MessageOf([] { SettingValue(u"ler", u"storage_Origem", u"default"); });
    write = MessageOf([] { SettingValue(u"escrever", u"storage_Origem", u"/elsewhere"); });
    removal = SettingValue(u"excluir", u"AutoCheck", u"") == u"OK" ? "OK" : "not OK";
  }
  fs::permissions(store.file(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(read, "Failed to get data for 'storage_Origem'");
  EXPECT_EQ(write, "Failed to set data for 'storage_Origem'");
  EXPECT_EQ(removal, "OK");
  EXPECT_EQ(testsupport::ReadFile(store.file()), before);
}

// Two lines whose names differ only in letter case (a hand-edited file): a
// write lands where a read looks, and leaves one line of that name.
TEST_F(SettingsStore, NamesDifferingOnlyInCaseAreOneValue) {
  const std::string key = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Corvalen\\TARNVEL]\n";
  testsupport::WriteFile(store.file(), key +
                                           "\"storage_Origem\"=\"/first\"\n\"AutoCheck\"=\"0\"\n"
                                           "\"STORAGE_ORIGEM\"=\"/second\"\n");
  EXPECT_EQ(SettingValue(u"ler", u"STORAGE_ORIGEM", u""), u"/first");
  SettingValue(u"escrever", u"Storage_origem", u"/third");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u""), u"/third");
  EXPECT_EQ(testsupport::ReadFile(store.file()), key + "\"storage_Origem\"=\"/third\"\n\"AutoCheck\"=\"0\"\n");
  SettingValue(u"excluir", u"storage_origem", u"");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u"gone"), u"gone");
}

// A NUL would cut a path short wherever it is used: such a value is neither
// stored nor handed out. Overlong forms in the file decode to U+FFFD, not NUL.
TEST_F(SettingsStore, AValueHoldingANulIsRefused) {
  SettingValue(u"escrever", u"storage_Origem", u"/media/card");
  using namespace std::string_literals;
  EXPECT_EQ(MessageOf([] { SettingValue(u"escrever", u"storage_Origem", u"/media\0/other"s); }),
            "Failed to set data for 'storage_Origem'");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u""), u"/media/card");

  const std::string key = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Corvalen\\TARNVEL]\n";
  testsupport::WriteFile(store.file(), key + "\"storage_Origem\"=\"/media\0/other\"\n"s);
  EXPECT_EQ(MessageOf([] { SettingValue(u"ler", u"storage_Origem", u""); }), "Failed to get data for 'storage_Origem'");
  testsupport::WriteFile(store.file(), key + "\"storage_Origem\"=\"/media\xC0\x80/other\"\n");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u""), u"/media\uFFFD\uFFFD/other");
}

// Another program holds the lock (a stuck editor, a dead network share): the
// call gives up with the store's error instead of freezing the window.
TEST_F(SettingsStore, ALockHeldElsewhereFailsTheCall) {
  SettingValue(u"escrever", u"storage_Origem", u"/media/card");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const int fd = open(store.folder().c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(1);
    if (write(ready[1], "x", 1) != 1) _exit(1);
    sleep(12);  // longer than any reasonable wait; killed below
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  const std::string read = MessageOf([] { SettingValue(u"ler", u"storage_Origem", u""); });
  const std::string write = MessageOf([] { SettingValue(u"escrever", u"storage_Origem", u"/x"); });
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(read, "Failed to get data for 'storage_Origem'");
  EXPECT_EQ(write, "Failed to set data for 'storage_Origem'");
  // Once the lock is free, the store works again and lost nothing.
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u""), u"/media/card");
}

// The registry editor on Windows saves UTF-16LE with a byte-order mark and
// CRLF line ends. Such a file reads like any other, and a rewrite keeps its
// encoding, its line ends and every line the program does not own.
TEST_F(SettingsStore, AFileSavedByTheRegistryEditorOnWindows) {
  auto utf16 = [](const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
  };
  const std::u16string head =
      u"Windows Registry Editor Version 5.00\r\n\r\n; exportado do PC do estúdio\r\n"
      u"[HKEY_CURRENT_USER\\Software\\Corvalen\\TARNVEL]\r\n";
  const std::u16string tail =
      u"\r\n[HKEY_CURRENT_USER\\Software\\Corvalen\\TARNVEL\\Janela]\r\n\"Largura\"=\"967\"\r\n\r\n";
  testsupport::WriteFile(store.file(), utf16(head +
                                             u"\"storage_Origem\"=\"D:\\\\Cartões\\\\A001\"\r\n"
                                             u"\"Outro\"=dword:00000001\r\n" +
                                             tail));
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u""), u"D:\\Cartões\\A001");
  EXPECT_EQ(SettingValue(u"ler", u"Largura", u"not ours"), u"not ours");

  SettingValue(u"escrever", u"storage_Origem", u"/media/cartão");
  SettingValue(u"escrever", u"storage_Destino", u"/mnt/backup");
  EXPECT_EQ(testsupport::ReadFile(store.file()),
            utf16(head +
                  u"\"storage_Origem\"=\"/media/cartão\"\r\n\"Outro\"=dword:00000001\r\n"
                  u"\"storage_Destino\"=\"/mnt/backup\"\r\n" +
                  tail));
  EXPECT_EQ(SettingValue(u"ler", u"storage_Origem", u""), u"/media/cartão");
  EXPECT_EQ(SettingValue(u"ler", u"storage_Destino", u""), u"/mnt/backup");
}

TEST_F(SettingsStore, AnUnreadableFileIsNeverOverwritten) {
  const std::string garbage = "this is not a registry file\n\"a\"=\"b\"\n";
  testsupport::WriteFile(store.file(), garbage);
  EXPECT_EQ(MessageOf([] { SettingValue(u"escrever", u"storage_Origem", u"/x"); }),
            "Failed to set data for 'storage_Origem'");
  EXPECT_EQ(MessageOf([] { SettingValue(u"ler", u"storage_Origem", u""); }), "Failed to get data for 'storage_Origem'");
  EXPECT_EQ(SettingValue(u"excluir", u"a", u""), u"OK");
  EXPECT_EQ(testsupport::ReadFile(store.file()), garbage);
}

TEST_F(SettingsStore, TheFileIsTheUsersAlone) {
  SettingValue(u"escrever", u"storage_Origem", u"/a");
  struct stat st {};
  ASSERT_EQ(stat(store.file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(testsupport::ReadFile(store.file())
                .rfind("Windows Registry Editor Version 5.00\n\n"
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
