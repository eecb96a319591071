// Shared by the window tests: the application object set up as the program
// does, and a presenter that records message boxes instead of showing them.
#pragma once

#include <QDir>
#include <QString>
#include <QTest>
#include <filesystem>
#include <memory>
#include <vector>

#include "forms/UFrmRoboCopy.h"
#include "funcoes/funcoes.h"
#include "isolated_settings.h"
#include "toolkit/application.h"

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

// Where a screenshot for people to look at goes: the build folder that the
// test runner names, else the folder the test started in. Made absolute
// before any test changes the current folder, as under Wine a path such as
// "/work/build" names a folder of the current drive.
inline const QString ShotFolder =
    QDir(qEnvironmentVariable("TARNVEL_TEST_BINARY_DIR", QDir::currentPath())).canonicalPath();
inline QString ShotPath(const QString& name) { return QDir(ShotFolder).filePath(name); }

// The boxes shown while a test runs; cleared by each test that reads it.
inline std::vector<ShownBox> ShownBoxes;

// A settings store of the test program's own, never the user's, in which the
// hot folder starts off: a shown main window then watches nothing unless a
// test asks for it.
struct QuietSettings {
  testsupport::IsolatedSettings Store;
  QuietSettings() { SettingValue(u"escrever", u"AutoCheck", u"0"); }
};

// The folders of a run of the stand-in copy program under root: "origem" and
// "destino", made and set as the two roots, and "registros", where the
// stand-in keeps its records (out of the destination, which holds only what
// a test puts there). Returns the records folder.
inline std::filesystem::path PrepareStandInFolders(const std::filesystem::path& root) {
  const std::filesystem::path records = root / "registros";
  for (const char* folder : {"origem", "destino", "registros"}) std::filesystem::create_directories(root / folder);
  qputenv("TARNVEL_TEST_CHILD_FOLDER", records.string().c_str());
  SourceRoot = (root / "origem").u16string();
  DestinationRoot = (root / "destino").u16string();
  return records;
}

// Undoes a test's run of the stand-in: its progress window closed, the
// stand-in program taken away, then its folders.
template <class Placed, class Folders>
void ReleaseStandIn(std::unique_ptr<Placed>& robocopy, std::unique_ptr<Folders>& folders) {
  if (FrmRoboCopy) FrmRoboCopy->close();
  robocopy.reset();
  folders.reset();
  qunsetenv("TARNVEL_TEST_CHILD_FOLDER");
}

#define TARNVEL_UI_TEST_MAIN(TestClass)                                  \
  int main(int argc, char** argv) {                                      \
    QuietSettings settings;                                              \
    TApplication app(argc, argv);                                        \
    app.Initialize();                                                    \
    app.SetTitle(QStringLiteral("Tarnvel KESTRO"));                      \
    app.SetPresenter(std::make_unique<RecordingPresenter>(&ShownBoxes)); \
    TestClass test;                                                      \
    return QTest::qExec(&test, argc, argv);                              \
  }
