// The application shell: the error box, its period rule, notices and the theme.
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "forms/UFrmTarnvel.h"
#include "funcoes/exceptions.h"
#include "toolkit/handlers.h"
#include "toolkit/stylemanager.h"
#include "uitest.h"

namespace {

[[noreturn]] void ThrowNested(const char* outer, const char* inner) {
  try {
    throw Exception(inner);
  } catch (...) {
    std::throw_with_nested(Exception(outer));
  }
}

}  // namespace

class ShellTest : public QObject {
  Q_OBJECT

 private slots:
  void PeriodRule_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "abc"
                            << "abc.";
    QTest::newRow("period") << "x."
                            << "x.";
    QTest::newRow("bang") << "x!"
                          << "x!";
    QTest::newRow("colon") << "x:"
                           << "x:.";
    QTest::newRow("question") << "x?"
                              << "x?.";
    QTest::newRow("paren") << "x)"
                           << "x)";
    QTest::newRow("comma") << "x,"
                           << "x,";
    QTest::newRow("dash") << "x-"
                          << "x-";
    QTest::newRow("digit") << "code 5"
                           << "code 5.";
    QTest::newRow("blank") << "x "
                           << "x ";
    QTest::newRow("empty") << ""
                           << "";
  }
  void PeriodRule() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(ErrorBoxText(message), shown);
  }

  void init() { ShownBoxes.clear(); }

  // A handler that fails ends in the error box and the program goes on.
  void FailingHandlerShowsTheErrorBox_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<QString>("text");
    QTest::newRow("letter") << 0 << 1 << "abc.";
    QTest::newRow("in/out error") << 1 << 1 << "File not found.";
    QTest::newRow("innermost message") << 2 << 1 << "inner:.";
    QTest::newRow("empty innermost keeps outer") << 3 << 1 << "outer.";
    QTest::newRow("not a std::exception") << 4 << 1 << "Unknown exception.";
    QTest::newRow("abort is silent") << 5 << 0 << "";
  }
  void FailingHandlerShowsTheErrorBox() {
    QFETCH(int, kind);
    QFETCH(int, boxes);
    QFETCH(QString, text);
    QPushButton button("go");
    int runs = 0;
    ConnectHandler(&button, &QPushButton::clicked, &button, [&](QObject* sender) {
      QCOMPARE(sender, &button);
      ++runs;
      switch (kind) {
        case 0:
          throw Exception("abc");
        case 1:
          throw EInOutError(2);
        case 2:
          ThrowNested("outer", "inner:");
        case 3:
          ThrowNested("outer", "");
        case 4:
          throw 42;
        default:
          throw EAbort();
      }
    });
    button.click();
    button.click();  // still connected, still running
    QCOMPARE(runs, 2);
    QCOMPARE(ShownBoxes.size(), size_t(2 * boxes));
    for (const ShownBox& box : ShownBoxes) {
      QCOMPARE(box.Text, text);
      QCOMPARE(box.Caption, QString("Tarnvel KESTRO"));
      QCOMPARE(box.Icon, QMessageBox::Critical);
      QCOMPARE(box.Button, QString("OK"));
    }
  }

  void PlainNotice() {
    ShowMessage("Pasta inexistente!");
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Caption, QString("Tarnvel KESTRO"));
    QCOMPARE(ShownBoxes[0].Text, QString("Pasta inexistente!"));
    QCOMPARE(ShownBoxes[0].Icon, QMessageBox::NoIcon);
    QCOMPARE(ShownBoxes[0].Button, QString("OK"));
  }

  // Runs before any theme is active: the window then opens with the default look.
  void MissingThemeShowsErrorAndTheWindowStillOpens() {
    QVERIFY(!TStyleManager::TrySetStyle("Charcoal Light Slate", false));
    QCOMPARE(ShownBoxes.size(), size_t(0));
    QVERIFY(!TStyleManager::TrySetStyle("Charcoal Light Slate", true));
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Caption, QString("Error"));
    QCOMPARE(ShownBoxes[0].Text, QString("Style 'Charcoal Light Slate' not found"));
    QCOMPARE(ShownBoxes[0].Button, QString("&Close"));
    QCOMPARE(ShownBoxes[0].Icon, QMessageBox::Critical);
    QCOMPARE(TStyleManager::ActiveStyleName(), QString());
    TFrmTarnvel form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.FileListBoxOrigem->palette().color(QPalette::Base),
             form.palette().color(QPalette::Window));  // lists on the face colour
  }

  void ThemeFoundInAnyLetterCase_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("as named") << "Charcoal Dark Slate";
    QTest::newRow("lower") << "charcoal dark slate";
    QTest::newRow("upper") << "CHARCOAL DARK SLATE";
    QTest::newRow("mixed") << "cHaRcOaL dArK sLaTe";
  }
  void ThemeFoundInAnyLetterCase() {
    QFETCH(QString, name);
    QVERIFY(TStyleManager::TrySetStyle(name, true));
    QCOMPARE(ShownBoxes.size(), size_t(0));
    QCOMPARE(TStyleManager::ActiveStyleName(), QString("Charcoal Dark Slate"));
    const QPalette palette = QApplication::palette();
    // Dark face, light text, a selection that stands out from both.
    QVERIFY(palette.color(QPalette::Window).lightness() < 90);
    QVERIFY(palette.color(QPalette::WindowText).lightness() > 200);
    QVERIFY(palette.color(QPalette::Text).lightness() > 200);
    QVERIFY(palette.color(QPalette::Highlight) != palette.color(QPalette::Base));
    QVERIFY(palette.color(QPalette::Highlight).saturation() > 100);
  }
};

TARNVEL_UI_TEST_MAIN(ShellTest)
#include "shell_test.moc"
