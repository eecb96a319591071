// How responsive the windows stay while "Sincronizar" mirrors a large tree:
// a thread posts an event every millisecond, and the delay until the main
// thread handles it is set against the time of the two tree walks of one pass.
// And what the progress gauge costs: "Sincronizar" into an empty destination
// against the mirror tool alone doing the same, in alternating runs.
//
//   sync_bench [FILES] [WORK_FOLDER] [RUNS]  (defaults: 100000 files, a temporary folder, 3 runs each)
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise; the mirror tool is
// placed beside this program for the run.
#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "bench/percentile.h"
#include "forms/UFrmRoboCopy.h"
#include "forms/UFrmTarnvel.h"
#include "funcoes/cmdline.h"
#include "funcoes/funcoes.h"
#include "funcoes/runner.h"
#include "platform/process.h"
#include "toolkit/application.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

const QEvent::Type StampType = static_cast<QEvent::Type>(QEvent::User + 1);

struct StampEvent : QEvent {
  explicit StampEvent(Clock::time_point posted) : QEvent(StampType), Posted(posted) {}
  Clock::time_point Posted;
};

// Records how long each posted event waited; times the progress window's repaints (one per pass),
// between one repaint and the next within a run.
class Probe : public QObject {
 public:
  std::vector<double> Delays;
  std::vector<double> Passes;
  size_t Paints = 0;
  std::optional<Clock::time_point> LastPaint;  // empty between runs
  bool event(QEvent* e) override {
    if (e->type() != StampType) return QObject::event(e);
    Delays.push_back(Ms(Clock::now() - static_cast<StampEvent*>(e)->Posted));
    return true;
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() != QEvent::Paint) return false;
    const Clock::time_point now = Clock::now();
    if (LastPaint) Passes.push_back(Ms(now - *LastPaint));
    LastPaint = now;
    ++Paints;
    return false;
  }
};

// files files of 100 bytes, 100 to a folder.
void MakeTree(const fs::path& root, int files) {
  const std::string content(100, 'x');
  for (int i = 0; i < files; ++i) {
    const fs::path folder = root / ("pasta" + std::to_string(i / 100));
    if (i % 100 == 0) fs::create_directories(folder);
    std::ofstream(folder / ("clip" + std::to_string(i) + ".mp4"), std::ios::binary) << content;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  const fs::path work = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "tarnvel-sync-bench";
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  fs::remove_all(work);
  const fs::path source = work / "origem", destination = work / "destino";
  std::printf("making %d files under %s\n", files, source.c_str());
  MakeTree(source, files);
  fs::create_directories(destination);
  const fs::path tool = fs::path(platform::ExecutableFolder()) / "robocopy";
  fs::copy_file(TARNVEL_MIRROR_TOOL, tool, fs::copy_options::overwrite_existing);

  TApplication app(argc, argv);
  app.Initialize();
  Application->MainFormOnTaskBar = true;
  Application->CreateForm(FrmTarnvel);
  Application->CreateForm(FrmRoboCopy);
  SourceRoot = source.u16string();
  DestinationRoot = destination.u16string();
  FrmTarnvel->FileListBoxDestino->SetDirectory(QString::fromStdString(destination.string()));

  Probe probe;
  FrmRoboCopy->installEventFilter(&probe);
  // Events are posted only while "Sincronizar" runs: the tool alone is timed with the main thread asleep.
  std::atomic<bool> posting{false}, running{true};
  std::thread poster([&] {
    while (running) {
      if (posting) QCoreApplication::postEvent(&probe, new StampEvent(Clock::now()));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  // Each run starts from an empty destination, with nothing left to write back
  // from the run before (else the writeback of 100,000 files slows whichever
  // run comes next); the tool alone runs the same command line.
  const auto emptyDestination = [&] {
    fs::remove_all(destination);
    fs::create_directories(destination);
    FrmTarnvel->FileListBoxDestino->Update();
    sync();
  };
  std::vector<double> mirrorMs, toolMs;
  for (int run = 0; run < runs; ++run) {
    emptyDestination();
    posting = true;
    Clock::time_point start = Clock::now();
    FrmTarnvel->BtCopiarClick(nullptr);
    mirrorMs.push_back(Ms(Clock::now() - start));
    posting = false;
    QCoreApplication::processEvents();
    probe.LastPaint.reset();

    emptyDestination();
    start = Clock::now();
    platform::ChildProcess child = StartMirror(MirrorCommandLine(SourceRoot, DestinationRoot, false));
    while (!child.Wait(10)) {
    }
    child.Close();
    toolMs.push_back(Ms(Clock::now() - start));
  }
  running = false;
  poster.join();

  // One pass's two walks over the finished trees, warm, the median of five.
  std::vector<double> walks;
  int64_t bytes = 0;
  for (int i = 0; i < 5; ++i) {
    const Clock::time_point t = Clock::now();
    bytes = FolderSize(SourceRoot, true) + FolderSize(DestinationRoot, true);
    walks.push_back(Ms(Clock::now() - t));
  }
  const double walkMs = Percentile(walks, 50);
  const double p50 = Percentile(probe.Delays, 50), p99 = Percentile(probe.Delays, 99);
  const std::vector<double>& passes = probe.Passes;

  std::printf(
      "\"Sincronizar\" of %d files: median %.0f ms over %d runs, %zu passes; a pass during the copy: p50 %.1f ms, "
      "p99 %.1f ms\n",
      files, Percentile(mirrorMs, 50), runs, probe.Paints, Percentile(passes, 50), Percentile(passes, 99));
  std::printf("the mirror tool alone: median %.0f ms; \"Sincronizar\" / tool alone = %.2f\n", Percentile(toolMs, 50),
              Percentile(mirrorMs, 50) / Percentile(toolMs, 50));
  for (int run = 0; run < runs; ++run)
    std::printf("  run %d: \"Sincronizar\" %.0f ms, tool alone %.0f ms\n", run + 1, mirrorMs[run], toolMs[run]);
  std::printf("two FolderSize walks of the finished trees (%lld bytes): %.1f ms (median of 5)\n",
              static_cast<long long>(bytes), walkMs);
  std::printf("event delay over %zu events: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", probe.Delays.size(), p50, p99,
              Percentile(probe.Delays, 100));
  // An event that arrives as a pass begins waits that whole pass.
  const double longest = Percentile(passes, 100);
  std::printf("p99 delay against the longest pass + 20 ms = %.1f ms: %s\n", longest + 20,
              p99 <= longest + 20 ? "within" : "beyond");

  fs::remove(tool);
  fs::remove_all(work);
  return 0;
}
