#include "forms/trayicon.h"

#include <QApplication>
#include <QStyle>

#include "forms/UFrmTarnvel.h"
#include "toolkit/autostart.h"
#include "toolkit/history.h"
#include "toolkit/notifier.h"

TTrayIcon::TTrayIcon(TFrmTarnvel* form) : QObject(form), FForm(form) {}

// Made with the icon: a menu is a window of its own, which a program without
// a tray has no use for.
void TTrayIcon::BuildMenu() {
  TFrmTarnvel* form = FForm;
  FMenu = std::make_unique<QMenu>();
  FMenu->setObjectName(QStringLiteral("TrayMenu"));
  QAction* open = FMenu->addAction(QStringLiteral("Abrir"));
  connect(open, &QAction::triggered, form, [form] {
    form->showNormal();
    form->raise();
    form->activateWindow();
  });
  QAction* sync = FMenu->addAction(QStringLiteral("Sincronizar"));
  connect(sync, &QAction::triggered, form, [form] { form->BtCopiar->click(); });
  FHotFolder = FMenu->addAction(QStringLiteral("Hot Folder Origem"));
  FHotFolder->setCheckable(true);
  // The entry and the box tick together, whichever the user uses.
  FHotFolder->setChecked(form->CHKHotFolderOrigem->isChecked());
  connect(form->CHKHotFolderOrigem, &QCheckBox::toggled, FHotFolder, &QAction::setChecked);
  connect(FHotFolder, &QAction::triggered, form, [form](bool ticked) { form->CHKHotFolderOrigem->setChecked(ticked); });
  QAction* history = FMenu->addAction(QStringLiteral("Histórico"));
  connect(history, &QAction::triggered, form, [] { OpenRunLog(); });
  FAutostart = FMenu->addAction(QStringLiteral("Iniciar com a sessão"));
  FAutostart->setCheckable(true);
  connect(FAutostart, &QAction::triggered, form, [this](bool ticked) {
    SetAutostart(ticked, QCoreApplication::applicationFilePath());
    FAutostart->setChecked(AutostartEnabled());
  });
  FMenu->addSeparator();
  QAction* quit = FMenu->addAction(QStringLiteral("Sair"));
  // Closing the window ends the program, with its close handler, as always.
  connect(quit, &QAction::triggered, form, [form] { form->close(); });
  connect(FMenu.get(), &QMenu::aboutToShow, this, [this] { FAutostart->setChecked(AutostartEnabled()); });
}

TTrayIcon::~TTrayIcon() { SetTrayMessageRoute({}); }

void TTrayIcon::SetShown(bool shown) {
  if (!shown) {
    if (FIcon) FIcon->hide();
    SetTrayMessageRoute({});
    return;
  }
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  if (!FIcon) {
    BuildMenu();
    FIcon = std::make_unique<QSystemTrayIcon>();
    FIcon->setObjectName(QStringLiteral("TrayIcon"));
    FIcon->setContextMenu(FMenu.get());
    // A click on the icon brings the window, as "Abrir" does.
    connect(FIcon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        FMenu->actions().first()->trigger();
    });
  }
  Refresh();
  FIcon->show();
  SetTrayMessageRoute([icon = FIcon.get()](const QString& summary, const QString& body, TUrgency urgency) {
    icon->showMessage(summary, body,
                      urgency == TUrgency::Critical ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information, 0);
  });
}

void TTrayIcon::SetState(THotFolderState state, int percent) {
  if (state == FState && percent == FPercent) return;
  FState = state;
  FPercent = percent;
  Refresh();
}

void TTrayIcon::Refresh() {
  if (!FIcon) return;
  QString text;
  QIcon icon = FForm->windowIcon();
  QStyle* style = QApplication::style();
  switch (FState) {
    case THotFolderState::Watching:
      text = QStringLiteral("Observando %1").arg(QString::fromStdU16String(SourceRoot));
      break;
    case THotFolderState::Copying:
      text = QStringLiteral("Copiando: %1%").arg(FPercent);
      icon = style->standardIcon(QStyle::SP_BrowserReload);
      break;
    case THotFolderState::WaitingForDisk:
      text = QStringLiteral("Aguardando o disco de destino");
      icon = style->standardIcon(QStyle::SP_MessageBoxWarning);
      break;
    case THotFolderState::Failed:
      text = QStringLiteral("A última sincronização falhou");
      icon = style->standardIcon(QStyle::SP_MessageBoxCritical);
      break;
  }
  FIcon->setIcon(icon);
  FIcon->setToolTip(QStringLiteral("Tarnvel KESTRO\n") + text);
}
