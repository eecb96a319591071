// The hot folder with a real monitor and the real mirror tool: whatever lands in
// the source appears in the destination without a click.
#include <QCoreApplication>
#include <QDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "forms/UFrmRoboCopy.h"
#include "forms/UFrmTarnvel.h"
#include "funcoes/funcoes.h"
#include "platform/process.h"
#include "small_volume.h"
#include "tempdir.h"
#include "uitest.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

QString N(const fs::path& path) { return QString::fromStdString(path.string()); }
QString Stored(const char16_t* name) { return QString::fromStdU16String(SettingValue(u"ler", name, u"<missing>")); }

// Pumps the event loop, where the monitor's reports are delivered, until done
// says so. The deadline only keeps a fault from hanging the run.
bool PumpUntil(const std::function<bool()>& done, int deadlineMs = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QTest::qWait(20);
  }
  return true;
}

// Writes a file beside the source and moves it in, as a finished copy lands.
void Drop(const fs::path& folder, const std::string& name, const std::string& content) {
  const fs::path staging = folder.parent_path() / (".staging-" + name);
  WriteFile(staging, content);
  fs::create_directories(folder / fs::path(name).parent_path());
  fs::rename(staging, folder / name);
}

}  // namespace

class HotFolderTest : public QObject {
  Q_OBJECT

  std::unique_ptr<testsupport::IsolatedSettings> FSettings;
  std::unique_ptr<TempDir> FTemp;
  std::unique_ptr<TFrmTarnvel> FForm;
  fs::path FSource, FDestination, FRuns, FHold, FHoldAfter, FMirrored;
  fs::path FTool;  // our robocopy in the test program's folder

  // Each start of the mirror tool adds a line to the runs file; while the hold
  // file exists the tool waits before mirroring. Once it has mirrored it adds a
  // line to the mirrored file and waits while the hold-after file exists.
  void PlaceTool() {
    FTool = fs::path(platform::ExecutableFolder()) / "robocopy";
    std::ofstream script(FTool);
    script << "#!/bin/sh\n"
           << "echo run >> '" << FRuns.string() << "'\n"
           << "while [ -e '" << FHold.string() << "' ]; do sleep 0.02; done\n"
           << "'" << TARNVEL_MIRROR_TOOL << "' \"$@\"\n"
           << "code=$?\n"
           << "echo done >> '" << FMirrored.string() << "'\n"
           << "while [ -e '" << FHoldAfter.string() << "' ]; do sleep 0.02; done\n"
           << "exit $code\n";
    script.close();
    fs::permissions(FTool, fs::perms::owner_all);
  }
  int Runs() const {
    std::ifstream in(FRuns);
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return lines;
  }
  // Waits until no mirror runs and no new one has started for a while.
  int Settled() {
    int runs = -1;
    for (int quiet = 0; quiet < 25;) {
      QTest::qWait(40);
      const int now = Runs();
      quiet = (now == runs && !MirrorRunning) ? quiet + 1 : 0;
      runs = now;
    }
    return runs;
  }
  void ShowWindow() {
    Application->CreateForm(FrmTarnvel);
    FForm.reset(FrmTarnvel);
    FForm->show();
  }
  bool Mirrored(const std::string& name) {
    return PumpUntil(
        [&] { return fs::exists(FDestination / name) && ReadFile(FDestination / name) == ReadFile(FSource / name); });
  }
  QStringList SourceItems() const {
    QStringList names;
    for (int i = 0; i < FForm->FileListBoxOrigem->count(); ++i) names << FForm->FileListBoxOrigem->item(i)->text();
    return names;
  }

