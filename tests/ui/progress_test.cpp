// The progress window as laid out, where it appears and who owns it, and what
// its two buttons do to the window and to running copy processes.
#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QTest>

#ifndef _WIN32
#include <csignal>
#endif

#include "foreign_process.h"
#include "forms/UFrmRoboCopy.h"
#include "funcoes/funcoes.h"
#include "funcoes/runner.h"
#include "tempdir.h"
#include "toolkit/stylemanager.h"
#include "uitest.h"

class ProgressTest : public QObject {
  Q_OBJECT

  TForm* FMain = nullptr;

  void ShowProgress() {
    FrmRoboCopy->show();
    QVERIFY(QTest::qWaitForWindowExposed(FrmRoboCopy));
  }

 private slots:
  void initTestCase() {
    QVERIFY(TStyleManager::TrySetStyle("Charcoal Dark Slate", true));
    Application->MainFormOnTaskBar = true;
    // A stand-in for the main window: the progress window only needs its place.
    Application->CreateForm(FMain);
    FMain->setGeometry(130, 90, 967, 556);
    FMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(FMain));
    QVERIFY(!FrmRoboCopy);
    Application->CreateForm(FrmRoboCopy);
    QVERIFY(FrmRoboCopy);
  }
  void cleanup() {
    MirrorRunning = false;
    MirrorChild = nullptr;
  }

  void Window() {
    QCOMPARE(QString(FrmRoboCopy->metaObject()->className()), QString("TFrmRoboCopy"));
    QCOMPARE(FrmRoboCopy->objectName(), QString("FrmRoboCopy"));
    QCOMPARE(FrmRoboCopy->windowTitle(), QString("Sincronismo da redundancia de arquivos"));
    QCOMPARE(FrmRoboCopy->size(), QSize(622, 115));
    QCOMPARE(FrmRoboCopy->minimumSize(), QSize(622, 115));
    QCOMPARE(FrmRoboCopy->maximumSize(), QSize(622, 115));
    const Qt::WindowFlags flags = FrmRoboCopy->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(flags & Qt::WindowTitleHint);
    for (Qt::WindowType icon : {Qt::WindowSystemMenuHint, Qt::WindowCloseButtonHint, Qt::WindowMinimizeButtonHint,
                                Qt::WindowMaximizeButtonHint, Qt::WindowContextHelpButtonHint})
      QVERIFY2(!(flags & icon), qPrintable(QString::number(icon, 16)));
    // Owned by the main window: no taskbar button of its own.
    QCOMPARE(FrmRoboCopy->parentWidget(), static_cast<QWidget*>(FMain));
    QVERIFY(!FrmRoboCopy->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(FrmRoboCopy->font().family(), QString("Tahoma"));
    QCOMPARE(FrmRoboCopy->font().pixelSize(), 11);
  }

  void Controls_data() {
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("tab");  // position in the Tab sequence, -1 for none
    QTest::addColumn<int>("fontPixels");
    auto row = [](const char* name, const char* cls, QRect g, const char* caption, int tab, int pixels) {
      QTest::newRow(name) << cls << g << QString::fromUtf8(caption) << tab << pixels;
    };
    row("GaugeEspelho", "TGauge", {0, 0, 622, 35}, "", -1, 11);
    row("LabelProgress", "QLabel", {104, 41, 430, 23}, "Aguarde a conclusão do processo de sincronismo...", -1, 19);
    row("BtInterromper", "QPushButton", {14, 70, 297, 41}, "Interromper Processo", 0, 11);
    row("Button2", "QPushButton", {317, 70, 297, 41}, "Fechar", 1, 11);
  }
  void Controls() {
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(int, tab);
    QFETCH(int, fontPixels);
    const QString name = QTest::currentDataTag();
    auto* w = FrmRoboCopy->findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(QString(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget(), static_cast<QWidget*>(FrmRoboCopy));
    if (auto* label = qobject_cast<QLabel*>(w)) {
      QCOMPARE(label->text(), caption);
      // Sized to its one line, whatever the font measures, so all of it is seen.
      QCOMPARE(label->pos(), geometry.topLeft());
      QCOMPARE(label->size(), label->sizeHint());
      QVERIFY(label->geometry().right() < FrmRoboCopy->width());
    } else {
      QCOMPARE(w->geometry(), geometry);
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) QCOMPARE(button->text(), caption);
    QStringList sequence;
    for (QWidget* next = FrmRoboCopy->BtInterromper; sequence.size() < 10; next = next->nextInFocusChain())
      if (next->focusPolicy() & Qt::TabFocus) sequence << next->objectName();
    QCOMPARE(sequence.indexOf(name), tab);
    QCOMPARE(w->font().family(), QString("Tahoma"));
    QCOMPARE(w->font().pixelSize(), fontPixels);
  }

  void Gauge() {
    const TGauge* g = FrmRoboCopy->GaugeEspelho;
    QCOMPARE(g->Kind(), gkVerticalBar);
    QCOMPARE(g->BackColor(), QColor(16, 18, 20));
    // The theme's highlight: the bar must be seen on the near-black background.
    QCOMPARE(g->ForeColor(), QColor("#2f7fc1"));
    QVERIFY(g->ShowText());
    QCOMPARE(g->MinValue(), 0);
    QCOMPARE(g->MaxValue(), 100);
    QCOMPARE(g->Progress(), 33);
    QCOMPARE(g->PercentDone(), 33);
  }

  // The window at 50%, as drawn: the lower half of the gauge's inner area is
  // the bar, and every pixel of it that the text leaves alone stands out from
  // the background by a contrast of at least 3:1. Saved for people to look at.
  void GaugeBarIsSeen() {
    TGauge* g = FrmRoboCopy->GaugeEspelho;
    const int before = g->Progress();
    g->SetProgress(50);
    ShowProgress();
    const QImage shot = FrmRoboCopy->grab().toImage().convertToFormat(QImage::Format_RGB32);
    g->SetProgress(before);
    FrmRoboCopy->close();
    const QString path = ShotPath("tarnvel-progress-50.png");
    QVERIFY(shot.save(path));
    qInfo("progress window screenshot: %s", qPrintable(path));

    const QColor background = shot.pixelColor(5, 5);  // inner area, above the bar, clear of the text
    QCOMPARE(background, QColor(16, 18, 20));
    // Inner rows 1..33: the bar covers the lower 16 of them, rows 18..33.
    int barPixels = 0;
    for (int y = 18; y <= 33; ++y) {
      for (int x = 1; x <= 620; ++x) {
        if (x > 250 && x < 370) continue;  // where the centred text may lie
        const QColor pixel = shot.pixelColor(x, y);
        if (ContrastRatio(pixel, background) < 3.0)
          QFAIL(qPrintable(QString("pixel %1,%2 is %3").arg(x).arg(y).arg(pixel.name())));
        ++barPixels;
      }
    }
    QVERIFY(barPixels > 0);
    // Above the bar, the background.
    QCOMPARE(shot.pixelColor(5, 16), background);
  }

  // Over the main window's centre at every showing, also after the main window moved.
  void CentredOverMainWindow() {
    for (QPoint place : {QPoint(130, 90), QPoint(40, 300)}) {
      FMain->move(place);
      ShowProgress();
      QCOMPARE(FrmRoboCopy->frameGeometry().center(), FMain->frameGeometry().center());
      FrmRoboCopy->close();
    }
  }

  void Screenshot() {
    ShowProgress();
    const QString path = ShotPath("tarnvel-progress-window.png");
    QVERIFY(FrmRoboCopy->grab().save(path));
    qInfo("progress window screenshot: %s", qPrintable(path));
    FrmRoboCopy->close();
  }

#ifndef _WIN32
  void Buttons_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("ownEnds");  // the run's own copy; another process of its name never ends
    QTest::newRow("Interromper, no run") << "BtInterromper" << false << false;
    QTest::newRow("Interromper, during a run") << "BtInterromper" << true << true;
    QTest::newRow("Fechar, no run") << "Button2" << false << false;
    QTest::newRow("Fechar, during a run") << "Button2" << true << false;
  }
  // Either button hides the window, which lives on; only "Interromper
  // Processo" during a run ends the copy, and only the run's own. The run
  // itself is left to the runner.
  void Buttons() {
    QFETCH(QString, button);
    QFETCH(bool, running);
    QFETCH(bool, ownEnds);
    testsupport::TempDir folder;
    const std::filesystem::path robocopy = testsupport::CopyProgram("/bin/sleep", folder.path(), "robocopy");
    testsupport::ForeignProcess foreign(robocopy, {"600"});
    QVERIFY(foreign.Started());
    platform::ChildProcess own = StartChild(robocopy.u16string(), u"robocopy 600");
    FrmRoboCopy->GaugeEspelho->SetProgress(57);
    ShowProgress();
    MirrorRunning = running;
    MirrorChild = &own;
    QPointer<TFrmRoboCopy> window = FrmRoboCopy;

    QTest::mouseClick(FrmRoboCopy->findChild<QPushButton*>(button), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(window);
    QVERIFY(!FrmRoboCopy->isVisible());
    QCOMPARE(MirrorRunning, running);
    QCOMPARE(FrmRoboCopy->GaugeEspelho->Progress(), 57);
    bool ended = false;
    for (int i = 0; i < (ownEnds ? 1000 : 20) && !ended; ++i) ended = own.Wait(10);
    QCOMPARE(ended, ownEnds);
    if (ended) QCOMPARE(own.End().signal, int(SIGKILL));
    if (!ended && own.Terminate())
      while (!own.Wait(10)) {
      }
    QVERIFY2(foreign.End(), "a copy program this program did not start was ended");
    QVERIFY(ShownBoxes.empty());
  }
#endif
};

TARNVEL_UI_TEST_MAIN(ProgressTest)
#include "progress_test.moc"
