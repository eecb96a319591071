#include "funcoes/runhistory.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <system_error>

#include "platform/text.h"

namespace {

// One figure of a summary row: a number, with robocopy.exe's unit letter
// after it when one follows; a decimal comma reads as a point.
std::optional<double> Figure(const std::vector<std::string>& words, size_t& at) {
  std::string word = words[at];
  for (char& c : word)
    if (c == ',') c = '.';
  char* end = nullptr;
  const double value = std::strtod(word.c_str(), &end);
  if (word.empty() || end != word.c_str() + word.size() || !std::isdigit(static_cast<unsigned char>(word[0])))
    return std::nullopt;
  ++at;
  if (at < words.size() && words[at].size() == 1) {
    const char unit = static_cast<char>(std::tolower(static_cast<unsigned char>(words[at][0])));
    const double scale = unit == 'k'   ? 1024.0
                         : unit == 'm' ? 1048576.0
                         : unit == 'g' ? 1073741824.0
                         : unit == 't' ? 1099511627776.0
                                       : 0.0;
    if (scale != 0.0) {
      ++at;
      return value * scale;
    }
  }
  return value;
}

std::string Field(const char* name, const std::string& value) { return std::string("  ") + name + ": " + value + "\n"; }

std::string LocalTime(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

void TMirrorSummary::Line(std::string_view line) {
  if (FRows.size() >= 3) return;
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  std::vector<std::string> words;
  std::string word;
  for (const char c : line.substr(colon + 1)) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  std::vector<int64_t> figures;
  for (size_t at = 0; at < words.size();) {
    const std::optional<double> figure = Figure(words, at);
    if (!figure) return;
    figures.push_back(static_cast<int64_t>(*figure + 0.5));
  }
  if (figures.size() != 6) return;
  FRows.push_back({figures[0], figures[1], figures[2], figures[3], figures[4], figures[5]});
}

std::string FormatRunRecord(const TRunRecord& record) {
  std::string text = LocalTime(record.Start) + (record.HotFolder ? "  Hot Folder\n" : "  Sincronizar\n");
  text += Field("Origem", platform::ToUtf8(record.Source));
  text += Field("Destino", platform::ToUtf8(record.Destination));
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", record.Duration.count() / 1000.0);
  text += Field("Duração", seconds);
  std::string end = "desconhecido";
  if (record.End.known)
    end = record.End.signal != 0 ? "sinal " + std::to_string(record.End.signal) : std::to_string(record.End.exitCode);
  if (record.Stopped) end += " (interrompido pelo usuário)";
  text += Field("Código de saída", end);
  if (record.Summary && record.Summary->Complete()) {
    const TMirrorSummary& s = *record.Summary;
    text += Field("Arquivos copiados", std::to_string(s.Files().Copied));
    text += Field("Bytes copiados", std::to_string(s.Bytes().Copied));
    text += Field("Extras apagados", std::to_string(record.Purges ? s.Files().Extras + s.Dirs().Extras : 0));
    text += Field("Falhas", std::to_string(s.Files().Failed + s.Dirs().Failed));
  } else {
    text += Field("Contagens", "sem resumo do programa de cópia");
  }
  if (record.FailureLines > 0) {
    text += Field("Linhas de falha", std::to_string(record.FailureLines));
    for (const WideString& line : record.Failures) text += "    " + platform::ToUtf8(line) + "\n";
    if (record.FailureLines > static_cast<int64_t>(record.Failures.size())) text += "    ...\n";
  }
  return text + "\n";
}

bool AppendRunRecord(const std::filesystem::path& log, const std::string& text, uint64_t limit) {
  std::error_code ec;
  std::filesystem::create_directories(log.parent_path(), ec);
  if (ec) return false;
  const uintmax_t size = std::filesystem::file_size(log, ec);
  if (!ec && size + text.size() > limit) {
    std::filesystem::path older = log;
    older += ".1";
    std::filesystem::rename(log, older, ec);
    if (ec) return false;
  }
  std::ofstream out(log, std::ios::binary | std::ios::app);
  if (!out) return false;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
  return out.good();
}
