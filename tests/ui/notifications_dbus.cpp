// Notifications of the hot folder on the session bus: a recorder stands in
// for the desktop's notification service. Run under dbus-run-session.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>
#include <QVariantMap>
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

struct Notification {
  QString App, Summary, Body;
  int Urgency;
};

// What the desktop's service would show, kept instead.
class Recorder : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  std::vector<Notification> Calls;

 public slots:
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
              const QVariantMap& hints, int) {
    Calls.push_back({app, summary, body, hints.value("urgency").toInt()});
    return uint(Calls.size());
  }
};

const QString Incomplete =
    QString::fromUtf8("Sincronismo incompleto: a pasta de destino não é uma cópia completa da pasta de origem.");
const std::string FailureLine = "ERROR : Copying File /d/clip.mp4 : No space left on device";

class NotificationsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> FTemp;
  std::unique_ptr<PlacedRobocopy> FRobocopy;
  std::unique_ptr<QDBusConnection> FService;
  Recorder FRecorder;

  // Gives the bus and the queued notices time to arrive.
  static void Settle() {
    for (int i = 0; i < 20; ++i) QTest::qWait(10);
  }

 private slots:
  void initTestCase() {
    if (!QDBusConnection::sessionBus().isConnected()) QSKIP("no session bus: run under dbus-run-session");
    FService = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notification-service")));
    QVERIFY(FService->registerObject("/org/freedesktop/Notifications", &FRecorder, QDBusConnection::ExportAllSlots));
    QVERIFY(FService->registerService("org.freedesktop.Notifications"));
    Application->MainFormOnTaskBar = true;
    Application->CreateForm(FrmTarnvel);
  }

  void init() {
    FTemp = std::make_unique<TempDir>();
    PrepareStandInFolders(FTemp->path());
    FRobocopy = std::make_unique<PlacedRobocopy>(fs::path(platform::ExecutableFolder()));
    WriteFile(*FTemp / "registros" / "exit.txt", "9");
    WriteFile(*FTemp / "registros" / "output.txt", FailureLine + "\n");
    FRecorder.Calls.clear();
    ShownBoxes.clear();
  }

  void cleanup() { ReleaseStandIn(FRobocopy, FTemp); }

  // A failing hot folder tells the desktop once per streak, critically, and
  // its window notice still comes, queued; runs go on meanwhile.
  void AFailedHotFolderRunIsOneCriticalNotification() {
    for (int run = 0; run < 3; ++run) FrmTarnvel->BtCopiarClick(nullptr);
    QVERIFY(!MirrorRunning);
    QCOMPARE(ReadLines(*FTemp / "registros" / "starts.txt").size(), size_t(3));
    Settle();
    QCOMPARE(FRecorder.Calls.size(), size_t(1));
    const Notification& shown = FRecorder.Calls[0];
    QCOMPARE(shown.App, QString("Tarnvel KESTRO"));
    QCOMPARE(shown.Urgency, 2);
    QCOMPARE(shown.Summary, Incomplete);
    QCOMPARE(shown.Body, QString::fromStdString(FailureLine));
    QCOMPARE(ShownBoxes.size(), size_t(1));
  }

  // A run the user started is told in the window only.
  void AFailedClickIsTheWindowsNoticeOnly() {
    FrmTarnvel->BtCopiar->click();
    Settle();
    QVERIFY(FRecorder.Calls.empty());
    QCOMPARE(ShownBoxes.size(), size_t(1));
  }

  // A disk that is not there is a notification of normal urgency.
  void AnUnpluggedDestinationIsANotification() {
    SettingValue(u"escrever", DestinationDiskValueName, (*FTemp / "destino").u16string());
    FrmTarnvel->BtCopiarClick(nullptr);
    SettingValue(u"excluir", DestinationDiskValueName, u"");
    Settle();
    QVERIFY(!fs::exists(*FTemp / "registros" / "starts.txt"));
    QCOMPARE(FRecorder.Calls.size(), size_t(1));
    QCOMPARE(FRecorder.Calls[0].Urgency, 1);
    QVERIFY2(FRecorder.Calls[0].Summary.contains("destino"), qPrintable(FRecorder.Calls[0].Summary));
  }

  // Without a notification service nothing fails and nothing waits.
  void WithoutAServiceNothingChanges() {
    QVERIFY(FService->unregisterService("org.freedesktop.Notifications"));
    // Another failure than the earlier tests', so that it is told again.
    WriteFile(*FTemp / "registros" / "output.txt", "ERROR : Copying File /d/other.mp4 : Input/output error\n");
    for (int run = 0; run < 2; ++run) FrmTarnvel->BtCopiarClick(nullptr);
    Settle();
    QCOMPARE(ReadLines(*FTemp / "registros" / "starts.txt").size(), size_t(2));
    QVERIFY(FRecorder.Calls.empty());
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QVERIFY(FService->registerService("org.freedesktop.Notifications"));
  }
};

TARNVEL_UI_TEST_MAIN(NotificationsTest)
#include "notifications_dbus.moc"
