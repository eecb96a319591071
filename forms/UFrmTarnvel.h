// The main window: the source and destination folders side by side, each a
// folder tree over its file list, and the commands below them.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <memory>

#include "controls/directorylistbox.h"
#include "controls/filelistbox.h"
#include "folder_monitor/FolderMon.h"
#include "forms/form.h"
#include "funcoes/funcoes.h"

class TFrmTarnvel : public TForm {
  Q_OBJECT

 public:
  explicit TFrmTarnvel(QWidget* parent = nullptr);

  QFrame* PanelPastas;
  TDirectoryListBox* DirectoryListOrigem;
  TDirectoryListBox* DirectoryListBoxdestino;
  QFrame* PanelSuperior;
  QLabel* LBLOrigem;
  QLabel* LblDestino;
  QFrame* PanelFiles;
  TFileListBox* FileListBoxOrigem;
  TFileListBox* FileListBoxDestino;
  QPushButton* BtRaizOrigem;
  QPushButton* BtRaizDestino;
  QCheckBox* CHKHotFolderOrigem;
  QPushButton* BtCopiar;
  QPushButton* BtRefresh;
  QCheckBox* ChkPreserva;

  // Folder selection: the trees, the store and the globals kept in step.
  void FormShow(QObject* Sender);
  void DirectoryListOrigemChange(QObject* Sender);
  void DirectoryListBoxdestinoChange(QObject* Sender);
  void BtRaizOrigemClick(QObject* Sender);
  void BtRaizDestinoClick(QObject* Sender);
  void BtRefreshClick(QObject* Sender);
  // The sync command: mirrors the source folder into the destination folder
  // while the progress window shows how far the copy has got.
  void BtCopiarClick(QObject* Sender);
  // Ends every copy process when the window closes during a mirror.
  void FormClose(QObject* Sender);

  // Hot folder: watch the source and mirror whenever a file lands in it.
  void CHKHotFolderOrigemClick(QObject* Sender);
  void FolderChanged(TFolderMon* Sender, TFolderItemInfo AFolderItem);
  // The monitor lost changes: one run covers whatever they were.
  void FolderChangesLost(TFolderMon* Sender);
  // The hot folder's monitor, or none while the box is unticked.
  const TFolderMon* FolderMon() const { return FFolderMon.get(); }
  // The run that a hot-folder report refused during a mirror asks for, once
  // the event loop comes round: never nested in the run that refused it.
  void QueuePendingMirror();

 private:
  std::unique_ptr<TFolderMon> FFolderMon;
  // The source tree shows a start-up stand-in for a remembered source that is
  // gone: the hot folder watches nothing until the user picks a source.
  bool FSourceIsFallback = false;
  // The folders whose overlap the hot folder has told the user about.
  std::pair<WideString, WideString> FOverlapNoticed;

  // A mirror for changes the monitor read at readAt, unless a run that started
  // since has seen them; during a run, one more after it.
  void HotFolderMirror(TChangeClock::time_point readAt);
  void StartHotFolderMirror();
  // What every report ends with: the source tree and both lists shown afresh.
  void ShowReportedChange();

  // A "Raiz" button's work for one side: root is that side's global.
  void PickRoot(WideString& root, const WideString& pickedName, const WideString& rootName, TDirectoryListBox* tree,
                TFileListBox* files);
};

extern TFrmTarnvel* FrmTarnvel;

// Runs one mirror with the command line and returns when the copy has ended.
// Returns at once, showing nothing, while a mirror runs or when either root is
// not an existing folder; with a notice when the two roots overlap. Raises
// EOSError when the copy program cannot be started. The progress window
// (FrmRoboCopy) must exist.
void RunMirror(const WideString& commandLine);

// The notice of a mirror refused because its folders overlap.
void ShowOverlapNotice();
