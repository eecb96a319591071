#include <cctype>
#include <string>

#include "funcoes/exceptions.h"
#include "funcoes/funcoes.h"
#include "platform/registry.h"
#include "platform/text.h"

WideString SettingValue(const WideString& operation, const WideString& name, const WideString& value) {
  // The key is opened (and created) on every call, whatever the operation word.
  platform::SettingsKey key;
  if (operation == u"ler") {
    const platform::SettingsKey::Stored stored = key.Read(name);
    switch (stored.status) {
      case platform::SettingsKey::ReadStatus::Found:
        return stored.text;
      case platform::SettingsKey::ReadStatus::Missing:
        return value;
      case platform::SettingsKey::ReadStatus::InvalidType:
        throw Exception(platform::FormatWithName("Invalid data type for '%s'", name));
      case platform::SettingsKey::ReadStatus::Failed:
        break;
    }
    throw Exception(platform::FormatWithName("Failed to get data for '%s'", name));
  }
  if (operation == u"escrever") {
    if (!key.Write(name, value)) throw Exception(platform::FormatWithName("Failed to set data for '%s'", name));
    return u"OK";
  }
  if (operation == u"excluir") {
    key.Delete(name);
    return u"OK";
  }
  return WideString();
}

namespace {

// A whole number in decimal, or in hexadecimal with a "$" or "0x" prefix,
// with optional blanks before it and a sign. Only whether it is zero matters,
// so the sign is checked and dropped: no magnitude is ever negated.
bool ParseNonZero(const std::string& text, bool& nonZero) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  nonZero = false;
  for (size_t k = i; k < text.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    if (base == 10 ? !std::isdigit(c) : !std::isxdigit(c)) return false;
    if (c != '0') nonZero = true;
  }
  return true;
}

}  // namespace

bool SettingAsBoolean(const WideString& text, bool defaultValue) {
  bool nonZero = false;
  if (ParseNonZero(platform::ToUtf8(text), nonZero)) return nonZero;
  if (platform::SameTextAscii(text, u"True")) return true;
  if (platform::SameTextAscii(text, u"False")) return false;
  return defaultValue;
}
