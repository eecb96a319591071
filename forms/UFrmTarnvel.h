// The main window: the source and destination folders side by side, each a
// folder tree over its file list, and the commands below them.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>

#include "controls/directorylistbox.h"
#include "controls/filelistbox.h"
#include "forms/trayicon.h"
#include "folder_monitor/FolderMon.h"
#include "funcoes/funcoes.h"
#include "funcoes/hotfolder.h"
#include "funcoes/noticeonce.h"
#include "toolkit/form.h"
#include "toolkit/notifier.h"

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
  // The tray icon shown while the hot folder is on.
  TTrayIcon* Tray;

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
  // The watched source went away (its disk unplugged, the folder removed):
  // its label says so until it is back, when one run brings what changed.
  void SourceGone(TFolderMon* Sender);
  void SourceBack(TFolderMon* Sender);
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

 signals:
  // A report of the monitor handled, by the name it gave (relative to the
  // source), or an empty name for changes lost. Reports come in the order of
  // their changes.
  void ChangeHandled(const QString& name);

 private:
  void CreateControls();
  void ConnectHandlers();
  std::unique_ptr<TFolderMon> FFolderMon;
  bool FSourceIsFallback = false;
  bool FDestinationIsFallback = false;

  // The header label of a side whose remembered folder is missing.
  void ShowMissing(QLabel* label, const QString& caption, const WideString& root);
  // A header label's caption and folder, kept within its half of the header.
  void ShowFolder(QLabel* label, const QString& text);

  // What the hot folder has already been told: an empty source for a pair of
  // folders, and the failures of the current streak of failed runs.
  TNoticeOnce FEmptySourceNotices, FFailureNotices;

  // The runner's last step: shows the notice of a run that did not finish its
  // job (empty when there is none), once per failure streak for the hot folder.
  void MirrorEnded(const WideString& notice, bool hotFolder);
  friend void RunMirror(const WideString& commandLine, bool hotFolder);

  // The pairs of folders whose overlap the hot folder has told the user about.
  TNoticeOnce FOverlapNotices;

  // Which reports start a run, and the files left in use that wait for their
  // writer; the timer looks again at those whose writer the system does not show.
  THotFolderSchedule FSchedule{[](const WideString& path) { return platform::FileActivityOf(path); }};
  QTimer FQuietTimer;
  // Does what the schedule asks: a run now, or one after the running one.
  void HotFolderAsk(THotFolderSchedule::TAsk ask);
  void LookAgainWhenQuiet();
  void StartHotFolderMirror();
  // What every report ends with: the source tree and both lists shown afresh.
  void ShowReportedChange();

  // A "Raiz" button's work for one side: root is that side's global.
  // After a pick of the source: starts the hot folder held back while the tree showed a stand-in.
  void WatchChosenSource(bool wasFallback);
  // Points the monitor at SourceRoot (made on first use) and asks for one run
  // for what is already there.
  void WatchSource();
  // One run for what landed while nothing watched the source.
  void CatchUp();
  // Stores where the disk holding a side's folder is mounted, under valueName.
  static void RememberDisk(const WideString& valueName, const WideString& root);
  // The boundary of the monitor's reports: what a report raises is shown once
  // the report has returned, and the monitor goes on.
  void HotFolderBoundary(const std::function<void()>& handler);
  void ShowErrorLater(std::exception_ptr error);
  // A notice of a run: at once for "Sincronizar", queued for the hot folder,
  // whose notices also go to the system's notifications (a failed run with
  // critical urgency): the user may be away from the window for days.
  void Notify(const QString& text, bool hotFolder, TUrgency urgency = TUrgency::Normal);
  friend void ShowOverlapNotice(bool hotFolder);
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

// The notice of a mirror refused because its folders overlap; queued for the hot folder.
void ShowOverlapNotice(bool hotFolder);
