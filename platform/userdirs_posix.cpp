#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/text.h"
#include "platform/userdirs.h"

namespace platform {

namespace {

// A value of user-dirs.dirs: "$HOME/rest" or an absolute path, in double
// quotes, with backslash escapes. Empty for anything else.
std::string ExpandUserDir(const std::string& quoted, const std::string& home) {
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return {};
  std::string value;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    if (quoted[i] == '\\' && i + 2 < quoted.size()) ++i;
    value += quoted[i];
  }
  if (value.rfind("$HOME", 0) == 0) {
    const std::string rest = value.substr(5);
    if (!rest.empty() && rest[0] != '/') return {};
    value = home + rest;
  } else if (value.empty() || value[0] != '/') {
    return {};
  }
  while (value.size() > 1 && value.back() == '/') value.pop_back();
  // The home folder itself is how the file says "no such folder".
  return value == home ? std::string() : value;
}

}  // namespace

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  const passwd* pw = getpwuid(getuid());
  return pw && pw->pw_dir ? pw->pw_dir : "/";
}

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  return HomeFolder() + "/.config";
}

std::u16string VideosFolder() {
  std::string home = HomeFolder();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  std::string folder;
  std::ifstream dirs(ConfigHome() + "/user-dirs.dirs");
  for (std::string line; std::getline(dirs, line);)
    if (line.rfind("XDG_VIDEOS_DIR=", 0) == 0) folder = ExpandUserDir(line.substr(15), home);
  if (folder.empty())
    if (const char* env = std::getenv("XDG_VIDEOS_DIR")) folder = ExpandUserDir('"' + std::string(env) + '"', home);
  if (folder.empty()) folder = (home == "/" ? "" : home) + "/Videos";
  return FromUtf8(folder);
}

bool OwnedByAnotherUser(const std::u16string& path) {
  const auto native = PathToUtf8(path);
  struct stat st {};
  return native && stat(native->c_str(), &st) == 0 && st.st_uid != geteuid();
}

}  // namespace platform
