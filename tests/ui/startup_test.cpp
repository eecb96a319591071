// The program's start as the entry runs it: one themed main window, centred,
// owned by the application; secondary windows belong to it; closing the main
// window ends the loop.
#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "app/startup.h"
#include "forms/UFrmTarnvel.h"
#include "toolkit/stylemanager.h"
#include "uitest.h"

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void OneThemedMainWindow() {
    QVERIFY(FrmTarnvel);
    QCOMPARE(Application->MainForm(), static_cast<QWidget*>(FrmTarnvel));
    QVERIFY(Application->MainFormOnTaskBar);
    QCOMPARE(Application->Title(), QString("Tarnvel KESTRO"));
    // The installed desktop entry's name: the desktop finds the window's icon and name through it.
    QCOMPARE(QGuiApplication::desktopFileName(), QString("com.corvalen.tarnvel"));
    QCOMPARE(TStyleManager::ActiveStyleName(), QString("Charcoal Dark Slate"));
    QCOMPARE(ShownBoxes.size(), size_t(0));
    QCOMPARE(QApplication::topLevelWidgets(), QWidgetList{FrmTarnvel});
    QVERIFY(!FrmTarnvel->isVisible());  // Run shows it
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(FrmTarnvel->geometry().center(), screen.center());
  }

  void SecondaryWindowBelongsToTheMainWindow() {
    TForm* second = nullptr;
    Application->CreateForm(second);
    QCOMPARE(second->parentWidget(), static_cast<QWidget*>(FrmTarnvel));
    QVERIFY(second->isWindow());
    QCOMPARE(Application->MainForm(), static_cast<QWidget*>(FrmTarnvel));
  }

  // A handler that pumps runs what is waiting; a quit request taken there
  // ends the loop once the handler returns.
  void ProcessMessagesAndAQuitTakenInside() {
    bool queuedRan = false, handlerFinished = false;
    QTimer::singleShot(0, [&] {
      QTimer::singleShot(0, [&] { queuedRan = true; });
      Application->Terminate();
      Application->ProcessMessages();
      QVERIFY(queuedRan);
      QVERIFY(FrmTarnvel->isVisible());
      handlerFinished = true;
    });
    Application->Run();
    QVERIFY(handlerFinished);
  }

  // Closing the main window ends Run although a secondary window is open.
  void ClosingTheMainWindowEndsTheLoop() {
    TForm* second = FrmTarnvel->findChild<TForm*>();
    QVERIFY(second);
    int closes = 0;
    QObject::connect(FrmTarnvel, &TForm::OnClose, [&] { ++closes; });
    QTimer::singleShot(0, [&] {
      second->show();
      QVERIFY(FrmTarnvel->isVisible());
      FrmTarnvel->close();
    });
    Application->Run();
    QCOMPARE(closes, 1);
  }
};

int main(int argc, char** argv) {
  QuietSettings settings;
  TApplication application(argc, argv);
  application.SetPresenter(std::make_unique<RecordingPresenter>(&ShownBoxes));
  StartUp();
  StartupTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "startup_test.moc"
