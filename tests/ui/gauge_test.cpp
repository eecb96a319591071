// The gauge: the value held within the range, the percentage, the picture,
// the inverted text, and that a change nobody could see repaints nothing.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <climits>

#include "controls/gauge.h"
#include "funcoes/exceptions.h"
#include "toolkit/stylemanager.h"
#include "uitest.h"

namespace {

const QColor kBack(16, 18, 20);
const QColor kFore(Qt::black);

// Moves the range without ever making it run backwards on the way.
void SetRange(TGauge& g, int32_t min, int32_t max) {
  if (min > g.MaxValue()) {
    g.SetMaxValue(max);
    g.SetMinValue(min);
  } else {
    g.SetMinValue(min);
    g.SetMaxValue(max);
  }
}

class PaintCounter : public QObject {
 public:
  int Count = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++Count;
    return false;
  }
};

// Runs every pending repaint now.
void Flush() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

QImage Grab(TGauge& g) { return g.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QColor Inverse(const QColor& c) { return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue()); }

// The bounding box of the pixels where two pictures differ.
QRect Differences(const QImage& a, const QImage& b) {
  QRect box;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) box |= QRect(x, y, 1, 1);
  return box;
}

}  // namespace

class GaugeTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TGauge> FGauge;

  // The progress window's gauge, shown, on the themed program.
  void Reset() {
    FGauge->SetShowText(true);
    FGauge->SetKind(gkVerticalBar);
    SetRange(*FGauge, 0, 100);
    FGauge->SetProgress(0);
  }

 private slots:
  void initTestCase() {
    QVERIFY(TStyleManager::TrySetStyle("Charcoal Dark Slate", true));
    FGauge = std::make_unique<TGauge>();
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    FGauge->setFont(font);
    FGauge->SetBackColor(kBack);
    FGauge->SetForeColor(kFore);
    FGauge->resize(622, 35);
    FGauge->show();
    QVERIFY(QTest::qWaitForWindowExposed(FGauge.get()));
  }
  void init() { Reset(); }
  void cleanupTestCase() { FGauge.reset(); }

  void Defaults() {
    TGauge g;
    QCOMPARE(g.MinValue(), 0);
    QCOMPARE(g.MaxValue(), 100);
    QCOMPARE(g.Progress(), 0);
    QVERIFY(g.ShowText());
  }

  void Values_data() {
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("percent");
    QTest::newRow("above the range") << 0 << 100 << 150 << 100 << 100;
    QTest::newRow("below the range") << 0 << 100 << -5 << 0 << 0;
    QTest::newRow("inside") << 0 << 100 << 42 << 42 << 42;
    QTest::newRow("truncated, not rounded") << 0 << 1000 << 429 << 429 << 42;
    QTest::newRow("range off zero") << -200 << -100 << -150 << -150 << 50;
    QTest::newRow("empty range") << 5 << 5 << 9 << 5 << 0;
    QTest::newRow("whole int32 range") << INT_MIN << INT_MAX << INT_MAX << INT_MAX << 100;
    QTest::newRow("whole int32 range, middle") << INT_MIN << INT_MAX << 0 << 0 << 50;
  }
  void Values() {
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, value);
    QFETCH(int, stored);
    QFETCH(int, percent);
    SetRange(*FGauge, min, max);
    FGauge->SetProgress(value);
    QCOMPARE(FGauge->Progress(), stored);
    QCOMPARE(FGauge->PercentDone(), percent);
  }

  void RangeNeverRunsBackwards() {
    FGauge->SetProgress(80);
    QVERIFY_THROWS_EXCEPTION(Exception, FGauge->SetMinValue(101));
    QVERIFY_THROWS_EXCEPTION(Exception, FGauge->SetMaxValue(-1));
    QCOMPARE(FGauge->MinValue(), 0);
    QCOMPARE(FGauge->MaxValue(), 100);
    // A narrower range carries the value along.
    FGauge->SetMaxValue(50);
    QCOMPARE(FGauge->Progress(), 50);
    FGauge->SetMinValue(50);
    QCOMPARE(FGauge->PercentDone(), 0);
  }

  void Repaints_data() {
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<int>("paints");
    QTest::newRow("same value") << 100 << 42 << 42 << 0;
    QTest::newRow("same value after holding") << 100 << 100 << 150 << 0;
    QTest::newRow("same percentage") << 1000 << 420 << 429 << 0;
    QTest::newRow("new percentage") << 100 << 42 << 43 << 1;
    QTest::newRow("new percentage, wide range") << 1000 << 420 << 430 << 1;
  }
  void Repaints() {
    QFETCH(int, max);
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(int, paints);
    SetRange(*FGauge, 0, max);
    FGauge->SetProgress(first);
    Flush();
    PaintCounter counter;
    FGauge->installEventFilter(&counter);
    FGauge->SetProgress(second);
    Flush();
    FGauge->removeEventFilter(&counter);
    QCOMPARE(counter.Count, paints);
  }

  // Without text the picture is the frame, the background and the bar.
  void Picture_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("bar");  // rows (vertical) or columns (horizontal) of the inner area covered
    QTest::newRow("vertical 0") << int(gkVerticalBar) << 0 << 0;
    QTest::newRow("vertical 1") << int(gkVerticalBar) << 1 << 0;
    QTest::newRow("vertical 50") << int(gkVerticalBar) << 50 << 16;
    QTest::newRow("vertical 100") << int(gkVerticalBar) << 100 << 33;
    QTest::newRow("vertical 150") << int(gkVerticalBar) << 150 << 33;
    QTest::newRow("vertical -5") << int(gkVerticalBar) << -5 << 0;
    QTest::newRow("horizontal 50") << int(gkHorizontalBar) << 50 << 310;
    QTest::newRow("horizontal 100") << int(gkHorizontalBar) << 100 << 620;
  }
  void Picture() {
    QFETCH(int, kind);
    QFETCH(int, value);
    QFETCH(int, bar);
    FGauge->SetShowText(false);
    FGauge->SetKind(TGaugeKind(kind));
    FGauge->SetProgress(value);
    const QImage shot = Grab(*FGauge);
    QCOMPARE(shot.size(), QSize(622, 35));
    for (int y = 0; y < 35; ++y) {
      for (int x = 0; x < 622; ++x) {
        QColor expected = kBack;
        if (x == 0 || y == 0 || x == 621 || y == 34)
          expected = Qt::black;
        else if (kind == gkVerticalBar ? y > 33 - bar : x <= bar)
          expected = kFore;
        if (shot.pixelColor(x, y) != expected)
          QFAIL(qPrintable(QString("pixel %1,%2 is %3").arg(x).arg(y).arg(shot.pixelColor(x, y).name())));
      }
    }
  }

  // The text is the percentage, centred, and inverts what lies beneath it.
  void Text_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("overBack");  // some of the text lies over the background
    QTest::addColumn<bool>("overBar");   // and some over the bar
    QTest::newRow("0") << 0 << "0%" << true << false;
    QTest::newRow("42") << 42 << "42%" << true << false;
    QTest::newRow("50") << 50 << "50%" << true << true;
    QTest::newRow("150") << 150 << "100%" << false << true;
  }
  void Text() {
    QFETCH(int, value);
    QFETCH(QString, text);
    QFETCH(bool, overBack);
    QFETCH(bool, overBar);
    FGauge->SetProgress(value);
    FGauge->SetShowText(false);
    const QImage plain = Grab(*FGauge);
    FGauge->SetShowText(true);
    const QImage shown = Grab(*FGauge);

    // Where the text must be: the ink of that text alone, in the gauge's font, centred.
    QImage ink(plain.size(), QImage::Format_RGB32);
    ink.fill(Qt::black);
    {
      QPainter p(&ink);
      p.setFont(FGauge->font());
      p.setPen(Qt::white);
      p.drawText(ink.rect(), Qt::AlignCenter, text);
    }
    QImage blank(plain.size(), QImage::Format_RGB32);
    blank.fill(Qt::black);
    const QRect box = Differences(plain, shown);
    QVERIFY(!box.isEmpty());
    QCOMPARE(box, Differences(blank, ink));

    // Each pixel moves from what lies beneath towards its inverse as far as
    // the text covers it: a fully covered one would show the exact inverse.
    bool invertedBack = false, invertedBar = false;
    for (int y = box.top(); y <= box.bottom(); ++y) {
      for (int x = box.left(); x <= box.right(); ++x) {
        const double cover = qRed(ink.pixel(x, y)) / 255.0;
        const QColor below = plain.pixelColor(x, y), seen = shown.pixelColor(x, y);
        for (auto channel : {&QColor::red, &QColor::green, &QColor::blue}) {
          const int under = (below.*channel)();
          const double expected = under + cover * (255 - 2 * under);
          if (qAbs((seen.*channel)() - expected) > 2)
            QFAIL(qPrintable(QString("pixel %1,%2 is %3 over %4").arg(x).arg(y).arg(seen.name(), below.name())));
        }
        if (cover > 0.5) {
          invertedBack = invertedBack || below == kBack;
          invertedBar = invertedBar || below == kFore;
        }
      }
    }
    QCOMPARE(invertedBack, overBack);
    QCOMPARE(invertedBar, overBar);
  }

  // Contrast ratios where the answer is known, and the bar colour chosen for
  // a background: kept when it stands out, made to stand out when it does not.
  void Contrast_data() {
    QTest::addColumn<QColor>("a");
    QTest::addColumn<QColor>("b");
    QTest::addColumn<double>("ratio");
    QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
    QTest::newRow("white on black") << QColor(Qt::white) << QColor(Qt::black) << 21.0;
    QTest::newRow("same colour") << QColor(16, 18, 20) << QColor(16, 18, 20) << 1.0;
    QTest::newRow("mid grey on black") << QColor(0x77, 0x77, 0x77) << QColor(Qt::black) << 4.69;
    QTest::newRow("black on near black") << QColor(Qt::black) << kBack << 1.12;
  }
  void Contrast() {
    QFETCH(QColor, a);
    QFETCH(QColor, b);
    QFETCH(double, ratio);
    QVERIFY2(qAbs(ContrastRatio(a, b) - ratio) < 0.01, qPrintable(QString::number(ContrastRatio(a, b))));
  }

  void VisibleColour_data() {
    QTest::addColumn<QColor>("color");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<bool>("kept");
    QTest::newRow("highlight on near black") << QColor("#2f7fc1") << kBack << true;
    QTest::newRow("black on near black") << QColor(Qt::black) << kBack << false;
    QTest::newRow("dark blue on near black") << QColor(0, 0, 128) << kBack << false;
    QTest::newRow("white on white") << QColor(Qt::white) << QColor(Qt::white) << false;
    QTest::newRow("yellow on white") << QColor(Qt::yellow) << QColor(Qt::white) << false;
  }
  void VisibleColour() {
    QFETCH(QColor, color);
    QFETCH(QColor, background);
    QFETCH(bool, kept);
    const QColor chosen = VisibleOn(color, background);
    QVERIFY2(ContrastRatio(chosen, background) >= 3.0, qPrintable(chosen.name()));
    QCOMPARE(chosen == color, kept);
  }

  // For people to look at: the progress window's gauge at 0, 50 and 100%.
  void Screenshots() {
    for (int value : {0, 50, 100}) {
      FGauge->SetProgress(value);
      const QString path = ShotPath(QString("tarnvel-gauge-%1.png").arg(value));
      QVERIFY(Grab(*FGauge).save(path));
      qInfo("gauge screenshot: %s", qPrintable(path));
    }
  }
};

TARNVEL_UI_TEST_MAIN(GaugeTest)
#include "gauge_test.moc"
