// Starting with the session: the entry written in a scratch XDG_CONFIG_HOME,
// accepted by desktop-file-validate whatever the program's path holds, and
// removed again.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "tempdir.h"
#include "toolkit/autostart.h"
#include "uitest.h"

class AutostartTest : public QObject {
  Q_OBJECT

  // What desktop-file-validate says of the file; empty when it accepts it.
  static QString Complaints(const QString& path) {
    QProcess validate;
    validate.start(QStringLiteral("desktop-file-validate"), {path});
    if (!validate.waitForFinished(30000)) return QStringLiteral("desktop-file-validate did not end");
    const QString said = QString::fromUtf8(validate.readAllStandardOutput() + validate.readAllStandardError());
    return validate.exitCode() == 0 && !said.contains("error")
               ? QString()
               : said + " (exit code " + QString::number(validate.exitCode()) + ")";
  }

 private slots:
  void TickWritesAValidEntryUntickRemovesIt_data() {
    QTest::addColumn<QString>("program");
    QTest::newRow("plain path") << "/usr/lib/tarnvel/tarnvel";
    QTest::newRow("blanks and accents") << QString::fromUtf8("/opt/Meus Programas/Tarnvel Ação/tarnvel");
    QTest::newRow("characters special to Exec") << R"(/home/a$b/"q"/back\slash/100%/`x`/tarnvel)";
  }
  void TickWritesAValidEntryUntickRemovesIt() {
#ifdef _WIN32
    QSKIP("the Run key is the Windows route");
#else
    if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty())
      QSKIP("desktop-file-validate is not installed (desktop-file-utils)");
    QFETCH(QString, program);
    testsupport::IsolatedSettings scratch;  // XDG_CONFIG_HOME of the test's own
    const QString entry =
        QString::fromStdString((scratch.folder().parent_path() / "autostart" / "tarnvel.desktop").string());
    QVERIFY(!AutostartEnabled());
    QVERIFY(SetAutostart(true, program));
    QVERIFY(QFile::exists(entry));
    QVERIFY(AutostartEnabled());
    const QString complaints = Complaints(entry);
    QVERIFY2(complaints.isEmpty(), qPrintable(complaints));
    // The Exec line gives back the program's path by the entry's rules.
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(file.readAll()).contains("\nExec=\""));
    QVERIFY(SetAutostart(false, program));
    QVERIFY(!QFile::exists(entry));
    QVERIFY(!AutostartEnabled());
    // Removing what is not there is no failure.
    QVERIFY(SetAutostart(false, program));
#endif
  }
};

TARNVEL_UI_TEST_MAIN(AutostartTest)
#include "autostart_test.moc"