 private slots:
  void init() {
    FSettings = std::make_unique<testsupport::IsolatedSettings>();
    FTemp = std::make_unique<TempDir>();
    FSource = *FTemp / "origem";
    FDestination = *FTemp / "destino";
    FRuns = *FTemp / "runs.log";
    FHold = *FTemp / "hold";
    FHoldAfter = *FTemp / "hold-after";
    FMirrored = *FTemp / "mirrored.log";
    fs::create_directories(FSource);
    fs::create_directories(FDestination);
    SettingValue(u"escrever", u"storage_Origem", FSource.u16string());
    SettingValue(u"escrever", u"storage_Destino", FDestination.u16string());
    PlaceTool();
    ShownBoxes.clear();
  }
  void cleanup() {
    fs::remove(FHold);
    fs::remove(FHoldAfter);
    PumpUntil([] { return !MirrorRunning; });
    FForm.reset();
    FrmTarnvel = nullptr;
    FrmRoboCopy = nullptr;  // owned by the main window
    fs::remove(FTool);
    FTemp.reset();
    FSettings.reset();
  }

  void FirstStartWatchesTheSource() {
    SettingValue(u"excluir", u"AutoCheck", u"");
    ShowWindow();
    QVERIFY(FForm->CHKHotFolderOrigem->isChecked());
    QCOMPARE(Stored(u"AutoCheck"), QString("-1"));
    QVERIFY(FForm->FolderMon() && FForm->FolderMon()->IsActive());
    QCOMPARE(QString::fromStdU16String(FForm->FolderMon()->Folder()), N(FSource));
    Drop(FSource, "clip.mxf", std::string(100000, 'c'));
    QVERIFY(Mirrored("clip.mxf"));
    Settled();
    QVERIFY(SourceItems().contains("clip.mxf"));
    QCOMPARE(ShownBoxes.size(), size_t(0));
  }

  void UntickedStartsNothing() {
    SettingValue(u"escrever", u"AutoCheck", u"0");
    ShowWindow();
    QVERIFY(!FForm->CHKHotFolderOrigem->isChecked());
    QVERIFY(!FForm->FolderMon());
    Drop(FSource, "clip.mxf", "x");
    QCOMPARE(Settled(), 0);
    QVERIFY(!fs::exists(FDestination / "clip.mxf"));
  }

  void TickUntickTickWatchesTheCurrentSource() {
    const fs::path second = *FTemp / "segunda";
    fs::create_directories(second);
    SettingValue(u"escrever", u"AutoCheck", u"0");
    ShowWindow();
    FForm->CHKHotFolderOrigem->setChecked(true);
    QCOMPARE(QString::fromStdU16String(FForm->FolderMon()->Folder()), N(FSource));
    // A later source does not move the running watch.
    FForm->DirectoryListOrigem->SetDirectory(N(second));
    QCOMPARE(QString::fromStdU16String(SourceRoot), N(second));
    QCOMPARE(QString::fromStdU16String(FForm->FolderMon()->Folder()), N(FSource));
    FForm->CHKHotFolderOrigem->setChecked(false);
    QVERIFY(!FForm->FolderMon());
    QCOMPARE(Stored(u"AutoCheck"), QString("0"));
    // The released monitor watched the first source: what lands there now
    // starts nothing, even under a name that the current source also holds.
    WriteFile(second / "early.mxf", "second");
    Drop(FSource, "early.mxf", "first");
    QCOMPARE(Settled(), 0);
    FForm->CHKHotFolderOrigem->setChecked(true);
    QCOMPARE(Stored(u"AutoCheck"), QString("-1"));
    QCOMPARE(QString::fromStdU16String(FForm->FolderMon()->Folder()), N(second));
    Drop(second, "late.mxf", "late");
    QVERIFY(PumpUntil([&] { return fs::exists(FDestination / "late.mxf"); }));
    QCOMPARE(ReadFile(FDestination / "early.mxf"), std::string("second"));  // the whole current source is mirrored
  }

