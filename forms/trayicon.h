// The tray icon while the hot folder is on, where the desktop has a tray:
// its icon and tooltip tell what the hot folder is doing, and its menu reaches
// the window's commands. Without a tray nothing of it exists.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <memory>

class TFrmTarnvel;

enum class THotFolderState { Watching, Copying, WaitingForDisk, Failed };

class TTrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TTrayIcon(TFrmTarnvel* form);
  ~TTrayIcon() override;

  // Shown while the hot folder is on and a tray exists.
  void SetShown(bool shown);
  // What the icon and its tooltip say; percent counts while copying.
  void SetState(THotFolderState state, int percent = 0);

  QSystemTrayIcon* Icon() const { return FIcon.get(); }
  // Empty until the icon is first shown.
  QMenu* Menu() const { return FMenu.get(); }

 private:
  void BuildMenu();
  void Refresh();
  TFrmTarnvel* FForm;
  std::unique_ptr<QMenu> FMenu;
  std::unique_ptr<QSystemTrayIcon> FIcon;
  QAction *FHotFolder = nullptr, *FAutostart = nullptr;
  THotFolderState FState = THotFolderState::Watching;
  int FPercent = 0;
};
