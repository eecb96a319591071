// The application shell: the error box, its period rule, notices and the theme.
#include <QTest>

#include "app/handlers.h"
#include "app/stylemanager.h"
#include "funcoes/exceptions.h"
#include "uitest.h"

class ShellTest : public QObject {
  Q_OBJECT

 private slots:
  void PeriodRule_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "abc" << "abc.";
    QTest::newRow("period") << "x." << "x.";
    QTest::newRow("bang") << "x!" << "x!";
    QTest::newRow("colon") << "x:" << "x:.";
    QTest::newRow("question") << "x?" << "x?.";
    QTest::newRow("paren") << "x)" << "x)";
    QTest::newRow("comma") << "x," << "x,";
    QTest::newRow("dash") << "x-" << "x-";
    QTest::newRow("digit") << "code 5" << "code 5.";
    QTest::newRow("blank") << "x " << "x ";
    QTest::newRow("empty") << "" << "";
  }
  void PeriodRule() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(ErrorBoxText(message), shown);
  }
};

QTEST_APPLESS_MAIN(ShellTest)
#include "shell_test.moc"
