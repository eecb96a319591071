// One program per user: a later start brings the running one's window forward
// and ends without a window of its own; a lock left by a killed instance keeps
// no start from running; a folder that takes no lock keeps none either.
#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <memory>

#include "app/singleinstance.h"
#include "forms/UFrmTarnvel.h"
#include "tempdir.h"
#include "uitest.h"

using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

// The folder that holds the lock for one test: private, as the system makes
// it. The program finds it through its environment: POSIX XDG_RUNTIME_DIR
// names it; on Windows it is Corvalen in %LOCALAPPDATA%.
struct RuntimeFolder {
  TempDir Home;
#ifdef _WIN32
  fs::path Variable = Home / "local";
  fs::path Path = Variable / "Corvalen";
#else
  fs::path Path = Home / "run";
  fs::path Variable = Path;
#endif
  RuntimeFolder() {
    fs::create_directories(Path);
    fs::permissions(Path, fs::perms::owner_all, fs::perm_options::replace);
  }
};

// A start of the program as the user's, with the runtime folder and a home
// and settings of its own.
std::unique_ptr<QProcess> StartProgram(const RuntimeFolder& user) {
  auto process = std::make_unique<QProcess>();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
#ifdef _WIN32
  environment.insert("LOCALAPPDATA", Q(user.Variable));
#else
  environment.insert("XDG_RUNTIME_DIR", Q(user.Variable));
#endif
  environment.insert("HOME", Q(user.Home.path()));
  environment.insert("XDG_CONFIG_HOME", Q(user.Home / "config"));
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  process->setProcessEnvironment(environment);
  process->setProgram(TARNVEL_PROGRAM);
  process->start();
  return process;
}

// The process the lock file names; 0 for none.
qint64 LockHolder(const RuntimeFolder& user) {
  QFile lock(Q(user.Path / "tarnvel-kestro.lock"));
  return lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toLongLong() : 0;
}

int VisibleWindows() {
  int count = 0;
  for (const QWidget* widget : QApplication::topLevelWidgets()) count += widget->isVisible() ? 1 : 0;
  return count;
}

}  // namespace

class SingleInstanceTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    Application->MainFormOnTaskBar = true;
    Application->CreateForm(FrmTarnvel);
  }

  // This test program is the running instance; the program started beside it
  // is the later start.
  void ALaterStartBringsTheRunningWindowForwardAndEnds() {
    RuntimeFolder user;
    TSingleInstance running(Q(user.Path));
    QVERIFY(running.Claim());
    FrmTarnvel->show();
    QVERIFY(QTest::qWaitForWindowExposed(FrmTarnvel));
    TForm* other = nullptr;
    Application->CreateForm(other);
    other->show();
    other->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(other));
    FrmTarnvel->showMinimized();
    QTRY_VERIFY(FrmTarnvel->isMinimized());
    const int windows = VisibleWindows();

    std::unique_ptr<QProcess> later = StartProgram(user);
    QVERIFY(later->waitForStarted());
    // It has ended, having opened no window of its own: a second window would
    // keep it running.
    QTRY_VERIFY_WITH_TIMEOUT(later->state() == QProcess::NotRunning, 30000);
    QCOMPARE(later->exitStatus(), QProcess::NormalExit);
    QCOMPARE(later->exitCode(), 0);

    QVERIFY(!FrmTarnvel->isMinimized());
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(FrmTarnvel));
    QCOMPARE(VisibleWindows(), windows);
    other->close();
  }

  void ALockLeftByAKilledInstanceBlocksNoStart() {
    RuntimeFolder user;
    std::unique_ptr<QProcess> killed = StartProgram(user);
    QVERIFY(killed->waitForStarted());
    // Up once it holds the lock and, on POSIX, has left a socket file that
    // the next start must clear (a Windows pipe goes with its process).
    QTRY_COMPARE_WITH_TIMEOUT(LockHolder(user), killed->processId(), 30000);
#ifndef _WIN32
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Q(user.Path / "tarnvel-kestro.socket")), 30000);
#endif
    killed->kill();  // SIGKILL, TerminateProcess: nothing of its own is cleaned up
    QVERIFY(killed->waitForFinished());
    QVERIFY(QFile::exists(Q(user.Path / "tarnvel-kestro.lock")));

    std::unique_ptr<QProcess> next = StartProgram(user);
    QVERIFY(next->waitForStarted());
    // The lock is now its own: the lock file names its process first.
    QTRY_COMPARE_WITH_TIMEOUT(LockHolder(user), next->processId(), 30000);
    // It runs, and is the running instance: a start after it hands over to it.
    std::unique_ptr<QProcess> after = StartProgram(user);
    QVERIFY(after->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(after->state() == QProcess::NotRunning, 30000);
    QCOMPARE(after->exitCode(), 0);
    QCOMPARE(next->state(), QProcess::Running);

    next->terminate();
    // A window on no display takes no close message (Windows): ended by force.
    if (!next->waitForFinished(10000)) {
      next->kill();
      next->waitForFinished();
    }
  }

  void AFolderThatTakesNoLockBlocksNoStart_data() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("no runtime folder") << QString();
    QTest::newRow("below a file") << "file/run";
  }
  void AFolderThatTakesNoLockBlocksNoStart() {
    QFETCH(QString, folder);
    TempDir t;
    testsupport::WriteFile(t / "file", "");
    const QString path = folder.isEmpty() ? folder : Q(t / folder.toStdString());
    TSingleInstance first(path), second(path);
    QVERIFY(first.Claim());
    QVERIFY(second.Claim());
  }
};

TARNVEL_UI_TEST_MAIN(SingleInstanceTest)
#include "singleinstance_test.moc"
