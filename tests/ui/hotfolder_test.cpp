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
#include <unistd.h>
#ifndef _WIN32
#include <dlfcn.h>
#include <pthread.h>
#endif

#include <QEventLoop>
#include <QProcess>
#include <optional>

#include "ext4_volume.h"
#include "forms/UFrmRoboCopy.h"
#include "forms/UFrmTarnvel.h"
#include "forms/folderpicker.h"
#include "funcoes/funcoes.h"
#include "platform/process.h"
#include "small_volume.h"
#include "tempdir.h"
#include "uitest.h"
#ifndef _WIN32
#include "unprivileged.h"
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

#ifdef _WIN32
constexpr int kNoInherit = O_BINARY | O_NOINHERIT;
#else
constexpr int kNoInherit = O_CLOEXEC;
#endif

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

// Thread starts that fail, as when the system is out of threads: each start
// fails while this is above zero, counting it down. Sanitizers start threads
// through their own interceptor, which this would hide; Windows threads are
// not started through pthread_create.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && !defined(_WIN32)
#define TARNVEL_FAILING_THREADS 1
std::atomic<int> FailingThreadStarts{0};
#endif

// The "Raiz" picker, answering with one folder.
class AnsweringPicker : public TFolderPicker {
 public:
  explicit AnsweringPicker(QString folder) : FFolder(std::move(folder)) {}
  std::optional<QString> Execute(const QString&) override { return FFolder; }

 private:
  QString FFolder;
};

// Boxes that stay open as a modal box does, running the event loop meanwhile;
// WhileOpen runs inside the first one that opens, which then closes.
class ModalPresenter : public TMessagePresenter {
 public:
  std::function<void()> WhileOpen;
  void ShowMessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                      const QString& button) override {
    ShownBoxes.push_back({icon, caption, text, button});
    if (!WhileOpen) return;
    QEventLoop modal;
    QTimer::singleShot(0, &modal, [this, &modal] {
      std::exchange(WhileOpen, {})();
      modal.quit();
    });
    modal.exec();
  }
};

// Writes a file beside the source and moves it in, as a finished copy lands.
void Drop(const fs::path& folder, const std::string& name, const std::string& content) {
  const fs::path staging = folder.parent_path() / (".staging-" + name);
  WriteFile(staging, content);
  fs::create_directories(folder / fs::path(name).parent_path());
  fs::rename(staging, folder / name);
}

}  // namespace

#ifdef TARNVEL_FAILING_THREADS
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  for (int left = FailingThreadStarts; left > 0;)
    if (FailingThreadStarts.compare_exchange_weak(left, left - 1)) return EAGAIN;
  return next(thread, attr, start, arg);
}
#endif

class HotFolderTest : public QObject {
  Q_OBJECT

  std::unique_ptr<testsupport::IsolatedSettings> FSettings;
  std::unique_ptr<TempDir> FTemp;
  std::unique_ptr<TFrmTarnvel> FForm;
  fs::path FSource, FDestination, FRuns, FHold, FHoldAfter, FMirrored;
  fs::path FTool;                                           // our robocopy in the test program's folder
  const char* FUnsettled = nullptr;                         // why a wait for quiet failed: fails the test
  std::function<std::unique_ptr<TFolderPicker>()> FPicker;  // the one before the test

