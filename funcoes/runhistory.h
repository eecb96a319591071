// The run history: one plain-text record per mirror run, appended to a log
// in the user's state folder, and the copy program's closing summary that
// gives a record its counts.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "funcoes/funcoes.h"
#include "platform/process.h"

// The counts of the copy program's closing summary: the table under the
// header "Total Copied Skipped Mismatch FAILED Extras", whose first three rows
// are folders, files and bytes ("Dirs :", "Files :", "Bytes :" in English; the
// row names are read by position, so a translated robocopy.exe reads the
// same). Byte figures that robocopy.exe writes with a unit ("1.5 m") count
// in that unit, so they are approximate.
class TMirrorSummary {
 public:
  struct TRow {
    int64_t Total = 0, Copied = 0, Skipped = 0, Mismatch = 0, Failed = 0, Extras = 0;
  };
  // Takes one line of the copy program's output, without its line break.
  void Line(std::string_view line);
  // Whether the three rows were read.
  bool Complete() const { return FRows.size() >= 3; }
  const TRow& Dirs() const { return FRows[0]; }
  const TRow& Files() const { return FRows[1]; }
  const TRow& Bytes() const { return FRows[2]; }

 private:
  std::vector<TRow> FRows;
};

struct TRunRecord {
  std::chrono::system_clock::time_point Start;
  bool HotFolder = false;  // started by the hot folder, else by "Sincronizar"
  WideString Source, Destination;
  std::chrono::milliseconds Duration{0};
  platform::ChildEnd End;
  bool Stopped = false;                   // the user stopped it
  bool Purges = true;                     // its line deletes extras (no /XX): else none are deleted
  std::optional<TMirrorSummary> Summary;  // none when the program wrote none
  int64_t FailureLines = 0;               // lines naming a failure, kept or not
  std::vector<WideString> Failures;       // the first of them
};

// The record as UTF-8 text: a first line with the start (local time) and
// what started it, then one indented "name: value" line per fact and the
// failure lines, and a blank line that ends the block.
std::string FormatRunRecord(const TRunRecord& record);

// The log's size limit: a record that would take the log past it first moves
// the log to "<name>.1" (replacing an older one).
constexpr uint64_t RunLogLimit = 10 * 1024 * 1024;

// Appends text to the log at path, creating its folder; rotates first as
// RunLogLimit says. Never throws: false when anything failed, and the run
// that wanted the record goes on without it.
bool AppendRunRecord(const std::filesystem::path& log, const std::string& text, uint64_t limit = RunLogLimit);
