// The per-user settings key "\Software\Corvalen\TARNVEL": the Windows registry,
// or on POSIX a file in the registry editor's text format.
#pragma once

#include <string>

namespace platform {

class SettingsKey {
 public:
  // Opens the key, creating it when missing. Failure is not reported here:
  // reads then find nothing and writes fail.
  SettingsKey();
  ~SettingsKey();
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  enum class ReadStatus { Found, Missing, InvalidType, Failed };
  struct Stored {
    ReadStatus status;
    std::u16string text;  // the value's string data when Found
  };
  Stored Read(const std::u16string& name);
  // False when refused.
  bool Write(const std::u16string& name, const std::u16string& value);
  // Whether a value existed is not reported; failures are ignored.
  void Delete(const std::u16string& name);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace platform
