// Preloaded into the installed program: a few seconds after the toolkit
// starts, prints the caption of each window on screen and closes it, as a user
// would. Without a shown window the process ends with exit code 3.
//   LD_PRELOAD=close_shown_window.so tarnvel
#include <QApplication>
#include <QCoreApplication>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace {

void CloseShownWindows() {
  QTimer::singleShot(3000, [] {
    QList<QPointer<QWidget>> shown;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (!window->isVisible()) continue;
      std::printf("shown: %s\n", qUtf8Printable(window->windowTitle()));
      shown.append(window);
    }
    std::fflush(stdout);
    if (shown.isEmpty()) std::_Exit(3);
    for (const QPointer<QWidget>& window : shown)
      if (window) window->close();
  });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(CloseShownWindows)
