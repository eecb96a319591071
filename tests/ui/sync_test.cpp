// "Sincronizar" and the mirror runner, with a stand-in named robocopy in the
// program's own folder: the arguments it gets, the progress window and its
// gauge during a run, the end of a run however it comes, refusals, a missing
// copy program; and a real mirror with the mirror tool where it is built.
#include <QTest>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <functional>
#include <memory>

#include "child_helper.h"
#include "foreign_process.h"
#include "small_volume.h"
#include "forms/UFrmRoboCopy.h"
#include "forms/UFrmTarnvel.h"
#include "funcoes/exceptions.h"
#include "funcoes/funcoes.h"
#include "funcoes/runner.h"
#include "tempdir.h"
#include "toolkit/history.h"
#include "uitest.h"

using namespace testsupport;

namespace {

QString Q(const fs::path& path) { return QString::fromStdU16String(path.u16string()); }
QString Q(const WideString& text) { return QString::fromStdU16String(text); }

const QString Incomplete =
    QString::fromUtf8("Sincronismo incompleto: a pasta de destino não é uma cópia completa da pasta de origem.");
const QString EmptySourceText = QString::fromUtf8(
    "Sincronismo não iniciado: a pasta de origem está vazia e a pasta de destino não. Nada foi apagado.");

QStringList Items(const QListWidget* list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
  names.sort();
  return names;
}

// Every file and folder under root, relative, sorted; folders end in "/".
QStringList Tree(const fs::path& root) {
  QStringList names;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    names << Q(entry.path().lexically_relative(root).generic_u16string()) + (entry.is_directory() ? "/" : "");
  names.sort();
  return names;
}

// The mirror line's arguments after the two folders.
QStringList Options(bool preserve) {
  QStringList options = {"/MIR"};
  if (preserve) options << "/XX";
  return options << "/FFT"
                 << "/Z"
                 << "/XA:H"
                 << "/R:0"
                 << "/XD"
                 << "$Recycle.bin"
                 << "Boot"
                 << "Recycler"
                 << "System Volume Information"
                 << "/XF"
                 << "*.exe";
}

// The copy program's closing summary, as the mirror tool writes it.
std::string SummaryTable(int copied, long long bytes, int failed, int extras) {
  char text[512];
  std::snprintf(text, sizeof text,
                "------------------------------------------------------------------------------\n\n"
                "   Source : /a/\n     Dest : /b/\n\n"
                "------------------------------------------------------------------------------\n\n"
                "               Total    Copied   Skipped  Mismatch    FAILED    Extras\n"
                "    Dirs :         1         0         1         0         0         0\n"
                "   Files :  %9d %9d         0         0 %9d %9d\n"
                "   Bytes :  %9lld %9lld         0         0         0         0\n\n",
                copied + failed, copied, failed, extras, bytes, bytes);
  return text;
}

// The run history's records, one block each.
QStringList HistoryRecords() {
  QFile log(RunLogPath());
  if (!log.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(log.readAll()).split("\n\n", Qt::SkipEmptyParts);
}

}  // namespace

class SyncTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> FTemp;
  std::unique_ptr<PlacedRobocopy> FRobocopy;
  fs::path FSource, FDestination, FRecords;
  // Runs on every pass of a run (from a zero timer inside the runner's message pump).
  std::function<void()> FDuringRun;

  fs::path Hold() const { return FRecords / "hold"; }
  void Release() const {
    std::error_code ec;
    fs::remove(Hold(), ec);
  }
  int Starts() const { return ReadLines(FRecords / "starts.txt").size(); }
  bool EndedByItself() const { return fs::exists(FRecords / "ends.txt"); }

