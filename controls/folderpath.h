// Paths as the folder views show them.
#pragma once

#include <QString>

// How folder names compare: on POSIX another letter case is another folder.
#ifdef _WIN32
constexpr Qt::CaseSensitivity FolderNameCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity FolderNameCase = Qt::CaseSensitive;
#endif

// The full path of the folder that text names (absolute, or relative to the
// process's current folder) in the views' form: native delimiters, a root
// keeps its delimiter, any other folder has none. Raises EInOutError with the
// system's code when the folder cannot be entered.
QString EnterableFolder(const QString& text);

// The path in the views' form without asking the file system.
QString FolderForm(const QString& text);
