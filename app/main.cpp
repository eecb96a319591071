// The program's entry: title, theme, the main window, the message loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "app/application.h"
#include "app/stylemanager.h"
#include "forms/UFrmTarnvel.h"

namespace {

// Exit code of a run that failed before the message loop ended normally.
constexpr int RuntimeErrorExitCode = 217;

// Last-chance report for an error before the loop: on the error stream, and
// in a box when the toolkit is up.
int ReportFatal(const char* message) {
  std::fprintf(stderr, "Runtime error %d: %s\n", RuntimeErrorExitCode, message);
  if (QApplication::instance())
    QMessageBox::critical(nullptr, QStringLiteral("Error"),
                          QStringLiteral("Runtime error %1: %2").arg(RuntimeErrorExitCode).arg(QString::fromUtf8(message)));
  return RuntimeErrorExitCode;
}

}  // namespace

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  try {
    Application->Initialize();
    Application->MainFormOnTaskBar = true;
    Application->SetTitle(QStringLiteral("Tarnvel KESTRO"));
    TStyleManager::TrySetStyle(QStringLiteral("Charcoal Dark Slate"), true);
    Application->CreateForm(FrmTarnvel);
    Application->Run();
  } catch (const std::exception& e) {
    return ReportFatal(e.what());
  } catch (...) {
    return ReportFatal("Unknown exception");
  }
  return 0;
}
