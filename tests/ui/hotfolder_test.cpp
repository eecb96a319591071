// The hot folder with a real monitor and the real mirror tool: whatever lands in
// the source appears in the destination without a click.
#include <QCoreApplication>
#include <QDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "forms/UFrmRoboCopy.h"
#include "forms/UFrmTarnvel.h"
#include "funcoes/funcoes.h"
#include "platform/process.h"
#include "small_volume.h"
#include "tempdir.h"
#include "uitest.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

QString N(const fs::path& path) { return QString::fromStdString(path.string()); }
QString Stored(const char16_t* name) {
  return QString::fromStdU16String(SettingValue(u"ler", name, u"<missing>"));
}

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
  fs::path FSource, FDestination, FRuns, FHold;
  fs::path FTool;  // our robocopy in the test program's folder

  // Each start of the mirror tool adds a line to the runs file; while the hold
  // file exists the tool waits before mirroring.
  void PlaceTool() {
    FTool = fs::path(platform::ExecutableFolder()) / "robocopy";
    std::ofstream script(FTool);
    script << "#!/bin/sh\n"
           << "echo run >> '" << FRuns.string() << "'\n"
           << "while [ -e '" << FHold.string() << "' ]; do sleep 0.02; done\n"
           << "exec '" << TARNVEL_MIRROR_TOOL << "' \"$@\"\n";
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
    return PumpUntil([&] {
      return fs::exists(FDestination / name) && ReadFile(FDestination / name) == ReadFile(FSource / name);
    });
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
    fs::create_directories(FSource);
    fs::create_directories(FDestination);
    SettingValue(u"escrever", u"storage_Origem", FSource.u16string());
    SettingValue(u"escrever", u"storage_Destino", FDestination.u16string());
    PlaceTool();
    ShownBoxes.clear();
  }
  void cleanup() {
    fs::remove(FHold);
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

  // A report during a mirror started by "Sincronizar" is refused and not kept.
  void AReportDuringAMirrorIsRefused() {
    ShowWindow();
    WriteFile(FHold, "");
    bool checked = false;
    QTimer::singleShot(0, [&] {
      // Runs nested inside the mirror's wait loop.
      QVERIFY(MirrorRunning);
      Drop(FSource, "durante.mxf", "d");
      QVERIFY(PumpUntil([&] { return SourceItems().contains("durante.mxf"); }));
      QCOMPARE(Runs(), 1);
      fs::remove(FHold);
      checked = true;
    });
    QTest::mouseClick(FForm->BtCopiar, Qt::LeftButton);
    QVERIFY(checked);
    QVERIFY(!MirrorRunning);
    QCOMPARE(Settled(), 1);
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
};

TARNVEL_UI_TEST_MAIN(HotFolderTest)
#include "hotfolder_test.moc"
