// Gives each test an empty settings store of its own and, on POSIX, a home
// folder of its own, so that the folders a first start makes land there; the
// program's state folder (its run history) is the test's own as well.
#pragma once

#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tempdir.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h, which it needs
#include <sddl.h>
#endif

namespace testsupport {

class IsolatedSettings {
 public:
  IsolatedSettings() {
#ifdef _WIN32
    // A scratch key of this process stands in for the user's hive, so the
    // user's own settings are never read, changed or deleted.
    scratchName_ = L"Software\\Corvalen\\TARNVEL-tests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(++Count());
    // One left by a test process that was ended, whose id this one got again.
    RegDeleteTreeW(HKEY_CURRENT_USER, scratchName_.c_str());
    RegCreateKeyExW(HKEY_CURRENT_USER, scratchName_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch_,
                    nullptr);
    // Stores nest (the test program's own, then each test's): each one puts
    // back the one it replaced, so the program never meets the user's hive.
    previous_ = Overriding();
    RegOverridePredefKey(HKEY_CURRENT_USER, scratch_);
    Overriding() = scratch_;
    // The run history, and what else the program keeps in its state folder.
    // Through the C runtime, whose copy of the environment Qt reads.
    if (const wchar_t* was = _wgetenv(L"LOCALAPPDATA")) localAppData_ = was;
    _wputenv((L"LOCALAPPDATA=" + dir_.path().wstring()).c_str());
#else
    Swap("XDG_CONFIG_HOME", dir_.path(), config_);
    fs::create_directories(home());
    Swap("HOME", home(), home_);
    Swap("XDG_VIDEOS_DIR", {}, videos_);
    // The run history goes under the test's home too.
    Swap("XDG_STATE_HOME", {}, state_);
#endif
  }
  ~IsolatedSettings() {
#ifdef _WIN32
    RegOverridePredefKey(HKEY_CURRENT_USER, previous_);
    Overriding() = previous_;
    RegCloseKey(scratch_);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratchName_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Corvalen\\TARNVEL-tests");  // once no other test uses it
    _wputenv((L"LOCALAPPDATA=" + localAppData_.value_or(L"")).c_str());
#else
    Restore("XDG_CONFIG_HOME", config_);
    Restore("HOME", home_);
    Restore("XDG_VIDEOS_DIR", videos_);
    Restore("XDG_STATE_HOME", state_);
#endif
  }

#ifdef _WIN32
  IsolatedSettings(const IsolatedSettings&) = delete;
  IsolatedSettings& operator=(const IsolatedSettings&) = delete;
  static bool KeyExists() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Corvalen\\TARNVEL", 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  }
  // Stores a value that is not a string.
  static void PlantNumber(const char* asciiName) {
    const std::wstring name(asciiName, asciiName + std::char_traits<char>::length(asciiName));
    HKEY key;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Corvalen\\TARNVEL", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    DWORD one = 1;
    RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
  }
  // The key's values, one "name=data" line each, for comparing the store
  // before and after.
  static std::string Snapshot() {
    std::string lines;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Corvalen\\TARNVEL", 0, KEY_READ, &key) != ERROR_SUCCESS)
      return lines;
    wchar_t name[16384];
    BYTE data[65536];
    for (DWORD i = 0;; ++i) {
      DWORD nameLength = std::size(name), size = sizeof data, type = 0;
      if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
      lines += std::filesystem::path(std::wstring(name, nameLength)).string() + "=" + std::to_string(type) + ":" +
               std::string(reinterpret_cast<const char*>(data), size) + "\n";
    }
    RegCloseKey(key);
    return lines;
  }
  // Until Mend(), the key may be read but not opened for writing, as a key
  // locked by a policy is; Mend() tells whether the key was left as it was.
  void Break() {
    saved_ = Snapshot();
    HKEY key;
    RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Corvalen\\TARNVEL", 0, READ_CONTROL | WRITE_DAC, &key);
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    acl_.resize(size);
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, acl_.data(), &size);
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly, nullptr);
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly);
    LocalFree(readOnly);
    RegCloseKey(key);
  }
  bool Mend() {
    HKEY key;
    RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Corvalen\\TARNVEL", 0, WRITE_DAC, &key);
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, acl_.data());
    RegCloseKey(key);
    return Snapshot() == saved_;
  }
#else
  fs::path home() const { return dir_.path() / "home"; }
  fs::path folder() const { return dir_.path() / "Corvalen"; }
  fs::path file() const { return folder() / "TARNVEL.reg"; }
  // The run history where the program writes it while this store is in place.
  fs::path history() const { return home() / ".local" / "state" / "Corvalen" / "TARNVEL.log"; }
  bool KeyExists() const { return fs::exists(file()); }
  std::string Snapshot() const { return ReadFile(file()); }
  // Until Mend(), the store is a file that is not a settings file: reads and
  // writes fail. Mend() tells whether the store was left as it was.
  void Break() {
    saved_ = Snapshot();
    WriteFile(file(), kBroken);
  }
  bool Mend() {
    const bool untouched = Snapshot() == kBroken;
    WriteFile(file(), saved_);
    return untouched;
  }
  void PlantNumber(const char* name) const {
    WriteFile(file(), std::string("Windows Registry Editor Version 5.00\n\n"
                                  "[HKEY_CURRENT_USER\\Software\\Corvalen\\TARNVEL]\n\"") +
                          name + "\"=dword:00000001\n");
  }
#endif

 private:
  std::string saved_;  // the store as it was before Break()
#ifdef _WIN32
  static int& Count() {
    static int count = 0;
    return count;
  }
  static HKEY& Overriding() {
    static HKEY key = nullptr;
    return key;
  }
  std::wstring scratchName_;
  HKEY previous_ = nullptr;  // the store in place before this one
  std::vector<BYTE> acl_;    // the key's own, while it is locked
  HKEY scratch_ = nullptr;
  TempDir dir_;
  std::optional<std::wstring> localAppData_;
#else
  // Sets (or, given an empty value, unsets) a variable, keeping its old value.
  static void Swap(const char* name, const fs::path& value, std::optional<std::string>& old) {
    if (const char* was = std::getenv(name)) old = was;
    if (value.empty())
      unsetenv(name);
    else
      setenv(name, value.c_str(), 1);
  }
  static void Restore(const char* name, const std::optional<std::string>& old) {
    if (old)
      setenv(name, old->c_str(), 1);
    else
      unsetenv(name);
  }
  static constexpr const char* kBroken = "not a settings file\n";
  TempDir dir_;
  std::optional<std::string> config_, home_, videos_, state_;
#endif
};

}  // namespace testsupport
