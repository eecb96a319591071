// The tray icon on a real X display (Xvfb) with a stand-alone tray host
// (trayer): absent without a host, shown while the hot folder is on, its
// tooltip following the hot folder, "Abrir" bringing the window back.
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <memory>

#include "child_helper.h"
#include "forms/UFrmRoboCopy.h"
#include "forms/UFrmTarnvel.h"
#include "funcoes/funcoes.h"
#include "platform/process.h"
#include "tempdir.h"
#include "uitest.h"

namespace fs = std::filesystem;
using namespace testsupport;

class TrayTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> FTemp;
  std::unique_ptr<PlacedRobocopy> FRobocopy;
  QProcess FTrayer;

  static bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
    for (int waited = 0; waited < ms; waited += 20) {
      if (done()) return true;
      QTest::qWait(20);
    }
    return done();
  }
  QAction* MenuAction(const QString& text) {
    for (QAction* action : FrmTarnvel->Tray->Menu()->actions())
      if (action->text() == text) return action;
    return nullptr;
  }
  fs::path Records() const { return *FTemp / "registros"; }

 private slots:
  void initTestCase() {
    if (QGuiApplication::platformName() != "xcb") QSKIP("needs an X display: run under xvfb-run");
    FTemp = std::make_unique<TempDir>();
    PrepareStandInFolders(FTemp->path());
    FRobocopy = std::make_unique<PlacedRobocopy>(fs::path(platform::ExecutableFolder()));
    SettingValue(u"escrever", u"storage_Origem", SourceRoot);
    SettingValue(u"escrever", u"storage_Destino", DestinationRoot);
    Application->MainFormOnTaskBar = true;
    Application->CreateForm(FrmTarnvel);
    FrmTarnvel->show();
    QVERIFY(QTest::qWaitForWindowExposed(FrmTarnvel));
  }
  void cleanupTestCase() {
    if (FrmTarnvel) FrmTarnvel->CHKHotFolderOrigem->setChecked(false);
    if (FTrayer.state() != QProcess::NotRunning) {
      FTrayer.kill();
      FTrayer.waitForFinished();
    }
    FRobocopy.reset();
    FTemp.reset();
  }

  // Without a tray host the box works as before and no icon exists.
  void WithoutATrayNothingChanges() {
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    FrmTarnvel->CHKHotFolderOrigem->setChecked(true);
    QVERIFY(FrmTarnvel->FolderMon());
    QVERIFY(!FrmTarnvel->Tray->Icon());
    QVERIFY(PumpUntil([] { return !MirrorRunning; }));
    FrmTarnvel->CHKHotFolderOrigem->setChecked(false);
    QVERIFY(!FrmTarnvel->FolderMon());
  }

  void WithATrayHost() {
    if (QStandardPaths::findExecutable("trayer").isEmpty()) QSKIP("trayer is not installed");
    FTrayer.start("trayer", {"--edge", "top", "--align", "right", "--width", "10"});
    QVERIFY(FTrayer.waitForStarted());
    QVERIFY2(PumpUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }), "trayer's tray did not appear");

    // The icon appears with the tick, watching the source.
    FrmTarnvel->CHKHotFolderOrigem->setChecked(true);
    QVERIFY(FrmTarnvel->Tray->Icon());
    QVERIFY(FrmTarnvel->Tray->Icon()->isVisible());
    QVERIFY(PumpUntil([] { return !MirrorRunning; }));
    const QString watching = QStringLiteral("Observando ") + QString::fromStdU16String(SourceRoot);
    QVERIFY2(FrmTarnvel->Tray->Icon()->toolTip().contains(watching), qPrintable(FrmTarnvel->Tray->Icon()->toolTip()));

    // Copying, with its percentage, during a run; watching again after it.
    WriteFile(Records() / "hold", "");
    QString during;
    QTimer::singleShot(300, [&] {
      during = FrmTarnvel->Tray->Icon()->toolTip();
      fs::remove(Records() / "hold");
    });
    FrmTarnvel->BtCopiar->click();
    QVERIFY2(during.contains(QRegularExpression("Copiando: \\d+%")), qPrintable(during));
    QVERIFY(FrmTarnvel->Tray->Icon()->toolTip().contains(watching));

    // The menu, in its order.
    QStringList texts;
    for (QAction* action : FrmTarnvel->Tray->Menu()->actions())
      if (!action->isSeparator()) texts << action->text();
    QCOMPARE(texts, QStringList({"Abrir", "Sincronizar", "Hot Folder Origem", QString::fromUtf8("Histórico"),
                                 QString::fromUtf8("Iniciar com a sessão"), "Sair"}));

    // "Abrir" brings a minimised window back.
    FrmTarnvel->showMinimized();
    QVERIFY(PumpUntil([] { return FrmTarnvel->isMinimized(); }));
    MenuAction("Abrir")->trigger();
    QVERIFY(PumpUntil([] { return !FrmTarnvel->isMinimized() && FrmTarnvel->isVisible(); }));

    // "Hot Folder Origem" unticks the box, and the icon goes.
    MenuAction("Hot Folder Origem")->trigger();
    QVERIFY(!FrmTarnvel->CHKHotFolderOrigem->isChecked());
    QVERIFY(!FrmTarnvel->Tray->Icon()->isVisible());
  }
};

TARNVEL_UI_TEST_MAIN(TrayTest)
#include "tray_xvfb.moc"
