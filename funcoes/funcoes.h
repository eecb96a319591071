// Free routines and shared globals of the program: the settings store, the
// folder operations and sizes, and the state that the windows share.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "funcoes/paths.h"

using WideString = std::u16string;

// Current source and destination folders, as the settings store returned them;
// an empty one names no folder.
extern WideString SourceRoot, DestinationRoot, AppFolder;
// Set while a mirror child process runs. Main thread only.
extern bool MirrorRunning;
// Set when the user ends the copy during a run ("Interromper Processo", or
// closing the main window); cleared by the runner at each start. Main thread only.
extern bool MirrorStopRequested;
// A hot-folder report that the running mirror may have missed asks for one
// more run after it; the run that starts next covers it. Main thread only.
extern bool MirrorPending;

// The stored values' names, spelt as stores already hold them: the destination's
// "Raiz" reads the folder it offers under its own spelling.
inline const WideString SourceValueName = u"storage_Origem";
inline const WideString DestinationValueName = u"storage_Destino";
inline const WideString DestinationPickedValueName = u"Storage_destino";
inline const WideString HotFolderValueName = u"AutoCheck";
// Where the disk holding each folder is mounted; empty for the system's disk.
inline const WideString SourceDiskValueName = u"storage_OrigemDisco";
inline const WideString DestinationDiskValueName = u"storage_DestinoDisco";

// One operation on one stored value: "ler" reads (value is the default),
// "escrever" writes, "excluir" deletes. Any other word touches nothing.
WideString SettingValue(const WideString& operation, const WideString& name, const WideString& value);

// A stored text read as a boolean: a number is true unless zero, then "True"
// and "False" in any letter case, anything else gives the default.
bool SettingAsBoolean(const WideString& text, bool defaultValue);

bool DirectoryExists(const WideString& path);
bool ForceDirectories(const WideString& path);
// An existing file; folders and links to folders do not count.
bool FileExists(const WideString& path);

// Bytes in the files under a folder, sub-folders too when recurse is set.
// Folders whose names begin with "." are not entered; a missing or unreadable
// folder counts 0. A link back to a folder being walked is not entered again.
int64_t FolderSize(const WideString& path, bool recurse);
// Whether a file lies anywhere under a folder; files and folders whose names
// begin with "." do not count (a card's hidden bookkeeping is no content).
// False for an empty, missing or unreadable folder or an empty path.
bool FolderHoldsFiles(const WideString& path);
