#include "app/startup.h"

#include <QGuiApplication>

#include "forms/UFrmTarnvel.h"
#include "toolkit/application.h"
#include "toolkit/stylemanager.h"

void StartUp() {
  Application->Initialize();
  Application->MainFormOnTaskBar = true;
  Application->SetTitle(QStringLiteral("Tarnvel KESTRO"));
  // Ties the windows to the installed desktop entry (its icon and name in the task switcher).
  QGuiApplication::setDesktopFileName(QStringLiteral(TARNVEL_APP_ID));
  // The theme is active before the main window exists, so it is created themed.
  TStyleManager::TrySetStyle(QStringLiteral("Charcoal Dark Slate"), true);
  Application->CreateForm(FrmTarnvel);
}
