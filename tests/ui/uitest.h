// Shared by the window tests: the application object set up as the program
// does, and a presenter that records message boxes instead of showing them.
#pragma once

#include <QString>
#include <QTest>
#include <vector>

#include "app/application.h"

struct ShownBox {
  QMessageBox::Icon Icon;
  QString Caption, Text, Button;
};

class RecordingPresenter : public TMessagePresenter {
 public:
  explicit RecordingPresenter(std::vector<ShownBox>* boxes) : FBoxes(boxes) {}
  void ShowMessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                      const QString& button) override {
    FBoxes->push_back({icon, caption, text, button});
  }

 private:
  std::vector<ShownBox>* FBoxes;
};

// The boxes shown while a test runs; cleared by each test that reads it.
inline std::vector<ShownBox> ShownBoxes;

#define TARNVEL_UI_TEST_MAIN(TestClass)                                        \
  int main(int argc, char** argv) {                                            \
    TApplication app(argc, argv);                                              \
    app.Initialize();                                                          \
    app.SetTitle(QStringLiteral("Tarnvel KESTRO"));                            \
    app.SetPresenter(std::make_unique<RecordingPresenter>(&ShownBoxes));       \
    TestClass test;                                                            \
    return QTest::qExec(&test, argc, argv);                                    \
  }
