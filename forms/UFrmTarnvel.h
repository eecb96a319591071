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
#include "funcoes/funcoes.h"
#include "funcoes/noticeonce.h"
#include "toolkit/form.h"

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

  // Whether a tree shows the drive root in place of a remembered folder that
  // was missing at start. The root global and the store keep the remembered
  // folder until the user walks that tree or picks a folder for that side.
  bool SourceIsFallback() const { return FSourceIsFallback; }
  bool DestinationIsFallback() const { return FDestinationIsFallback; }

 private:
  void CreateControls();
  void ConnectHandlers();
  std::unique_ptr<TFolderMon> FFolderMon;
  bool FSourceIsFallback = false;
  bool FDestinationIsFallback = false;

  // The header label of a side whose remembered folder is missing.
  static void ShowMissing(QLabel* label, const QString& caption, const WideString& root);

  // What the hot folder has already been told: an empty source for a pair of
  // folders, and the failures of the current streak of failed runs.
  TNoticeOnce FEmptySourceNotices, FFailureNotices;

  // The runner's last step: shows the notice of a run that did not finish its
  // job (empty when there is none), once per failure streak for the hot folder.
  void MirrorEnded(const WideString& notice, bool hotFolder);
  friend void RunMirror(const WideString& commandLine, bool hotFolder);

  // The pairs of folders whose overlap the hot folder has told the user about.
  TNoticeOnce FOverlapNotices;

  // A mirror for changes the monitor read at readAt, unless a run that started
  // since has seen them; during a run, one more after it.
  void HotFolderMirror(TChangeClock::time_point readAt);
  void StartHotFolderMirror();
  // What every report ends with: the source tree and both lists shown afresh.
  void ShowReportedChange();

  // A "Raiz" button's work for one side: root is that side's global.
  // After a pick of the source: starts the hot folder held back while the tree showed a stand-in.
  void WatchChosenSource(bool wasFallback);
  void PickRoot(WideString& root, const WideString& pickedName, const WideString& rootName, TDirectoryListBox* tree,
                TFileListBox* files);
};

extern TFrmTarnvel* FrmTarnvel;

// Runs one mirror with the command line and returns when the copy has ended;
// hotFolder for a run the hot folder asked for. Returns at once, showing
// nothing, while a mirror runs or when either root is not an existing folder;
// with a notice when the two roots overlap, or when the source holds no file
// while the destination does and the line would delete what only the
// destination holds (the hot folder shows that once per pair of folders).
// After a run that did not finish its job, a notice says so. Raises EOSError
// when the copy program cannot be started. The progress window (FrmRoboCopy)
// must exist.
void RunMirror(const WideString& commandLine, bool hotFolder);

// The notice of a mirror refused because its folders overlap.
void ShowOverlapNotice();
