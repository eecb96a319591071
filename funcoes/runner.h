// What the mirror runner needs below the window: finding and starting the
// mirror program, and the check that two folders do not overlap.
#pragma once

#include <cstdint>
#include <vector>

#include "funcoes/funcoes.h"
#include "platform/process.h"

// The folders searched for a program started by name, in order: the running
// program's own folder, the system folder (Windows), then the full paths on
// PATH. Never the current folder: the program makes media folders current, and
// a file dropped there must not be run.
std::vector<WideString> ProgramSearchFolders();

// The full path of the program called name (".exe" added on Windows when the
// name has none) in the first of folders that holds it; empty when none does.
WideString FindProgram(const WideString& name, const std::vector<WideString>& folders);

// Starts the child for a mirror command line (as MirrorCommandLine builds it):
// strips the line of leading and trailing characters of code 32 or less, finds
// the program its first argument names in ProgramSearchFolders() and starts it
// hidden with the stripped line, its failure output going to output when given.
// Raises EOSError code 2 (the system's text for a missing file) when the
// program is not found, or the system's error when the start fails. The caller
// waits on the result and closes it.
platform::ChildProcess StartMirror(const WideString& commandLine, platform::OutputSink output = {});

// The child of the mirror in progress, held by the runner while it waits on
// it; empty otherwise. Main thread only.
extern platform::ChildProcess* MirrorChild;

// Stops a running mirror ("Interromper Processo", or closing the main window
// during a run): marks the run as stopped and ends its child, the one process
// the program started for it; no other process is touched. Does nothing
// while no mirror runs, and does not wait: the runner sees the child end and
// finishes the run.
void StopMirror();

// Starts program (a full path) hidden with the command line, as
// platform::StartChild does. Raises EOSError with the system's code and text
// when the start fails.
platform::ChildProcess StartChild(const WideString& program, const WideString& commandLine,
                                  platform::OutputSink output = {});

// The gauge's percentage for a destination of destination bytes against a
// source of source bytes: destination / source * 100 to the nearest whole
// number, halves to the even one, held within 0..100. A source of 0 bytes
// gives 100 once the destination holds anything, 0 while it holds nothing.
int32_t MirrorPercentage(int64_t source, int64_t destination);

// True when the two folders, links followed and names compared as the file
// system compares them, are the same folder or one lies inside the other:
// mirroring between them would copy a tree into itself or purge the source.
// An empty path names no folder and overlaps nothing.
bool FoldersOverlap(const WideString& a, const WideString& b);
