// Where the run history lives and the two things the window does with it.
#pragma once

#include <QString>

#include "funcoes/runhistory.h"

// The folder of the program's own records: Linux
// ${XDG_STATE_HOME:-~/.local/state}/Corvalen; Windows %LOCALAPPDATA%\Corvalen.
QString StateFolder();
// TARNVEL.log in the state folder.
QString RunLogPath();
// Appends the run's record; a log that cannot be written is passed over.
void RecordRun(const TRunRecord& record);
// Opens the log in the system's viewer for text; false when it could not.
bool OpenRunLog();
