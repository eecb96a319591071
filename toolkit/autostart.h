// Starting the program with the user's session: Linux an entry in
// ${XDG_CONFIG_HOME:-~/.config}/autostart, Windows the current user's Run key.
#pragma once

#include <QString>

// Whether the program starts with the session.
bool AutostartEnabled();
// Writes (or removes) the entry that starts program (a full path) with the
// session. False when it could not.
bool SetAutostart(bool enabled, const QString& program);
// The desktop entry written for program: a valid entry whatever characters
// the path holds.
QString AutostartEntry(const QString& program);
