// The per-user settings key "\Software\Corvalen\TARNVEL": the Windows registry,
// or on POSIX a file in the registry editor's text format.
#pragma once

#include <optional>
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

  // The value's string data, or nothing when it does not exist. Raises
  // "Invalid data type for '%s'" / "Failed to get data for '%s'".
  std::optional<std::u16string> Read(const std::u16string& name);
  // Raises "Failed to set data for '%s'" when refused.
  void Write(const std::u16string& name, const std::u16string& value);
  // Whether a value existed is not reported; failures are ignored.
  void Delete(const std::u16string& name);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace platform
