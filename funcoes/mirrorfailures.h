// What a mirror run tells the user when it did not finish its job: the lines
// of the copy program's output that name a failure, kept within a bound
// however much it writes, and the notice built from them and its exit.
//
// A failure line begins with the word ERROR, after the date and time that
// robocopy.exe puts before it. Two forms are read:
//   robocopy.exe:     "ERROR <code> (0x<hex>) <action> <path>", its reason on
//                     the next line (joined to it here with " : ");
//   the mirror tool:  "ERROR : <action> <path> : <reason>".
// A file in use is "ERROR 32 (0x00000020) ..." or "ERROR 33 (0x00000021) ..."
// (a sharing or lock violation) from robocopy.exe, and
// "ERROR : File In Use <path> : <reason>" from the mirror tool.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "funcoes/funcoes.h"
#include "platform/process.h"

class TMirrorFailures {
 public:
  struct Line {
    WideString text;
    bool inUse = false;
  };
  // The first lines of each kind kept; beyond them lines are only counted.
  static constexpr size_t LinesKept = 5;
  // A longer line is cut to this many bytes, its rest dropped.
  static constexpr size_t LineBytes = 2048;

  // Sees every line of the output, without its line break, as it is read.
  std::function<void(std::string_view)> OnLine;

  // Takes the next piece of the child's output.
  void Feed(std::string_view bytes);
  // Ends the output: a last line without a line break counts too.
  void Finish();

  // The kept lines in the order they came: the first LinesKept of each kind.
  const std::vector<Line>& Lines() const { return FLines; }
  int64_t Count(bool inUse) const { return inUse ? FInUse : FOthers; }

 private:
  void EndLine();
  void Keep(std::string text);

  std::string FCurrent;  // the line being read, at most LineBytes
  std::string FPending;  // a robocopy.exe failure line waiting for its reason
  std::vector<Line> FLines;
  int64_t FInUse = 0, FOthers = 0;
};

// "Sincronismo incompleto: ..." when the run failed: the copy program's exit
// code holds bit 8 (some files failed) or 16 (nothing could be done), or a
// signal ended it. Then a blank line and up to five failure lines, and "..."
// when there were more. Empty when the run succeeded, when the user stopped it
// (stopped), or, for a run the hot folder started, when its only failures are
// files in use: a later run copies them. A run started by the user names files
// in use with the other failures. An end the system could not tell shows
// nothing: nothing is known against the run.
WideString MirrorFailureNotice(const platform::ChildEnd& end, const TMirrorFailures& failures, bool stopped,
                               bool hotFolder);