  // Each start of the mirror tool adds a line to the runs file; while the hold
  // file exists the tool waits before mirroring. Once it has mirrored it adds a
  // line to the mirrored file and waits while the hold-after file exists.
  void PlaceTool() {
#ifdef _WIN32
    FTool = fs::path(platform::ExecutableFolder()) / "robocopy.exe";
    fs::remove(FTool);  // MinGW's copy_file refuses to overwrite
    fs::copy_file(TARNVEL_COUNTING_ROBOCOPY, FTool);
    qputenv("TARNVEL_COUNTING_TOOL", TARNVEL_MIRROR_TOOL);
    qputenv("TARNVEL_COUNTING_RUNS", FRuns.string().c_str());
    qputenv("TARNVEL_COUNTING_HOLD", FHold.string().c_str());
    qputenv("TARNVEL_COUNTING_MIRRORED", FMirrored.string().c_str());
    qputenv("TARNVEL_COUNTING_HOLD_AFTER", FHoldAfter.string().c_str());
#else
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
#endif
  }
  static int Lines(const fs::path& file) {
    std::ifstream in(file);
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return lines;
  }
  int Runs() const { return Lines(FRuns); }
  // Runs that have mirrored (and wait while the hold-after file exists).
  int Mirrors() const { return Lines(FMirrored); }
  // Proves that the reports of every change made before it were handled: a
  // change of its own that no run copies (a program file), whose report comes
  // after theirs. Without a watch there are no reports to wait for, only the
  // events already queued.
  bool Barrier() {
    const TFolderMon* monitor = FForm ? FForm->FolderMon() : nullptr;
    if (!monitor || !monitor->IsActive()) {
      QTest::qWait(50);
      return true;
    }
    static int barriers = 0;
    const QString name = QStringLiteral("barreira%1.exe").arg(++barriers);
    bool handled = false;
    const TChangeClock::time_point made = TChangeClock::now();
    // Changes lost, read after the sentinel was made, cover it too.
    const QMetaObject::Connection seen =
        QObject::connect(FForm.get(), &TFrmTarnvel::ChangeHandled, [&](const QString& reported) {
          handled |= reported == name || (reported.isEmpty() && monitor->ChangeReadAt() >= made);
        });
    const fs::path sentinel = fs::path(monitor->Folder()) / name.toStdString();
    WriteFile(sentinel, "");
    const bool ok = PumpUntil([&] { return handled; });
    QObject::disconnect(seen);
    fs::remove(sentinel);
    if (!ok) FUnsettled = "the barrier's report never came";
    return ok;
  }
  // Waits until the reports so far were handled and the runs they asked for
  // have started and ended; the number of runs so far. A pass counts when no
  // run started or was going on across its barrier.
  int Settled() {
    int runs = Runs();
    for (int pass = 0; pass < 50; ++pass) {
      PumpUntil([] { return !MirrorRunning; });
      if (!Barrier()) return -1;
      const int now = Runs();
      if (now == runs && !MirrorRunning) return now;
      runs = now;
    }
    FUnsettled = "the runs never settled";
    return -1;
  }
  void ShowWindow() {
    Application->CreateForm(FrmTarnvel);
    FForm.reset(FrmTarnvel);
    FForm->show();
  }
  bool Mirrored(const std::string& name, int deadlineMs = 20000) { return MirroredFrom(FSource, name, deadlineMs); }
  bool MirroredFrom(const fs::path& source, const std::string& name, int deadlineMs = 20000) {
    return PumpUntil(
        [&] { return fs::exists(FDestination / name) && ReadFile(FDestination / name) == ReadFile(source / name); },
        deadlineMs);
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
    FPicker = CreateFolderPicker;
    FUnsettled = nullptr;
  }
  void cleanup() {
    CreateFolderPicker = FPicker;
    fs::remove(FHold);
    fs::remove(FHoldAfter);
    PumpUntil([] { return !MirrorRunning; });
    FForm.reset();
    FrmTarnvel = nullptr;
    FrmRoboCopy = nullptr;  // owned by the main window
    fs::remove(FTool);
    FTemp.reset();
    FSettings.reset();
    QVERIFY2(!FUnsettled, FUnsettled);
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
    FForm->DirectoryListOrigem->SetDirectory(N(second));
    QCOMPARE(QString::fromStdU16String(SourceRoot), N(second));
    QCOMPARE(QString::fromStdU16String(FForm->FolderMon()->Folder()), N(second));
    const int runs = Settled();
    FForm->CHKHotFolderOrigem->setChecked(false);
    QVERIFY(!FForm->FolderMon());
    QCOMPARE(Stored(u"AutoCheck"), QString("0"));
    // Released: what lands in either folder now starts nothing.
    WriteFile(second / "early.mxf", "second");
    Drop(FSource, "early.mxf", "first");
    QCOMPARE(Settled(), runs);
    FForm->CHKHotFolderOrigem->setChecked(true);
    QCOMPARE(Stored(u"AutoCheck"), QString("-1"));
    QCOMPARE(QString::fromStdU16String(FForm->FolderMon()->Folder()), N(second));
    Drop(second, "late.mxf", "late");
    QVERIFY(PumpUntil([&] { return fs::exists(FDestination / "late.mxf"); }));
    QCOMPARE(ReadFile(FDestination / "early.mxf"), std::string("second"));  // the whole current source is mirrored
  }