  // What each kind of report does: only a name that leads to a file mirrors,
  // and every report re-reads both lists.
  void ReportsByKind() {
    ShowWindow();
    QVERIFY(FForm->FolderMon() && FForm->FolderMon()->IsActive());
    Drop(FSource, "a.mxf", "aaaa");
    QVERIFY(Mirrored("a.mxf"));
    int runs = Settled();

    fs::rename(FSource / "a.mxf", FSource / "b.mxf");
    QVERIFY(Mirrored("b.mxf"));
    QCOMPARE(Settled(), runs + 1);  // the new name only
    runs += 1;
    QVERIFY(SourceItems().contains("b.mxf"));

    fs::remove(FSource / "b.mxf");
    QVERIFY(PumpUntil([&] { return !SourceItems().contains("b.mxf"); }));
    QCOMPARE(Settled(), runs);
    QVERIFY(fs::exists(FDestination / "b.mxf"));  // kept until the next mirror

    fs::create_directories(FSource / "vazia");
    QCOMPARE(Settled(), runs);

    fs::create_directories(FSource / "sub");
    WriteFile(FSource / "sub" / "c.mxf", "cc");
    QVERIFY(Mirrored("sub/c.mxf"));
  }

  // A file written in pieces gives a report per piece; each mirrors, and once
  // the writer is done the destination holds the whole file and the mirrors
  // stop: the mirrors' own reading of the source starts none.
  void AFileWrittenInPiecesEndsComplete() {
    ShowWindow();
    {
      std::ofstream out(FSource / "long.mov", std::ios::binary);
      for (int piece = 0; piece < 10; ++piece) {
        out << std::string(200000, char('0' + piece));
        out.flush();
        QTest::qWait(60);
      }
    }
    QVERIFY(Mirrored("long.mov"));
    const int runs = Settled();
    qInfo("mirrors caused by one file written in ten pieces: %d", runs);
    QVERIFY(runs >= 1);
    QVERIFY(runs <= 25);
    QTest::qWait(1500);
    QCOMPARE(Runs(), runs);
    QCOMPARE(ReadFile(FDestination / "long.mov").size(), size_t(2000000));
  }

