#include "funcoes/mirrorfailures.h"

namespace {

bool StartsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

// The line from its word ERROR on, or empty when it names no failure. Before
// the word only a date and a time may stand.
std::string_view FailureText(std::string_view line) {
  const size_t start = line.find_first_not_of("0123456789/:-. \t");
  if (start == std::string_view::npos) return {};
  const std::string_view text = line.substr(start);
  if (!StartsWith(text, "ERROR") || (text.size() > 5 && text[5] != ' ' && text[5] != ':')) return {};
  return text;
}

// robocopy.exe's numbered form, whose reason follows on the next line.
bool AwaitsReason(std::string_view text) {
  const size_t digits = text.find_first_not_of("0123456789", 6);
  return text.size() > 6 && digits != 6 && digits != std::string_view::npos && StartsWith(text.substr(digits), " (0x");
}

bool InUse(std::string_view text) {
  return StartsWith(text, "ERROR 32 (0x00000020)") || StartsWith(text, "ERROR 33 (0x00000021)") ||
         StartsWith(text, "ERROR : File In Use ");
}

}  // namespace

void TMirrorFailures::Feed(std::string_view bytes) {
  for (const char c : bytes) {
    if (c == '\n') {
      EndLine();
    } else if (c != '\r' && FCurrent.size() < LineBytes) {
      FCurrent += c;
    }
  }
}

void TMirrorFailures::Finish() {
  if (!FCurrent.empty()) EndLine();
  if (!FPending.empty()) Keep(std::move(FPending));
  FPending.clear();
}

void TMirrorFailures::EndLine() {
  std::string line = std::move(FCurrent);
  FCurrent.clear();
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
  if (OnLine) OnLine(line);
  const std::string_view failure = FailureText(line);
  if (failure.empty()) {
    const size_t start = line.find_first_not_of(" \t");
    if (!FPending.empty() && start != std::string::npos) {
      Keep(FPending + " : " + line.substr(start));
      FPending.clear();
    }
    return;
  }
  if (!FPending.empty()) Keep(std::move(FPending));
  FPending.clear();
  if (AwaitsReason(failure))
    FPending = std::string(failure);
  else
    Keep(std::string(failure));
}

void TMirrorFailures::Keep(std::string text) {
  const bool inUse = InUse(text);
  int64_t& count = inUse ? FInUse : FOthers;
  if (static_cast<uint64_t>(count++) < LinesKept) FLines.push_back({platform::ChildOutputText(text), inUse});
}

WideString MirrorFailureNotice(const platform::ChildEnd& end, const TMirrorFailures& failures, bool stopped,
                               bool hotFolder) {
  if (stopped || !end.known) return {};
  // robocopy's exit codes use five bits; any other code is a crash, not a result.
  const bool crashed = end.signal != 0 || end.exitCode < 0 || end.exitCode > 31;
  if (!crashed && (end.exitCode & (8 | 16)) == 0) return {};
  const bool onlyInUse = !crashed && (end.exitCode & 16) == 0 && failures.Count(false) == 0 && failures.Count(true) > 0;
  if (hotFolder && onlyInUse) return {};

  WideString text = u"Sincronismo incompleto: a pasta de destino não é uma cópia completa da pasta de origem.";
  const int64_t total = failures.Count(false) + (hotFolder ? 0 : failures.Count(true));
  int64_t shown = 0;
  for (const TMirrorFailures::Line& line : failures.Lines()) {
    if ((hotFolder && line.inUse) || shown == static_cast<int64_t>(TMirrorFailures::LinesKept)) continue;
    text += (shown++ == 0 ? u"\n\n" : u"\n") + line.text;
  }
  if (total > shown) text += u"\n...";
  return text;
}