  // Whenever the user chooses another source, the watch moves with it.
  void ANewSourceIsWatched_data() {
    QTest::addColumn<bool>("byRaiz");
    QTest::newRow("source tree") << false;
    QTest::newRow("Raiz") << true;
  }
  void ANewSourceIsWatched() {
    QFETCH(bool, byRaiz);
    const fs::path second = *FTemp / "segunda";
    fs::create_directories(second);
    ShowWindow();
    const int runs = Settled();
    if (byRaiz) {
      CreateFolderPicker = [&] { return std::unique_ptr<TFolderPicker>(new AnsweringPicker(N(second))); };
      QTest::mouseClick(FForm->BtRaizOrigem, Qt::LeftButton);
    } else {
      FForm->DirectoryListOrigem->SetDirectory(N(second));
    }
    QCOMPARE(QString::fromStdU16String(SourceRoot), N(second));
    QVERIFY(FForm->CHKHotFolderOrigem->isChecked());
    QVERIFY(FForm->FolderMon() && FForm->FolderMon()->IsActive());
    QCOMPARE(QString::fromStdU16String(FForm->FolderMon()->Folder()), N(second));
    Settled();
    Drop(second, "nova.mxf", "nova");
    QVERIFY(MirroredFrom(second, "nova.mxf"));
    // The folder left behind is no longer watched.
    const int now = Settled();
    QVERIFY(now > runs);
    Drop(FSource, "antiga.mxf", "antiga");
    QCOMPARE(Settled(), now);
    QCOMPARE(ShownBoxes.size(), size_t(0));
  }