  void TickingOnAMissingSourceShowsTheMonitorsMessage() {
    SettingValue(u"escrever", u"AutoCheck", u"0");
    ShowWindow();
    SourceRoot = (FTemp->path() / "sumiu").u16string();
    FForm->CHKHotFolderOrigem->click();
    QVERIFY(FForm->CHKHotFolderOrigem->isChecked());
    QCOMPARE(Stored(u"AutoCheck"), QString("-1"));
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Text, QString("Please supply valid/existing folder."));
    QVERIFY(FForm->FolderMon() && !FForm->FolderMon()->IsActive());
    QVERIFY(FForm->isVisible());
  }

  // Files that land during a mirror started by "Sincronizar" are reported and
  // refused meanwhile; they arrive through one further run after it, with no
  // other change, never through one run per report.
  void FilesDroppedDuringASyncArriveAfterIt() {
    ShowWindow();
    WriteFile(FHoldAfter, "");
    bool checked = false;
    QTimer drop;
    QObject::connect(&drop, &QTimer::timeout, [&] {
      // Runs nested inside the mirror's wait loop, once its copy is done.
      if (!fs::exists(FMirrored)) return;
      drop.stop();
      QVERIFY(MirrorRunning);
      for (const char* name : {"durante1.mxf", "durante2.mxf", "durante3.mxf"}) Drop(FSource, name, name);
      QVERIFY(PumpUntil([&] { return SourceItems().contains("durante3.mxf"); }));
      QCOMPARE(Runs(), 1);
      fs::remove(FHoldAfter);
      checked = true;
    });
    drop.start(20);
    QTest::mouseClick(FForm->BtCopiar, Qt::LeftButton);
    QVERIFY(checked);
    for (const char* name : {"durante1.mxf", "durante2.mxf", "durante3.mxf"}) QVERIFY(Mirrored(name));
    QCOMPARE(Settled(), 2);
    QCOMPARE(ShownBoxes.size(), size_t(0));
  }

  // A destination that is full: the clip fails on every run while the
  // sidecars that keep landing fit. The user is told once for the streak, and
  // again for a failure after a run that succeeded.
  void AFullDestinationIsReportedOncePerFailureStreak() {
    testsupport::SmallVolume volume(FDestination);
    if (!volume.Mounted()) QSKIP(volume.Refusal().c_str());
    // Kept there: the box "Preversa Arquivos do destino" is ticked.
    WriteFile(FDestination / "ocupado.bin", std::string(700 * 1024, 'o'));
    ShowWindow();
    QVERIFY(FForm->ChkPreserva->isChecked());
    Drop(FSource, "clip.mxf", std::string(600 * 1024, 'c'));
    QVERIFY(PumpUntil([] { return ShownBoxes.size() == 1; }));
    for (int i = 0; i < 10; ++i) {
      const std::string name = "take" + std::to_string(i) + ".xml";
      Drop(FSource, name, "<take/>");
      QVERIFY(Mirrored(name));
    }
    Settled();
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QVERIFY2(ShownBoxes[0].Text.contains(N(FDestination / "clip.mxf")), qPrintable(ShownBoxes[0].Text));
    QVERIFY(!fs::exists(FDestination / "clip.mxf"));

    fs::remove(FDestination / "ocupado.bin");
    Drop(FSource, "take10.xml", "<take/>");
    QVERIFY(Mirrored("clip.mxf"));
    Settled();
    QCOMPARE(ShownBoxes.size(), size_t(1));

    Drop(FSource, "clip2.mxf", std::string(600 * 1024, 'd'));
    QVERIFY(PumpUntil([] { return ShownBoxes.size() == 2; }));
    Settled();
    QCOMPARE(ShownBoxes.size(), size_t(2));
    QVERIFY2(ShownBoxes[1].Text.contains(N(FDestination / "clip2.mxf")), qPrintable(ShownBoxes[1].Text));
  }

  // A clip written in pieces, with pauses of up to a second, is never seen in
  // the destination under its name with part of its bytes; it arrives whole
  // once its writer has closed it.
  void AClipIsPutInPlaceOnlyWhole() {
    ShowWindow();
    const fs::path clip = FSource / "gravando.mxf", copy = FDestination / "gravando.mxf";
    const int pausesMs[] = {0, 50, 1000, 200, 600, 20, 1000, 300};
    const std::string piece(4 << 20, 'p');
    const std::uintmax_t whole = piece.size() * std::size(pausesMs);
    std::atomic<bool> closed{false}, stop{false};
    std::atomic<int> partial{0}, polls{0};
    Clock::time_point closedAt;
    std::thread poller([&] {
      while (!stop) {
        struct stat st;
        if (::stat(copy.c_str(), &st) == 0 && std::uintmax_t(st.st_size) < whole) ++partial;
        ++polls;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    std::thread writer([&] {
      const int fd = ::open(clip.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      for (int pause : pausesMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        for (size_t done = 0; fd >= 0 && done < piece.size();) {
          const ssize_t put = ::write(fd, piece.data() + done, piece.size() - done);
          if (put <= 0) break;
          done += size_t(put);
        }
      }
      ::close(fd);
      closedAt = Clock::now();
      closed = true;
    });
    const bool whole_arrived = PumpUntil(
        [&] {
          std::error_code ec;
          return closed && fs::file_size(copy, ec) == whole;
        },
        60000);
    const double afterClose = std::chrono::duration<double, std::milli>(Clock::now() - closedAt).count();
    stop = true;
    writer.join();
    poller.join();
    QVERIFY(whole_arrived);
    qInfo("complete in the destination %.0f ms after the writer's close; %d polls", afterClose, polls.load());
    QCOMPARE(partial.load(), 0);
    QVERIFY(ReadFile(copy) == ReadFile(clip));
    Settled();
  }

  // Copying many small files into the source costs a handful of runs, and
  // every file arrives.
  void ABurstOfFilesCostsAFewRuns() {
    ShowWindow();
    const int files = 2000;
    for (int i = 0; i < files; ++i) WriteFile(FSource / ("lote" + std::to_string(i) + ".xml"), std::to_string(i));
    QVERIFY(PumpUntil(
        [&] {
          int n = 0;
          for (const auto& e : fs::directory_iterator(FDestination)) n += e.is_regular_file();
          return n == files;
        },
        240000));
    const int runs = Settled();
    qInfo("mirror runs for a burst of %d files: %d", files, runs);
    QVERIFY(runs >= 1);
    QVERIFY(runs <= 20);
    QCOMPARE(ReadFile(FDestination / "lote1999.xml"), std::string("1999"));
  }

  // Changes the platform lost (its queue overflowed while the worker waited
  // for a mirror) cause one run, which brings what nobody reported.
  void LostChangesCauseOneRun() {
    ShowWindow();
    WriteFile(FHoldAfter, "");
    int queued = 16384;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
    // Runs nested in the first run's wait loop, while its report holds the
    // worker: files that come and go fill the queue (a creation, a write, a
    // close and a removal each; reports that start no run), then the one that
    // stays is lost.
    QTimer flood;
    QObject::connect(&flood, &QTimer::timeout, [&] {
      if (!fs::exists(FMirrored)) return;  // the first run has not mirrored yet
      flood.stop();
      for (int i = 0; i < queued / 3 + 100; ++i) {
        const fs::path passing = FSource / ("passagem" + std::to_string(i) + ".tmp");
        WriteFile(passing, "x");
        fs::remove(passing);
      }
      WriteFile(FSource / "perdido.mxf", "lost");
      fs::remove(FHoldAfter);
    });
    flood.start(20);
    Drop(FSource, "primeiro.mxf", "1");
    QVERIFY(Mirrored("perdido.mxf"));
    QCOMPARE(Settled(), 2);
  }

  // A remembered source that is gone: the tree shows a stand-in, which the
  // hot folder never watches; the box keeps its state, and the first source
  // the user picks is watched.
  void AMissingStoredSourceIsNotWatched() {
    SettingValue(u"escrever", u"storage_Origem", (*FTemp / "sumiu").u16string());
    SettingValue(u"escrever", u"AutoCheck", u"-1");
    ShowWindow();
    QVERIFY(FForm->CHKHotFolderOrigem->isChecked());
    QVERIFY(!FForm->FolderMon() || !FForm->FolderMon()->IsActive());
    QCOMPARE(ShownBoxes.size(), size_t(0));
    QCOMPARE(Stored(u"AutoCheck"), QString("-1"));
    FForm->DirectoryListOrigem->SetDirectory(N(FSource));
    QVERIFY(FForm->FolderMon() && FForm->FolderMon()->IsActive());
    QCOMPARE(QString::fromStdU16String(FForm->FolderMon()->Folder()), N(FSource));
    Drop(FSource, "depois.mxf", "d");
    QVERIFY(Mirrored("depois.mxf"));
    QCOMPARE(ShownBoxes.size(), size_t(0));
  }

  // Folders that overlap: the hot folder's refused runs tell the user once per
  // pair of folders, not once per report.
  void OverlappingFoldersAreToldOncePerPair() {
    const fs::path inside = FSource / "copia", other = FSource / "outra";
    fs::create_directories(inside);
    fs::create_directories(other);
    SettingValue(u"escrever", u"storage_Destino", inside.u16string());
    ShowWindow();
    struct Step {
      const fs::path* destination;
      int reports;
      size_t notices;  // shown so far
    } steps[] = {{&inside, 10, 1}, {&other, 3, 2}};
    int dropped = 0;
    for (const Step& step : steps) {
      FForm->DirectoryListBoxdestino->SetDirectory(N(*step.destination));
      for (int i = 0; i < step.reports; ++i) {
        const std::string name = "f" + std::to_string(dropped++) + ".mxf";
        Drop(FSource, name, "x");
        QVERIFY(PumpUntil([&] { return SourceItems().contains(QString::fromStdString(name)); }));
      }
      QCOMPARE(ShownBoxes.size(), step.notices);
    }
    QVERIFY(ShownBoxes[0].Text.contains(N(inside)));
    QVERIFY(ShownBoxes[1].Text.contains(N(other)));
    QCOMPARE(Runs(), 0);
  }
};

TARNVEL_UI_TEST_MAIN(HotFolderTest)
#include "hotfolder_test.moc"
