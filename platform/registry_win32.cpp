#include <windows.h>

#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/win32util.h"

namespace platform {

struct SettingsKey::Impl {
  HKEY key = nullptr;
};

SettingsKey::SettingsKey() : impl_(new Impl) {
  // The leading "\" is dropped as the registry wants a path relative to the hive.
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Corvalen\\TARNVEL", 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS)
    impl_->key = key;
}

SettingsKey::~SettingsKey() {
  if (impl_->key) RegCloseKey(impl_->key);
  delete impl_;
}

SettingsKey::Stored SettingsKey::Read(const std::u16string& name) {
  const Stored missing{ReadStatus::Missing, {}};
  if (!impl_->key) return missing;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(impl_->key, W(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return missing;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return {ReadStatus::InvalidType, {}};
  if (size == 0) return {ReadStatus::Found, {}};
  std::vector<char16_t> data(size / 2 + 1, u'\0');
  DWORD got = size;
  if (RegQueryValueExW(impl_->key, W(name), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got) !=
      ERROR_SUCCESS)
    return {ReadStatus::Failed, {}};
  if (type != REG_SZ && type != REG_EXPAND_SZ) return {ReadStatus::InvalidType, {}};
  data[got / 2] = u'\0';
  return {ReadStatus::Found, std::u16string(data.data())};  // cut at the first NUL
}

bool SettingsKey::Write(const std::u16string& name, const std::u16string& value) {
  const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(char16_t));
  return impl_->key && RegSetValueExW(impl_->key, W(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                      bytes) == ERROR_SUCCESS;
}

void SettingsKey::Delete(const std::u16string& name) {
  if (impl_->key) RegDeleteValueW(impl_->key, W(name));
}

}  // namespace platform
