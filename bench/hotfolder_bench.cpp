// The hot folder with the real monitor and mirror tool:
//   small: from the close of a small file in the source to its complete
//          presence in the destination, one file at a time, p50 and p99;
//   clip:  a 1 GB clip written in 8 MB pieces at about 100 MB/s: the bytes
//          the mirror tool wrote over the clip's size, and the time from the
//          writer's close to the clip complete in the destination;
//   burst: 2,000 small files written at once: the mirror runs they started
//          and the time until all are in the destination;
//   arrivals: the mirror runs started by one file arriving through cp (50 MB),
//          rsync (50 MB), a move from another file system (500 MB, from
//          /dev/shm) and a 10 s recording, and the time from the end of each
//          to the file complete in the destination.
//
//   hotfolder_bench [FILES] [WORK_FOLDER] [ALREADY_THERE]
//   (defaults: 100 files, a temporary folder, 0): ALREADY_THERE files in 1,000
//   folders are in the source and mirrored before anything is measured, so
//   every run walks a source of that size.
#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/percentile.h"
#include "forms/UFrmTarnvel.h"
#include "funcoes/funcoes.h"
#include "platform/process.h"
#include "toolkit/application.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Runs the event loop (where the monitor's reports are handled) until done.
template <class Done>
bool Pump(Done done, std::chrono::seconds limit) {
  const Clock::time_point end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    Application->ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Summary lines the mirror tool printed: runs, and files copied. (Its byte
// counts run into each other past ten digits, so whole copies are counted.)
struct ToolLog {
  int runs = 0;
  long long copied = 0;
};

ToolLog ReadToolLog(const fs::path& log) {
  ToolLog out;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.find("Source :") != std::string::npos) ++out.runs;
    if (line.find("Files :") != std::string::npos) {
      std::istringstream row(line.substr(line.find(':') + 1));
      long long total = 0, copied = 0;
      row >> total >> copied;
      out.copied += copied;
    }
  }
  return out;
}

bool Complete(const fs::path& file, std::uintmax_t size) {
  std::error_code ec;
  return fs::file_size(file, ec) == size;
}

