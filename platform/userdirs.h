// The user's own folders on POSIX systems, where the program lives in a shared
// install folder and keeps nothing of the user's beside itself.
#pragma once

#include <string>

namespace platform {

// $HOME, else the home folder of the user's account.
std::string HomeFolder();
// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config.
std::string ConfigHome();
// Where the user keeps videos: XDG_VIDEOS_DIR as user-dirs.dirs sets it (or
// the environment does), else $HOME/Videos. Never the home folder itself.
std::u16string VideosFolder();
// Whether the path names an existing entry that belongs to another user.
bool OwnedByAnotherUser(const std::u16string& path);

}  // namespace platform
