// The program's entry: start-up, then the message loop until the main window closes.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/singleinstance.h"
#include "app/startup.h"
#include "toolkit/application.h"

namespace {

// Exit code of a run that failed before the message loop.
constexpr int RuntimeErrorExitCode = 217;

// Last-chance report: on the error stream, and in a box when the toolkit is up.
int ReportFatal(const char* message) {
  std::fprintf(stderr, "Runtime error %d: %s\n", RuntimeErrorExitCode, message);
  if (QApplication::instance())
    QMessageBox::critical(
        nullptr, QStringLiteral("Error"),
        QStringLiteral("Runtime error %1: %2").arg(RuntimeErrorExitCode).arg(QString::fromUtf8(message)));
  return RuntimeErrorExitCode;
}

}  // namespace

int main(int argc, char** argv) {
  // Asked by installers and by users checking what they have; needs no display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("Tarnvel KESTRO %s\n", TARNVEL_VERSION);
    return 0;
  }
  TApplication application(argc, argv);
  try {
    StartUp();
  } catch (const std::exception& e) {
    return ReportFatal(e.what());
  } catch (...) {
    return ReportFatal("Unknown exception");
  }
  // A second start brings the running program's window forward instead; its
  // own main window, not yet shown, never appears.
  TSingleInstance instance;
  if (!instance.Claim()) return 0;
  Application->Run();
  return 0;
}