  // What landed while nothing watched is mirrored as soon as the watch starts,
  // with no further change in the source.
  void WhatLandedMeanwhileArrivesWhenTheWatchStarts_data() {
    QTest::addColumn<QString>("start");
    QTest::newRow("program start") << "start";
    QTest::newRow("ticking the box") << "tick";
    QTest::newRow("a new source") << "source";
  }
  void WhatLandedMeanwhileArrivesWhenTheWatchStarts() {
    QFETCH(QString, start);
    const fs::path second = *FTemp / "segunda";
    const fs::path source = start == "source" ? second : FSource;
    fs::create_directories(second);
    SettingValue(u"escrever", u"AutoCheck", start == "start" ? u"-1" : u"0");
    if (start == "start") WriteFile(source / "antes.mxf", "antes");
    ShowWindow();
    if (start != "start") {
      QCOMPARE(Settled(), 0);
      WriteFile(source / "antes.mxf", "antes");
    }
    if (start == "tick") FForm->CHKHotFolderOrigem->setChecked(true);
    if (start == "source") {
      FForm->CHKHotFolderOrigem->setChecked(true);
      Settled();
      FForm->DirectoryListOrigem->SetDirectory(N(second));
    }
    QVERIFY(MirroredFrom(source, "antes.mxf"));
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

    // A folder that appears brings what it holds, an empty one included.
    fs::create_directories(FSource / "vazia");
    QVERIFY(PumpUntil([&] { return fs::is_directory(FDestination / "vazia"); }));
    QCOMPARE(Settled(), runs + 1);

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
    const int before = Settled(), mirroredBefore = Mirrors();
    WriteFile(FHoldAfter, "");
    bool checked = false;
    QTimer drop;
    QObject::connect(&drop, &QTimer::timeout, [&] {
      // Runs nested inside the mirror's wait loop, once its copy is done.
      if (Mirrors() == mirroredBefore) return;
      drop.stop();
      QVERIFY(MirrorRunning);
      for (const char* name : {"durante1.mxf", "durante2.mxf", "durante3.mxf"}) Drop(FSource, name, name);
      QVERIFY(PumpUntil([&] { return SourceItems().contains("durante3.mxf"); }));
      QCOMPARE(Runs(), before + 1);
      fs::remove(FHoldAfter);
      checked = true;
    });
    drop.start(20);
    QTest::mouseClick(FForm->BtCopiar, Qt::LeftButton);
    QVERIFY(checked);
    for (const char* name : {"durante1.mxf", "durante2.mxf", "durante3.mxf"}) QVERIFY(Mirrored(name));
    QCOMPARE(Settled(), before + 2);
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
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(copy, ec);
        if (!ec && size < whole) ++partial;
        ++polls;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    std::thread writer([&] {
      const int fd = ::open(clip.string().c_str(), O_WRONLY | O_CREAT | O_TRUNC | kNoInherit, 0644);
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

  // A recording by another user while the program runs as an ordinary user:
  // neither the window nor the mirror tool may take the writer's lease, so the
  // file counts as in use while it changed within the last 2 seconds. The
  // destination never holds it cut short under its name, even across the
  // writer's pauses, and it arrives whole once the writer has been quiet.
  void ARecordingOfAnotherUserArrivesOnlyWhole() {
#ifdef _WIN32
    QSKIP("the writer and the program run as two other users through setpriv and POSIX ids");
#else
    if (geteuid() != 0) QSKIP("needs root, to run the writer and the program as two other users");
    const QString writerId = "65533";
    const fs::path clip = FSource / "gravando.mxf", copy = FDestination / "gravando.mxf";
    ShowWindow();
    Settled();
    // The ordinary user reaches the tool, its logs and both folders.
    for (const fs::path& path : {FTemp->path(), FSource, FDestination}) fs::permissions(path, fs::perms::all);
    fs::permissions(FTool, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    for (const fs::path& log : {FRuns, FMirrored}) {
      std::ofstream{log, std::ios::app};
      fs::permissions(log, fs::perms::all);
    }
    QProcess writer;
    writer.start("setpriv",
                 {"--reuid=" + writerId, "--regid=" + writerId, "--clear-groups", "sh", "-c",
                  "exec >'" + N(clip) +
                      "'; for pause in 0 0.2 1 0.3 1.2 0.1 0.5; do sleep $pause; head -c 1048576 /dev/zero; done"});
    QVERIFY(writer.waitForStarted());
    int cutShort = 0;
    bool arrived = false;
    {
      testsupport::ScopedUnprivileged user;
      if (user.Active()) {
        while (writer.state() != QProcess::NotRunning) {
          QTest::qWait(20);
          cutShort += fs::exists(copy);
        }
        arrived = Mirrored("gravando.mxf");
        Settled();
      }
    }
    writer.waitForFinished();
    QVERIFY(writer.exitCode() == 0);
    QCOMPARE(cutShort, 0);
    QVERIFY(arrived);
    QCOMPARE(fs::file_size(copy), std::uintmax_t(7 << 20));
#endif
  }

  // A writer's hidden temporary (as rsync writes ".name.XXXXXX" and renames it
  // when done) starts no run while it grows: no run would copy it. The rename
  // to the real name brings the file.
  void AHiddenTemporaryStartsNoRun() {
    ShowWindow();
    const int runs = Settled();
    const fs::path temporary = FSource / ".gravando.mxf.Xa12bc";
    {
      std::ofstream out(temporary, std::ios::binary);
      for (int piece = 0; piece < 5; ++piece) {
        out << std::string(256 * 1024, 'p') << std::flush;
        QCOMPARE(Settled(), runs);
      }
    }
    QCOMPARE(Settled(), runs);
    fs::rename(temporary, FSource / "gravando.mxf");
    QVERIFY(Mirrored("gravando.mxf"));
    QVERIFY(!fs::exists(FDestination / temporary.filename()));
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
    const int before = Settled(), mirroredBefore = Mirrors();
    WriteFile(FHoldAfter, "");
    int queued = 16384;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
    // Runs nested in the first run's wait loop, while its report holds the
    // worker: files that come and go fill the queue (a creation, a write, a
    // close and a removal each; reports that start no run), then the one that
    // stays is lost.
    QTimer flood;
    QObject::connect(&flood, &QTimer::timeout, [&] {
      if (Mirrors() == mirroredBefore) return;  // the first run has not mirrored yet
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
    QCOMPARE(Settled(), before + 2);
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

  // A folder renamed inside the source arrives under its new name.
  void ARenamedFolderArrivesUnderItsNewName() {
    ShowWindow();
    const fs::path day = FSource / "dia3";
    WriteFile(*FTemp / "dia3" / "clip.mxf", "clip");
    fs::rename(*FTemp / "dia3", day);
    QVERIFY(Mirrored("dia3/clip.mxf"));
    Settled();
    fs::rename(day, FSource / "dia3-final");
    QVERIFY(Mirrored("dia3-final/clip.mxf"));
  }

  // The destination's disk unplugged leaves its bare mount-point folder on
  // the system's disk: nothing is written there, the user is told (the hot
  // folder once until a run succeeds, "Sincronizar" on every click), and any
  // disk mounted there again is mirrored to.
  void AnUnpluggedDestinationDiskIsNeverWritten() {
    auto disk = std::make_unique<testsupport::Ext4Volume>(FDestination);
    if (!disk->Mounted()) QSKIP(disk->Refusal().c_str());
    const QString refusal("Sincronismo não iniciado: o disco de destino não está conectado.");
    ShowWindow();
    Drop(FSource, "a.mxf", "a");
    QVERIFY(Mirrored("a.mxf"));
    int runs = Settled();
    QVERIFY(disk->Unplug());
    Drop(FSource, "b.mxf", "b");
    Drop(FSource, "c.mxf", "c");
    QVERIFY(PumpUntil([&] { return SourceItems().contains("c.mxf") && ShownBoxes.size() == 1; }));
    QCOMPARE(Settled(), runs);
    QVERIFY(fs::is_empty(FDestination));
    QCOMPARE(ShownBoxes[0].Text, refusal);
    for (int click = 2; click <= 3; ++click) {
      QTest::mouseClick(FForm->BtCopiar, Qt::LeftButton);
      QCOMPARE(ShownBoxes.size(), size_t(click));
      QCOMPARE(ShownBoxes.back().Text, refusal);
    }
    QCOMPARE(Runs(), runs);
    QVERIFY(fs::is_empty(FDestination));

    // The same disk again.
    QVERIFY(disk->Plug());
    Drop(FSource, "d.mxf", "d");
    for (const char* name : {"b.mxf", "c.mxf", "d.mxf"}) QVERIFY(Mirrored(name));
    runs = Settled();
    QCOMPARE(ShownBoxes.size(), size_t(3));
    // After a run that succeeded, the hot folder tells of the next unplugging.
    QVERIFY(disk->Unplug());
    Drop(FSource, "e.mxf", "e");
    QVERIFY(PumpUntil([&] { return ShownBoxes.size() == 4; }));
    QCOMPARE(ShownBoxes.back().Text, refusal);
    // Another disk on the same mount point: a studio's second backup disk.
    disk.reset();
    testsupport::Ext4Volume other(FDestination);
    QVERIFY(other.Mounted());
    Drop(FSource, "f.mxf", "f");
    for (const char* name : {"a.mxf", "e.mxf", "f.mxf"}) QVERIFY(Mirrored(name));
    QVERIFY(Settled() > runs);
  }

  // The source's disk unplugged shows its empty mount-point folder: no run
  // takes that for the source, whatever the destination holds.
  void AnUnpluggedSourceDiskStartsNothing_data() {
    QTest::addColumn<bool>("preserve");
    QTest::newRow("destination files kept") << true;
    QTest::newRow("destination files purged") << false;
  }
  void AnUnpluggedSourceDiskStartsNothing() {
    QFETCH(bool, preserve);
    testsupport::Ext4Volume disk(FSource);
    if (!disk.Mounted()) QSKIP(disk.Refusal().c_str());
    SettingValue(u"escrever", u"AutoCheck", u"0");
    ShowWindow();
    FForm->ChkPreserva->setChecked(preserve);
    WriteFile(FSource / "a.mxf", "a");
    QTest::mouseClick(FForm->BtCopiar, Qt::LeftButton);
    QCOMPARE(ReadFile(FDestination / "a.mxf"), std::string("a"));
    QVERIFY(disk.Unplug());
    QTest::mouseClick(FForm->BtCopiar, Qt::LeftButton);
    QCOMPARE(Runs(), 1);
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Text, QString("Sincronismo não iniciado: o disco de origem não está conectado."));
    QVERIFY(fs::exists(FDestination / "a.mxf"));
    QVERIFY(disk.Plug());
    WriteFile(FSource / "b.mxf", "b");
    QTest::mouseClick(FForm->BtCopiar, Qt::LeftButton);
    QCOMPARE(ReadFile(FDestination / "b.mxf"), std::string("b"));
    QCOMPARE(ShownBoxes.size(), size_t(1));
  }

  // The watched source's disk unplugged: the label says so, nothing is
  // mirrored from the bare mount point, and once the disk is back the watch
  // is too, with one run for what landed meanwhile.
  void AnUnpluggedSourceIsWatchedAgainWhenItIsBack() {
    auto disk = std::make_unique<testsupport::Ext4Volume>(FSource);
    if (!disk->Mounted()) QSKIP(disk->Refusal().c_str());
    ShowWindow();
    WriteFile(FSource / "a.mxf", "a");
    QVERIFY(Mirrored("a.mxf"));
    QVERIFY(disk->Unplug());
    QVERIFY(PumpUntil([&] { return FForm->LBLOrigem->text().endsWith(QStringLiteral("(não encontrada)")); }));
    QVERIFY(disk->Plug());
    QVERIFY(PumpUntil([&] { return !FForm->LBLOrigem->text().endsWith(QStringLiteral("(não encontrada)")); }));
    QVERIFY(disk->Unplug());
    QVERIFY(PumpUntil([&] { return FForm->LBLOrigem->text().endsWith(QStringLiteral("(não encontrada)")); }));
    // Another disk on the same mount point, with a clip already on it.
    disk.reset();
    testsupport::Ext4Volume other(FSource);
    QVERIFY(other.Mounted());
    WriteFile(FSource / "b.mxf", "b");
    QVERIFY(Mirrored("b.mxf"));
    QCOMPARE(FForm->LBLOrigem->toolTip(), QStringLiteral("Origem: ") + QString::fromStdString(FSource.string()));
    WriteFile(FSource / "c.mxf", "c");
    QVERIFY(Mirrored("c.mxf"));
  }

  // A notice of the hot folder, open until the user clicks OK, holds up
  // nothing: a file dropped meanwhile is mirrored while it is open.
  void AnOpenNoticeHoldsUpNothing() {
    testsupport::SmallVolume volume(FDestination);
    if (!volume.Mounted()) QSKIP(volume.Refusal().c_str());
    WriteFile(FDestination / "ocupado.bin", std::string(700 * 1024, 'o'));
    ShowWindow();
    Settled();
    auto* modal = new ModalPresenter;
    bool mirroredWhileOpen = false;
    modal->WhileOpen = [&] {
      Drop(FSource, "leve.xml", "<leve/>");
      mirroredWhileOpen = Mirrored("leve.xml", 10000);
    };
    std::unique_ptr<TMessagePresenter> recording = Application->SetPresenter(std::unique_ptr<TMessagePresenter>(modal));
    Drop(FSource, "clip.mxf", std::string(600 * 1024, 'c'));
    // Returns once the box has closed: the box runs inside the wait.
    const bool shown = PumpUntil([] { return !ShownBoxes.empty(); });
    Application->SetPresenter(std::move(recording));
    QVERIFY(shown);
    QVERIFY2(ShownBoxes[0].Text.contains(N(FDestination / "clip.mxf")), qPrintable(ShownBoxes[0].Text));
    QVERIFY(mirroredWhileOpen);
    Settled();
  }

  // The copy program cannot be started (missing, being replaced): the user is
  // told once for the streak, the progress window closes, and the watch goes
  // on: once the program is back, the next file brings everything.
  void AProgramThatCannotStartLeavesTheWatchOn() {
    ShowWindow();
    Settled();
    const fs::path aside = *FTemp / "robocopy.aside";
    fs::rename(FTool, aside);
#ifdef _WIN32
    // Windows (and Wine) keep a robocopy.exe in the system folder, searched
    // after the own folder: there the program is one being replaced instead,
    // a file that does not start yet.
    WriteFile(FTool, "not a program");
    const QString code = "Code: 193";  // ERROR_BAD_EXE_FORMAT
#else
    const QString code = "Code: 2";
#endif
    Drop(FSource, "um.mxf", "1");
    QVERIFY(PumpUntil([] { return ShownBoxes.size() == 1; }));
    Drop(FSource, "dois.mxf", "2");
    QVERIFY(PumpUntil([&] { return SourceItems().contains("dois.mxf"); }));
    QTest::qWait(300);
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Icon, QMessageBox::Critical);
    QVERIFY2(ShownBoxes[0].Text.contains(code), qPrintable(ShownBoxes[0].Text));
    QVERIFY(!FrmRoboCopy || !FrmRoboCopy->isVisible());
    QVERIFY(FForm->FolderMon() && FForm->FolderMon()->IsActive());
    fs::remove(FTool);  // on Windows the file that did not start
    fs::rename(aside, FTool);
    Drop(FSource, "tres.mxf", "3");
    for (const char* name : {"um.mxf", "dois.mxf", "tres.mxf"}) QVERIFY(Mirrored(name));
    QCOMPARE(ShownBoxes.size(), size_t(1));
  }

  // A run whose progress measuring cannot start is no run: it is not left
  // marked as running, so the next click mirrors.
  void ARunThatCouldNotStartIsNotLeftRunning() {
#ifndef TARNVEL_FAILING_THREADS
    QSKIP("thread starts are failed through pthread_create, which sanitizers and Windows do not use");
#else
    SettingValue(u"escrever", u"AutoCheck", u"0");
    ShowWindow();
    WriteFile(FSource / "a.mxf", "a");
    FailingThreadStarts = 1;
    QTest::mouseClick(FForm->BtCopiar, Qt::LeftButton);
    FailingThreadStarts = 0;
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Icon, QMessageBox::Critical);
    QVERIFY(!MirrorRunning);
    QTest::mouseClick(FForm->BtCopiar, Qt::LeftButton);
    QCOMPARE(ReadFile(FDestination / "a.mxf"), std::string("a"));
    QVERIFY(!MirrorRunning);
#endif
  }
};

TARNVEL_UI_TEST_MAIN(HotFolderTest)
#include "hotfolder_test.moc"
