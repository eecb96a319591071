#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "funcoes/funcoes.h"
#include "platform/registry.h"
#include "platform/text.h"

WideString SettingValue(const WideString& operation, const WideString& name, const WideString& value) {
  // The key is opened (and created) on every call, whatever the operation word.
  platform::SettingsKey key;
  if (operation == u"ler") {
    auto stored = key.Read(name);
    return stored ? *stored : value;
  }
  if (operation == u"escrever") {
    key.Write(name, value);
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
// with optional blanks before it and a sign.
bool ParseInteger(const std::string& text, long long& out) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  for (size_t k = i; k < text.size(); ++k)
    if (base == 10 ? !std::isdigit(static_cast<unsigned char>(text[k]))
                   : !std::isxdigit(static_cast<unsigned char>(text[k])))
      return false;
  errno = 0;
  const unsigned long long magnitude = std::strtoull(text.c_str() + i, nullptr, base);
  if (errno == ERANGE) {
    out = 1;  // too large for 64 bits, but certainly not zero
    return true;
  }
  out = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  return true;
}

}  // namespace

bool SettingAsBoolean(const WideString& text, bool defaultValue) {
  long long number = 0;
  if (ParseInteger(platform::ToUtf8(text), number)) return number != 0;
  if (platform::SameTextAscii(text, u"True")) return true;
  if (platform::SameTextAscii(text, u"False")) return false;
  return defaultValue;
}