void Clip(const fs::path& source, const fs::path& destination, const fs::path& log) {
  const std::uintmax_t piece = 8u << 20, pieces = 128;
  const std::string data(piece, 'c');
  const fs::path clip = source / "clip.mxf";
  const ToolLog before = ReadToolLog(log);
  const int fd = ::open(clip.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Clock::time_point next = Clock::now();
  for (std::uintmax_t i = 0; i < pieces; ++i) {
    if (::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) std::printf("short write\n");
    next += std::chrono::milliseconds(80);  // 8 MB per 80 ms: about 100 MB/s
    while (Clock::now() < next) {
      Application->ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ::close(fd);
  const Clock::time_point closed = Clock::now();
  const bool arrived =
      Pump([&] { return Complete(destination / "clip.mxf", piece * pieces); }, std::chrono::seconds(120));
  const double afterClose = Ms(Clock::now() - closed);
  Pump([] { return !MirrorRunning; }, std::chrono::seconds(60));
  const ToolLog after = ReadToolLog(log);
  // Runs that met the clip while it was written copied nothing of it; each
  // copy counted is a whole one, so bytes written / size = copies.
  std::printf("1 GB clip in 8 MB pieces: %s; copies of it put in place %lld; close to complete %.0f ms; %d runs\n",
              arrived ? "complete" : "NEVER COMPLETE", after.copied - before.copied, afterClose,
              after.runs - before.runs);
}

// Runs command (a shell line) beside the event loop, so the monitor's reports
// are handled while it works; then waits for file complete in the destination.
void Arrival(const char* what, const std::string& command, const fs::path& destinationFile, std::uintmax_t size,
             const fs::path& log) {
  const ToolLog before = ReadToolLog(log);
  std::atomic<bool> done{false};
  // Taken by the thread that saw the command end: the event loop may be busy
  // with a run when it does.
  Clock::time_point ended;
  std::thread worker([&] {
    if (std::system(command.c_str()) != 0) std::printf("%s: the command failed\n", what);
    ended = Clock::now();
    done = true;
  });
  Pump([&] { return done.load(); }, std::chrono::seconds(300));
  worker.join();
  const bool arrived = Pump([&] { return Complete(destinationFile, size); }, std::chrono::seconds(120));
  const double afterEnd = Ms(Clock::now() - ended);
  Pump([] { return !MirrorRunning; }, std::chrono::seconds(60));
  // Late runs: the ones a timer or a last report still asks for.
  const Clock::time_point settle = Clock::now() + std::chrono::seconds(3);
  Pump([&] { return Clock::now() > settle; }, std::chrono::seconds(10));
  Pump([] { return !MirrorRunning; }, std::chrono::seconds(60));
  std::printf("%s: %s; %d runs; end to complete %.0f ms\n", what, arrived ? "complete" : "NEVER COMPLETE",
              ReadToolLog(log).runs - before.runs, afterEnd);
}

void Arrivals(const fs::path& work, const fs::path& source, const fs::path& destination, const fs::path& log) {
  const fs::path outside = work / "fora";
  fs::create_directories(outside);
  const std::uintmax_t mb = 1u << 20;
  const std::string make =
      "head -c " + std::to_string(50 * mb) + " /dev/urandom > '" + (outside / "a.mxf").string() + "'";
  if (std::system(make.c_str()) != 0) return;
  Arrival("cp 50 MB", "cp '" + (outside / "a.mxf").string() + "' '" + (source / "cp.mxf").string() + "'",
          destination / "cp.mxf", 50 * mb, log);
  Arrival("rsync 50 MB",
          "rsync --bwlimit=50000 '" + (outside / "a.mxf").string() + "' '" + (source / "rsync.mxf").string() + "'",
          destination / "rsync.mxf", 50 * mb, log);
  const fs::path shm = "/dev/shm/tarnvel-bench-move.mxf";
  if (std::system(("head -c " + std::to_string(500 * mb) + " /dev/zero > '" + shm.string() + "'").c_str()) == 0)
    Arrival("move of 500 MB from another file system",
            "mv '" + shm.string() + "' '" + (source / "mv.mxf").string() + "'", destination / "mv.mxf", 500 * mb, log);
  // 100 pieces of 512 KB, one every 100 ms.
  Arrival("10 s recording",
          "for i in $(seq 100); do head -c 524288 /dev/zero; sleep 0.1; done > '" + (source / "rec.mxf").string() + "'",
          destination / "rec.mxf", 100 * 524288, log);
}

void Burst(const fs::path& source, const fs::path& destination, const fs::path& log) {
  const int files = 2000;
  const ToolLog before = ReadToolLog(log);
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < files; ++i) std::ofstream(source / ("burst" + std::to_string(i) + ".xml")) << i;
  const bool arrived = Pump(
      [&] {
        int n = 0;
        for (const auto& e : fs::directory_iterator(destination))
          n += e.path().filename().string().starts_with("burst");
        return n == files;
      },
      std::chrono::seconds(300));
  const double took = Ms(Clock::now() - start);
  Pump([] { return !MirrorRunning; }, std::chrono::seconds(60));
  std::printf("burst of %d files: %s after %.0f ms; %d runs\n", files, arrived ? "all in the destination" : "NOT ALL",
              took, ReadToolLog(log).runs - before.runs);
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 100;
  const fs::path work = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "tarnvel-hotfolder-bench";
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  fs::remove_all(work);
  const fs::path source = work / "origem", destination = work / "destino";
  fs::create_directories(source);
  fs::create_directories(destination);
  fs::create_directories(work / "config");
  setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
  SettingValue(u"escrever", SourceValueName, source.u16string());
  SettingValue(u"escrever", DestinationValueName, destination.u16string());
  // The tool's summaries are kept, to count runs and bytes.
  const fs::path tool = fs::path(platform::ExecutableFolder()) / "robocopy", log = work / "summaries.log";
  std::ofstream(tool) << "#!/bin/sh\nexec '" << TARNVEL_MIRROR_TOOL << "' \"$@\" >> '" << log.string() << "'\n";
  fs::permissions(tool, fs::perms::owner_all);

  const int already = argc > 3 ? std::atoi(argv[3]) : 0;
  for (int i = 0; i < already; ++i) {
    const fs::path folder = source / "bulk" / std::to_string(i % 1000);
    if (i < 1000) fs::create_directories(folder);
    std::ofstream(folder / (std::to_string(i) + ".xml")) << i;
  }

  TApplication app(argc, argv);
  app.Initialize();
  Application->MainFormOnTaskBar = true;
  Application->CreateForm(FrmTarnvel);
  FrmTarnvel->show();  // a first start: the hot folder is on
  if (already > 0) {
    // The first run mirrors what is there; the measures start after it.
    const Clock::time_point start = Clock::now();
    Pump(
        [&] {
          return fs::exists(destination / "bulk" / std::to_string((already - 1) % 1000) /
                            (std::to_string(already - 1) + ".xml"));
        },
        std::chrono::seconds(600));
    Pump([] { return !MirrorRunning; }, std::chrono::seconds(600));
    std::printf("%d files already there, mirrored in %.0f ms\n", already, Ms(Clock::now() - start));
  }
  const std::string content(4096, 'v');
  std::vector<double> delays;
  for (int i = 0; i < files; ++i) {
    const std::string name = "clip" + std::to_string(i) + ".mp4";
    {
      std::ofstream out(source / name, std::ios::binary);
      out << content;
    }
    const Clock::time_point closed = Clock::now();
    const bool arrived = Pump(
        [&] {
          std::error_code ec;
          return fs::file_size(destination / name, ec) == content.size();
        },
        std::chrono::seconds(30));
    if (!arrived) {
      std::printf("%s never arrived\n", name.c_str());
      return 1;
    }
    delays.push_back(Ms(Clock::now() - closed));
    // One at a time: the mirrors this file started are over before the next.
    Pump([] { return !MirrorRunning; }, std::chrono::seconds(30));
  }
  std::printf("close in the source to complete in the destination, %d files: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
              files, Percentile(delays, 50), Percentile(delays, 99), Percentile(delays, 100));
  Clip(source, destination, log);
  Burst(source, destination, log);
  Arrivals(work, source, destination, log);
  delete FrmTarnvel;
  fs::remove(tool);
  if (!std::getenv("HOTFOLDER_BENCH_KEEP")) fs::remove_all(work);
  return 0;
}
