// How responsive the windows stay while "Sincronizar" mirrors a large tree:
// a thread posts an event every millisecond, and the delay until the main
// thread handles it is set against the time of the two tree walks of one pass.
//
//   sync_bench [FILES] [WORK_FOLDER]     (defaults: 100000 files, a temporary folder)
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
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "bench/percentile.h"
#include "forms/UFrmRoboCopy.h"
#include "forms/UFrmTarnvel.h"
#include "funcoes/funcoes.h"
#include "platform/process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

const QEvent::Type StampType = static_cast<QEvent::Type>(QEvent::User + 1);

struct StampEvent : QEvent {
  explicit StampEvent(Clock::time_point posted) : QEvent(StampType), Posted(posted) {}
  Clock::time_point Posted;
};

// Records how long each posted event waited; counts the progress window's repaints (one per pass).
class Probe : public QObject {
 public:
  std::vector<double> Delays;
  std::vector<Clock::time_point> Paints;
  bool event(QEvent* e) override {
    if (e->type() != StampType) return QObject::event(e);
    Delays.push_back(Ms(Clock::now() - static_cast<StampEvent*>(e)->Posted));
    return true;
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) Paints.push_back(Clock::now());
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
  std::atomic<bool> posting{true};
  std::thread poster([&] {
    while (posting) {
      QCoreApplication::postEvent(&probe, new StampEvent(Clock::now()));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const Clock::time_point start = Clock::now();
  FrmTarnvel->BtCopiarClick(nullptr);
  const double mirrorMs = Ms(Clock::now() - start);
  posting = false;
  poster.join();
  QCoreApplication::processEvents();

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
  // A pass: from one repaint of the progress window to the next.
  std::vector<double> passes;
  for (size_t i = 1; i < probe.Paints.size(); ++i) passes.push_back(Ms(probe.Paints[i] - probe.Paints[i - 1]));

  std::printf("mirror of %d files: %.0f ms, %zu passes; a pass during the copy: p50 %.1f ms, p99 %.1f ms\n", files,
              mirrorMs, probe.Paints.size(), Percentile(passes, 50), Percentile(passes, 99));
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