  // Clicks "Sincronizar" with duringRun called on every pass; the stand-in
  // waits until the hold file goes. A run that goes on past budget passes is
  // released, so a wrong gauge fails the test instead of hanging it.
  void Click(std::function<void()> duringRun, bool hold = true, int budget = 3000) {
    if (hold) WriteFile(Hold(), "");
    QTimer pass;
    pass.setInterval(0);
    connect(&pass, &QTimer::timeout, [&] {
      if (FDuringRun) FDuringRun();
      if (--budget <= 0) Release();
    });
    FDuringRun = std::move(duringRun);
    pass.start();
    FrmTarnvel->BtCopiar->click();
    pass.stop();
    FDuringRun = nullptr;
    Release();
  }

  // What every run leaves behind at its end.
  void VerifyEnded(const QStringList& destinationItems) {
    QCOMPARE(FrmRoboCopy->GaugeEspelho->Progress(), 0);
    QVERIFY(!MirrorRunning);
    QVERIFY(!FrmRoboCopy->isVisible());
    QCOMPARE(Items(FrmTarnvel->FileListBoxDestino), destinationItems);
  }

  // No box when text is empty; otherwise one plain notice with that text.
  void VerifyNotice(const QString& text) {
    if (text.isEmpty()) {
      QVERIFY(ShownBoxes.empty());
      return;
    }
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Icon, QMessageBox::NoIcon);
    QCOMPARE(ShownBoxes[0].Caption, Application->Title());
    QCOMPARE(ShownBoxes[0].Text, text);
  }

 private slots:
  void initTestCase() {
    // As the program starts: the progress window is then owned by the main window.
    Application->MainFormOnTaskBar = true;
    Application->CreateForm(FrmTarnvel);
    QVERIFY(!FrmRoboCopy);
  }

  void init() {
    FTemp = std::make_unique<TempDir>();
    FSource = *FTemp / "origem";
    FDestination = *FTemp / "destino";
    FRecords = PrepareStandInFolders(FTemp->path());
    FRobocopy = std::make_unique<PlacedRobocopy>(fs::path(platform::ExecutableFolder()));
    FrmTarnvel->ChkPreserva->setChecked(true);
    FrmTarnvel->FileListBoxDestino->SetDirectory(Q(FDestination));
    ShownBoxes.clear();
  }

  void cleanup() { ReleaseStandIn(FRobocopy, FTemp); }

  void FirstClickCreatesTheProgressWindowEvenWhenTheRunIsRefused() {
    fs::remove(FSource);
    FrmTarnvel->BtCopiar->click();
    QVERIFY(FrmRoboCopy);
    QCOMPARE(FrmRoboCopy->parentWidget(), static_cast<QWidget*>(FrmTarnvel));
    QVERIFY(FrmRoboCopy->isVisible());
    QCOMPARE(FrmRoboCopy->GaugeEspelho->Progress(), 33);
    TFrmRoboCopy* first = FrmRoboCopy;
    FrmRoboCopy->close();
    FrmTarnvel->BtCopiar->click();
    QCOMPARE(FrmRoboCopy, first);
    QVERIFY(FrmRoboCopy->isVisible());
    QCOMPARE(Starts(), 0);
    QVERIFY(ShownBoxes.empty());
  }

  void ArgumentsOfTheCopyProgram_data() {
    QTest::addColumn<bool>("preserve");
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<QString>("destinationName");
    QTest::newRow("preserving") << true << "origem"
                                << "destino";
    QTest::newRow("mirroring") << false << "origem"
                               << "destino";
    QTest::newRow("blanks and accents") << true << QString::fromUtf8("mídia de origem") << "destino final";
  }
  void ArgumentsOfTheCopyProgram() {
    QFETCH(bool, preserve);
    QFETCH(QString, sourceName);
    QFETCH(QString, destinationName);
    const fs::path source = *FTemp / sourceName.toStdU16String(),
                   destination = *FTemp / destinationName.toStdU16String();
    fs::create_directories(source);
    fs::create_directories(destination);
    SourceRoot = source.u16string();
    DestinationRoot = destination.u16string();
    FrmTarnvel->ChkPreserva->setChecked(preserve);

    bool runningDuring = false;
    Click([&] {
      runningDuring = MirrorRunning;
      Release();
    });

    const QString delimiter = QChar(PathDelim);
    const QStringList want =
        QStringList{"robocopy", Q(source) + delimiter, Q(destination) + delimiter} + Options(preserve);
    QStringList got;
    for (const std::u16string& arg : ReadLines(FRecords / "argv.txt")) got << Q(arg);
    QCOMPARE(got, want);
    // Started from the program's own folder.
    QCOMPARE(QString::fromUtf8(ReadFile(FRecords / "self.txt")), Q(FRobocopy->path()));
    QCOMPARE(Starts(), 1);
    QVERIFY(runningDuring);
    QVERIFY(EndedByItself());
    VerifyEnded({});
  }

  void GaugeFollowsTheBytes() {
    WriteFile(FSource / "clip.mp4", std::string(8, 's'));
    // Destination sizes against the source's 8 bytes, and the percentage each must show.
    const int64_t sizes[] = {1, 3, 4, 16};
    const int shows[] = {12, 38, 50, 100};
    QList<int> seen;
    bool runningThroughout = true;
    size_t step = 0;
    Click([&] {
      runningThroughout = runningThroughout && MirrorRunning;
      const int gauge = FrmRoboCopy->GaugeEspelho->Progress();
      if (seen.isEmpty() || seen.back() != gauge) seen << gauge;
      if (step > 0 && gauge != shows[step - 1]) return;
      if (step == std::size(sizes)) return Release();
      // Put in place whole, as the copy program does: the trees are measured on
      // another thread, which must never catch the file cut short mid-write.
      WriteFile(*FTemp / "clip.part", std::string(sizes[step++], 'd'));
      fs::rename(*FTemp / "clip.part", FDestination / "clip.mp4");
    });
    QCOMPARE(seen, (QList<int>{0, 12, 38, 50, 100}));
    QVERIFY(runningThroughout);
    QVERIFY(EndedByItself());
    VerifyEnded({"clip.mp4"});
  }

  // A folder pick cancelled during a run empties a global: that side then
  // measures nothing, and the run goes on to its normal end.
  void AGlobalEmptiedDuringARun_data() {
    QTest::addColumn<bool>("source");  // which global is emptied
    QTest::addColumn<int>("shows");
    QTest::newRow("source") << true << 100;
    QTest::newRow("destination") << false << 0;
  }
  void AGlobalEmptiedDuringARun() {
    QFETCH(bool, source);
    QFETCH(int, shows);
    WriteFile(FSource / "clip.mp4", std::string(8, 's'));
    WriteFile(FDestination / "clip.mp4", std::string(4, 'd'));
    QList<int> seen;
    Click([&] {
      const int gauge = FrmRoboCopy->GaugeEspelho->Progress();
      if (seen.isEmpty() && gauge == 0) return;  // the first measurement is still under way
      if (seen.isEmpty() || seen.back() != gauge) seen << gauge;
      if (gauge == 50) (source ? SourceRoot : DestinationRoot).clear();
      if (gauge == shows) Release();
    });
    QCOMPARE(seen, (QList<int>{50, shows}));
    QVERIFY(EndedByItself());
    VerifyEnded({"clip.mp4"});
  }

  void ClickDuringARunStartsNothingAndReturns() {
    bool returned = false, shownAgain = false, stillRunning = false;
    int startsThen = 0;
    Click([&] {
      if (returned || Starts() == 0) return;
      FrmRoboCopy->Button2->click();  // "Fechar": the copy goes on
      FrmTarnvel->BtCopiar->click();
      returned = true;
      shownAgain = FrmRoboCopy->isVisible();
      stillRunning = MirrorRunning && fs::exists(Hold());
      startsThen = Starts();
      Release();
    });
    QVERIFY(returned);
    QVERIFY(shownAgain);
    QVERIFY(stillRunning);
    QCOMPARE(startsThen, 1);
    QCOMPARE(Starts(), 1);
    VerifyEnded({});
  }

  void StoppingEndsTheRunThroughItsEnd_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Interromper Processo") << "stop button";
    QTest::newRow("main window closing") << "close handler";
  }
  // A stopped run shows nothing, whatever failures the copy had named by then.
  // Only the run's own copy ends: another copy program of the same name, one
  // this program did not start, goes on.
  void StoppingEndsTheRunThroughItsEnd() {
    QFETCH(QString, how);
    ForeignProcess foreign(
        CopyProgram(TARNVEL_SLEEPER, *FTemp / "outro", platform::ToUtf8(platform::ProgramFileName(u"robocopy"))), {});
    QVERIFY(foreign.Started());
    WriteFile(FRecords / "exit.txt", "8");
    WriteFile(FRecords / "output.txt", "ERROR : Copying File /d/clip.mp4 : No space left on device\n");
    bool asked = false, endedWithinTheLoop = false;
    auto run = [&] {
      Click([&] {
        // Named robocopy only once it runs.
        if (asked || Starts() == 0) return;
        asked = true;
        WriteFile(FDestination / "parcial.mov", "x");
        if (how == "stop button")
          FrmRoboCopy->BtInterromper->click();
        else
          FrmTarnvel->close();  // as the user closes the window: its close handler, then the loop's end
      });
      endedWithinTheLoop = !MirrorRunning && !FrmRoboCopy->isVisible();
    };
    if (how == "stop button") {
      run();
    } else {
      // The program's own loop, shown on the same folders: the close ends it,
      // but only once the run, copy ended and end steps done, has returned.
      SettingValue(u"escrever", u"storage_Origem", SourceRoot);
      SettingValue(u"escrever", u"storage_Destino", DestinationRoot);
      QTimer::singleShot(0, run);
      Application->Run();
      QVERIFY(endedWithinTheLoop);
      QVERIFY(!FrmTarnvel->isVisible());
    }
    QVERIFY(asked);
    // Ended by the stop, not by itself: the stand-in was still held.
    QVERIFY(!EndedByItself());
    VerifyEnded({"parcial.mov"});
    VerifyNotice({});
    QVERIFY2(foreign.End(), "a copy program this program did not start was ended");
  }

  void CloseWithoutARunEndsNoCopyProgram() {
    WriteFile(Hold(), "");
    platform::ChildProcess child =
        StartChild(FRobocopy->path().u16string(), u"robocopy " + SourceRoot + u"/ " + DestinationRoot + u"/");
    // Named robocopy only once it runs.
    QTRY_VERIFY_WITH_TIMEOUT(Starts() > 0, 60000);
    emit FrmTarnvel->OnClose();
    Release();
    WaitForEnd(child);
    QVERIFY(EndedByItself());
  }

  void MissingCopyProgramShowsTheSystemErrorAndTheNextClickTriesAgain() {
    FRobocopy.reset();
#ifdef _WIN32
    // Windows (and Wine) keep a robocopy.exe in the system folder, searched
    // before PATH, so it is never missing: the one in the own folder is one
    // that cannot start instead, as a copy cut short leaves it.
    WriteFile(fs::path(platform::ExecutableFolder()) / "robocopy.exe", "not a program");
    const QString error = QString("System Error.  Code: 193.") + LineBreak;  // ERROR_BAD_EXE_FORMAT
#else
    const QString error = QString("System Error.  Code: 2.") + LineBreak;
#endif
    {
      // Neither the own folder nor PATH holds one.
      ScopedPath path(u"");
      FrmTarnvel->BtCopiar->click();
    }
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Icon, QMessageBox::Critical);
    QVERIFY2(ShownBoxes[0].Text.startsWith(error), qPrintable(ShownBoxes[0].Text));
    QVERIFY(!MirrorRunning);
    QVERIFY(FrmRoboCopy->isVisible());
    QCOMPARE(Starts(), 0);

    FRobocopy = std::make_unique<PlacedRobocopy>(fs::path(platform::ExecutableFolder()));
    Click({}, false);
    QCOMPARE(Starts(), 1);
    VerifyEnded({});
  }

  void Refusals_data() {
    QTest::addColumn<QString>("source");  // relative to the test's folder; "" for an empty global
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("notice");  // the overlap notice; otherwise silent
    // clang-format off
    QTest::newRow("missing source")                 << "nada"          << "destino"      << false;
    QTest::newRow("missing destination")            << "origem"        << "nada"         << false;
    QTest::newRow("empty destination")              << "origem"        << ""             << false;
    QTest::newRow("same folder")                    << "origem"        << "origem"       << true;
    QTest::newRow("destination inside the source")  << "origem"        << "origem/copia" << true;
    QTest::newRow("source inside the destination")  << "destino/fonte" << "destino"      << true;
    QTest::newRow("same folder through a link")     << "origem"        << "atalho"       << true;
    // clang-format on
  }
  void Refusals() {
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(bool, notice);
    fs::create_directories(FSource / "copia");
    fs::create_directories(FDestination / "fonte");
    if (destination == "atalho") {
      const bool linked = TryLink(FSource, *FTemp / "atalho") && fs::is_directory(*FTemp / "atalho");
#ifdef _WIN32
      if (!linked) QSKIP("Wine makes no symbolic link to a folder (CreateSymbolicLinkW)");
#endif
      QVERIFY(linked);
    }
    auto global = [&](const QString& name) {
      return name.isEmpty() ? WideString() : (*FTemp / name.toStdU16String()).u16string();
    };
    SourceRoot = global(source);
    DestinationRoot = global(destination);

    FrmTarnvel->BtCopiar->click();

    QCOMPARE(Starts(), 0);
    QVERIFY(!MirrorRunning);
    // The progress window stays until the user closes it.
    QVERIFY(FrmRoboCopy->isVisible());
    VerifyNotice(!notice ? QString()
                         : QString::fromUtf8("Sincronismo não iniciado: a pasta de origem e a pasta de "
                                             "destino são a mesma pasta, ou uma está dentro da outra.\n\n"
                                             "Origem: %1\nDestino: %2")
                               .arg(Q(SourceRoot), Q(DestinationRoot)));
  }

  void SiblingsWithACommonPrefixAreMirrored() {
    const fs::path sibling = FSource.string() + "2";
    fs::create_directories(sibling);
    DestinationRoot = sibling.u16string();
    Click({}, false);
    QCOMPARE(Starts(), 1);
    QVERIFY(ShownBoxes.empty());
  }

  // How the copy ended decides whether the user is told; the lines it wrote
  // go into the notice.
  void ExitCodes_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("notice");
    for (int code : {0, 1, 2, 3}) QTest::newRow(qPrintable(QString::number(code))) << code << false;
    for (int code : {8, 9, 16}) QTest::newRow(qPrintable(QString::number(code))) << code << true;
  }
  void ExitCodes() {
    QFETCH(int, code);
    QFETCH(bool, notice);
    WriteFile(FRecords / "exit.txt", std::to_string(code));
    WriteFile(FRecords / "output.txt", "ERROR : Copying File /d/clip.mp4 : No space left on device\n");
    Click({}, false);
    QCOMPARE(Starts(), 1);
    VerifyEnded({});
    VerifyNotice(notice ? Incomplete + "\n\nERROR : Copying File /d/clip.mp4 : No space left on device" : QString());
  }

  // 10 MB of failure lines: the runner drains them as the copy goes and keeps five.
  void AFloodOfFailureOutput() {
    WriteFile(FRecords / "exit.txt", "9");
    WriteFile(FRecords / "flood.txt", std::to_string(10 * 1024 * 1024));
    Click({}, false);
    QVERIFY(EndedByItself());
    VerifyEnded({});
    QCOMPARE(ShownBoxes.size(), size_t(1));
    const QStringList lines = ShownBoxes[0].Text.split('\n');
    QCOMPARE(lines.size(), 8);
    QCOMPARE(lines.front(), Incomplete);
    QCOMPARE(lines[2], QString("ERROR : Copying File /flood/clip.mp4 : No space left on device"));
    QCOMPARE(lines.back(), QString("..."));
  }

  // A failure the copy program reports after a stopped run is its own again.
  void AFailureAfterAStoppedRunIsShown() {
    bool asked = false;
    Click([&] {
      if (asked || Starts() == 0) return;
      asked = true;
      FrmRoboCopy->BtInterromper->click();
    });
    QVERIFY(ShownBoxes.empty());
    WriteFile(FRecords / "exit.txt", "8");
    Click({}, false);
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Text, Incomplete);
  }

  // Every run leaves one record in the history: how it was started, the two
  // folders, the copy program's exit and the summary's counts, and the lines
  // that named failures.
  void History() {
    QFile::remove(RunLogPath());
#ifdef _WIN32
    QCOMPARE(RunLogPath(), QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA")) + "/Corvalen/TARNVEL.log");
#else
    QCOMPARE(RunLogPath(), QDir::homePath() + "/.local/state/Corvalen/TARNVEL.log");
#endif
    FrmTarnvel->ChkPreserva->setChecked(false);  // extras deleted
    // Succeeded, with copies and extras.
    WriteFile(FRecords / "exit.txt", "3");
    WriteFile(FRecords / "output.txt", SummaryTable(3, 1234, 0, 2));
    Click({}, false);
    // Failed on one clip.
    WriteFile(FRecords / "exit.txt", "9");
    WriteFile(FRecords / "output.txt",
              "ERROR : Copying File /d/clip.mp4 : No space left on device\n" + SummaryTable(1, 10, 1, 0));
    Click({}, false);
    ShownBoxes.clear();
    // Stopped by the user before it wrote anything.
    WriteFile(FRecords / "output.txt", "");
    bool asked = false;
    Click([&] {
      if (asked || Starts() == 0) return;
      asked = true;
      FrmRoboCopy->BtInterromper->click();
    });
    QVERIFY(asked);

    const QStringList records = HistoryRecords();
    QCOMPARE(records.size(), 3);
    const QStringList common = {"  Sincronizar", "  Origem: " + Q(FSource), "  Destino: " + Q(FDestination)};
    const QList<QStringList> expected = {
        {"  Código de saída: 3", "  Arquivos copiados: 3", "  Bytes copiados: 1234", "  Extras apagados: 2",
         "  Falhas: 0"},
        {"  Código de saída: 9", "  Arquivos copiados: 1", "  Bytes copiados: 10", "  Extras apagados: 0",
         "  Falhas: 1", "  Linhas de falha: 1", "    ERROR : Copying File /d/clip.mp4 : No space left on device"},
#ifdef _WIN32
        // Ended by TerminateProcess with code 0.
        {"  Código de saída: 0 (interrompido pelo usuário)", "  Contagens: sem resumo do programa de cópia"},
#else
        {"  Código de saída: sinal 9 (interrompido pelo usuário)", "  Contagens: sem resumo do programa de cópia"},
#endif
    };
    for (int i = 0; i < 3; ++i) {
      const QStringList lines = records[i].split('\n');
      QVERIFY2(
          QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  Sincronizar$").match(lines[0]).hasMatch(),
          qPrintable(records[i]));
      QVERIFY2(lines.contains(common[1]) && lines.contains(common[2]), qPrintable(records[i]));
      QVERIFY2(lines.filter(QRegularExpression("^  Duração: \\d+\\.\\d s$")).size() == 1, qPrintable(records[i]));
      for (const QString& line : expected[i]) QVERIFY2(lines.contains(line), qPrintable(line + "\n" + records[i]));
    }
  }

  // A history that cannot be written (its state folder is a file) changes
  // nothing else: the run copies, ends and shows nothing.
  void AnUnwritableHistoryChangesNothing() {
#ifdef _WIN32
    const char* state = "LOCALAPPDATA";
#else
    const char* state = "XDG_STATE_HOME";
#endif
    const QByteArray was = qgetenv(state);
    WriteFile(*FTemp / "state", "not a folder");
    qputenv(state, (*FTemp / "state").string().c_str());
    WriteFile(FDestination / "antigo.mov", "x");
    WriteFile(FRecords / "exit.txt", "1");
    Click({}, false);
    if (was.isNull())
      qunsetenv(state);
    else
      qputenv(state, was);
    QCOMPARE(Starts(), 1);
    VerifyEnded({"antigo.mov"});
    VerifyNotice({});
    QVERIFY(fs::is_regular_file(*FTemp / "state"));
  }

  // An empty source with purging would delete the whole destination.
  void EmptySource_data() {
    QTest::addColumn<bool>("preserve");
    QTest::addColumn<QString>("sourceHolds");  // "", "folders" (empty ones) or "hidden" (files)
    QTest::addColumn<bool>("destinationFiles");
    QTest::addColumn<bool>("refused");
    QTest::newRow("purging") << false << "" << true << true;
    QTest::newRow("purging, only empty folders in the source") << false << "folders" << true << true;
    QTest::newRow("purging, only hidden files in the source") << false << "hidden" << true << true;
    QTest::newRow("preserving") << true << "" << true << false;
    QTest::newRow("purging into an empty destination") << false << "" << false << false;
  }
  void EmptySource() {
    QFETCH(bool, preserve);
    QFETCH(QString, sourceHolds);
    QFETCH(bool, destinationFiles);
    QFETCH(bool, refused);
    if (sourceHolds == "folders") fs::create_directories(FSource / "DCIM" / "100");
    if (sourceHolds == "hidden") WriteFile(FSource / ".Trashes" / "501" / "x", "x");
    if (destinationFiles) {
      WriteFile(FDestination / "clip.mp4", "video");
      WriteFile(FDestination / "sub" / "b.mov", "filme");
    }
    FrmTarnvel->ChkPreserva->setChecked(preserve);
    Click({}, false);
    QCOMPARE(Starts(), refused ? 0 : 1);
    QVERIFY(!MirrorRunning);
    if (destinationFiles) {
      QCOMPARE(ReadFile(FDestination / "clip.mp4"), std::string("video"));
      QCOMPARE(ReadFile(FDestination / "sub" / "b.mov"), std::string("filme"));
    }
    VerifyNotice(refused ? EmptySourceText : QString());
  }

  // The hot folder (which calls the command without a sender) is told once
  // per pair of folders; every click is told.
  void EmptySourceHotFolderOncePerPair() {
    // The hot folder's notices are shown once the event loop comes round.
    const auto hotFolderRun = [] {
      FrmTarnvel->BtCopiarClick(nullptr);
      QCoreApplication::sendPostedEvents();
    };
    WriteFile(FDestination / "clip.mp4", "video");
    FrmTarnvel->ChkPreserva->setChecked(false);
    hotFolderRun();
    hotFolderRun();
    QCOMPARE(ShownBoxes.size(), size_t(1));
    FrmTarnvel->BtCopiar->click();
    QCOMPARE(ShownBoxes.size(), size_t(2));
    const fs::path other = *FTemp / "outra";
    WriteFile(other / "x.mov", "x");
    DestinationRoot = other.u16string();
    hotFolderRun();
    hotFolderRun();
    QCOMPARE(ShownBoxes.size(), size_t(3));
    for (const ShownBox& box : ShownBoxes) QCOMPARE(box.Text, EmptySourceText);
    QCOMPARE(Starts(), 0);
    QCOMPARE(ReadFile(FDestination / "clip.mp4"), std::string("video"));
  }

  // A destination that fills up: the real mirror tool fails on the clip and
  // the user is told, with the clip's path.
  void AFullDestinationIsReported() {
#ifndef TARNVEL_MIRROR_TOOL
    QSKIP("the mirror tool (target robocopy) is not part of this build");
#else
    SmallVolume volume(FDestination);
    if (!volume.Mounted()) QSKIP(volume.Refusal().c_str());
    FRobocopy.reset();
    FRobocopy = std::make_unique<PlacedRobocopy>(fs::path(platform::ExecutableFolder()), fs::path(TARNVEL_MIRROR_TOOL));
    WriteFile(FSource / "clip.mp4", std::string(3 * 1024 * 1024, 'v'));
    WriteFile(FSource / "clip.xml", "<clip/>");
    Click({}, false);
    QCOMPARE(ShownBoxes.size(), size_t(1));
    const QString text = ShownBoxes[0].Text;
    QVERIFY2(text.startsWith(Incomplete + "\n\n"), qPrintable(text));
    QVERIFY2(text.contains(Q(FDestination / "clip.mp4")), qPrintable(text));
    QVERIFY2(!text.contains("clip.xml"), qPrintable(text));
    VerifyEnded({"clip.xml"});
#endif
  }

  // The real mirror tool, where the build has it.
  void RealMirror_data() {
    QTest::addColumn<bool>("preserve");
    QTest::addColumn<QStringList>("after");
    QStringList copied = {"clip.mp4", "sub/", "sub/b.mov", "vazio/"};
#ifndef _WIN32
    copied << ".tarnvel/" << ".tarnvel/XXH128SUMS";  // the tool's list of the copies it verified
#endif
    QTest::newRow("extras kept") << true << (copied + QStringList{"extra.txt", "sub/velho.txt"});
    QTest::newRow("extras purged") << false << copied;
  }
  void RealMirror() {
#ifndef TARNVEL_MIRROR_TOOL
    QSKIP("the mirror tool (target robocopy) is not part of this build");
#else
    QFETCH(bool, preserve);
    QFETCH(QStringList, after);
    if (!fs::exists(TARNVEL_MIRROR_TOOL)) QSKIP("the mirror tool has not been built: " TARNVEL_MIRROR_TOOL);
    FRobocopy.reset();  // the stand-in goes first: it removes the file on its way out
    FRobocopy = std::make_unique<PlacedRobocopy>(fs::path(platform::ExecutableFolder()), fs::path(TARNVEL_MIRROR_TOOL));
    WriteFile(FSource / "clip.mp4", "video");
    WriteFile(FSource / "sub" / "b.mov", "filme");
    fs::create_directories(FSource / "vazio");
    WriteFile(FSource / "setup.exe", "program");
    WriteFile(FSource / ".oculto", "hidden");
    WriteFile(FDestination / "extra.txt", "kept only when preserving");
    WriteFile(FDestination / "sub" / "velho.txt", "old");
    FrmTarnvel->ChkPreserva->setChecked(preserve);

    Click({}, false);

    QVERIFY(ShownBoxes.empty());
    after.sort();
    QCOMPARE(Tree(FDestination), after);
    // The tool's own summary gave the history its counts.
    const QStringList lines = HistoryRecords().last().split('\n');
    QVERIFY2(lines.contains("  Arquivos copiados: 2"), qPrintable(lines.join('\n')));
    QVERIFY2(lines.contains(QString("  Extras apagados: %1").arg(preserve ? 0 : 2)), qPrintable(lines.join('\n')));
    QCOMPARE(ReadFile(FDestination / "sub" / "b.mov"), std::string("filme"));
    QStringList files;
    for (const QString& name : after)
      if (!name.contains('/')) files << name;
    VerifyEnded(files);
#endif
  }
};

TARNVEL_UI_TEST_MAIN(SyncTest)
#include "sync_test.moc"
