// The mirror command line: how it is built from the two folders, and how a
// command line splits into arguments by the Windows rules (the same rules give
// the argv of the child on every system).
#pragma once

#include <vector>

#include "funcoes/funcoes.h"

// "robocopy <source> <destination>" and the fixed option tail; each folder gets
// PathDelim appended unless it already ends in it. A folder that holds a blank,
// a tab or a double quote is quoted (and escaped) so that it still reaches the
// child as exactly one argument, delimiter included; any other folder is
// written as it is. preserve adds "/XX": files only in the destination are kept.
WideString MirrorCommandLine(const WideString& source, const WideString& destination, bool preserve);

// Whether the command line above leaves an item of the source out, by its
// path relative to the source: a file that is hidden or a program (*.exe), or
// anything inside a folder it skips, at any depth. Names compare without
// regard to ASCII case, as the mirror tool compares them.
bool MirrorLeavesOut(const WideString& relativePath, bool isFile, bool hidden);

// The arguments of a command line by the rules of CommandLineToArgvW: the first
// one (the program) ends at the next blank or tab, or is taken up to the next
// double quote when it begins with one; then arguments are separated by blanks
// and tabs outside quotes, 2n backslashes before a quote give n backslashes and
// the quote opens or closes quoting, 2n+1 give n and a literal quote, other
// backslashes are literal, and a pair of quotes inside quoting gives a literal
// quote and ends the quoting. An empty line gives no argument.
std::vector<WideString> SplitCommandLine(const WideString& line);

// Whether a mirror command line deletes what only the destination holds: it
// asks for /MIR or /PURGE (ASCII letters in any case) and not for /XX.
bool PurgesExtras(const WideString& line);

// The line without its leading and trailing characters of code 32 or less.
WideString TrimControl(const WideString& line);
