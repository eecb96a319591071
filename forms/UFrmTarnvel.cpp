#include "forms/UFrmTarnvel.h"

#include <QGuiApplication>
#include <algorithm>
#include <QIcon>
#include <QScreen>
#include <optional>

#include "forms/folderpicker.h"
#include "forms/UFrmRoboCopy.h"
#include "funcoes/cmdline.h"
#include "funcoes/hotfolder.h"
#include "funcoes/mirrorfailures.h"
#include "funcoes/mirrormeter.h"
#include "funcoes/paths.h"
#include "funcoes/runner.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "toolkit/handlers.h"
#include "toolkit/history.h"
#include "toolkit/layout.h"
#include "toolkit/stylemanager.h"
#ifndef _WIN32
#include "platform/text.h"
#include "platform/userdirs.h"
#endif

TFrmTarnvel* FrmTarnvel = nullptr;

namespace {

// The file types a "Raiz" button's side lists from then on.
const QString MediaMask = QStringLiteral(
    "*.MBD;*.TXT;*.MP2;*.MP3;*.MP4;*.MOV;*.MXF;*.AVI;*.ASF;*.BMP;*.DV;*.FLV;*.GXF;*.JPG;*.MPG;*.WMA;*.WMV;*.TGA;"
    "*.VOB;*.XML;*.PNG;*.MKV");

#ifdef _WIN32
// Read back when a stored folder is missing.
const WideString MissingFolder = u"C:\\";
// A portable program keeps its media beside itself.
WideString FirstSource() { return AppFolder + u"\\"; }
WideString EmptySideFolder() { return AppFolder + u"\\videos"; }
WideString FirstDestination() { return u"C:\\TMP"; }
bool AdoptableDestination(const WideString&) { return true; }
#else
const WideString MissingFolder = u"/";
// The program lives in a shared install folder: media live in the user's
// videos folder, and the first destination is a folder of the user's own,
// never one in a folder that every user may write.
WideString FirstSource() { return platform::VideosFolder(); }
WideString EmptySideFolder() { return platform::VideosFolder(); }
WideString FirstDestination() { return platform::FromUtf8(platform::HomeFolder()) + u"/TMP"; }
// A folder that another user made (or linked) there would receive every clip.
bool AdoptableDestination(const WideString& path) { return !platform::OwnedByAnotherUser(path); }
#endif

// What a tree shows while its remembered folder is missing.
WideString FallbackFolder() { return ExtractFileDrive(AppFolder) + PathDelim; }

void CreateIfMissing(const WideString& folder) {
  if (!DirectoryExists(folder)) ForceDirectories(folder);
}

QString Q(const WideString& text) { return QString::fromStdU16String(text); }
WideString W(const QString& text) { return text.toStdU16String(); }

// The window's font. Given to every control, since a style sheet stops a
// parent's font from reaching its children.
QFont FormFont() { return PixelFont(QStringLiteral("Tahoma"), 11); }

QFrame* MakePanel(QWidget* parent, const QString& name, const QRect& geometry) {
  auto* panel = MakeControl<QFrame>(parent, name, FormFont(), geometry);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  return panel;
}

QCheckBox* MakeCheckBox(QWidget* parent, const QString& name, const QString& caption, const QRect& geometry,
                        bool checked) {
  auto* box = MakeControl<QCheckBox>(parent, name, FormFont(), geometry);
  box->setText(caption);
  box->setChecked(checked);
  return box;
}

// A label holds its caption on one line, as wide as the caption and as high
// as the layout's line (19 pixels, what Tahoma at 16 pixels takes), whatever
// face stands in for Tahoma.
void FitLabel(QLabel* label) {
  label->adjustSize();
  label->resize(label->width(), std::max(label->height(), 19));
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption, QPoint position) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setFont(PixelFont(QStringLiteral("Tahoma"), 16));
  label->setWordWrap(false);
  // Sized to its text on one line; what runs past the next control is covered by it.
  label->move(position);
  FitLabel(label);
  return label;
}

// The lists show their parent's face colour unless a theme colours them.
void StyleList(QListWidget* list) {
  list->setFont(PixelFont(QStringLiteral("Arial"), 16));
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  if (TStyleManager::ActiveStyleName().isEmpty()) {
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    list->setPalette(palette);
  }
}

}  // namespace

TFrmTarnvel::TFrmTarnvel(QWidget* parent) : TForm(parent) {
  setObjectName(QStringLiteral("FrmTarnvel"));
  setWindowTitle(QStringLiteral("Tarnvel KESTRO"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/tarnvel.png")));
  // Fixed size: close and minimise boxes, no maximise box.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(967, 556);
  setFont(FormFont());

  CreateControls();
  Tray = new TTrayIcon(this);
  ConnectHandlers();
  FQuietTimer.setSingleShot(true);
  // A file that was in use has been quiet long enough to be looked at again.
  connect(&FQuietTimer, &QTimer::timeout, this,
          [this] { HotFolderBoundary([this] { HotFolderAsk(FSchedule.Look(THotFolderSchedule::Clock::now())); }); });

  // Centred on the primary screen.
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TFrmTarnvel::CreateControls() {
  PanelPastas = MakePanel(this, "PanelPastas", {0, 0, 967, 145});
  DirectoryListOrigem =
      MakeControl<TDirectoryListBox>(PanelPastas, "DirectoryListOrigem", FormFont(), {1, 42, 482, 102});
  DirectoryListBoxdestino =
      MakeControl<TDirectoryListBox>(PanelPastas, "DirectoryListBoxdestino", FormFont(), {484, 42, 482, 102});
  PanelSuperior = MakePanel(PanelPastas, "PanelSuperior", {1, 1, 965, 41});
  LBLOrigem = MakeLabel(PanelSuperior, "LBLOrigem", "Pasta origem", {74, 11});
  LblDestino = MakeLabel(PanelSuperior, "LblDestino", "Pasta destino", {565, 11});
  PanelFiles = MakePanel(this, "PanelFiles", {0, 145, 967, 336});
  FileListBoxOrigem = MakeControl<TFileListBox>(PanelFiles, "FileListBoxOrigem", FormFont(), {1, 1, 482, 334});
  FileListBoxDestino = MakeControl<TFileListBox>(PanelFiles, "FileListBoxDestino", FormFont(), {484, 1, 482, 334});
  BtRaizOrigem = MakeButton(PanelSuperior, "BtRaizOrigem", "Raiz", FormFont(), {3, 6, 60, 28});
  BtRaizDestino = MakeButton(PanelSuperior, "BtRaizDestino", "Raiz", FormFont(), {484, 6, 70, 28});
  CHKHotFolderOrigem = MakeCheckBox(this, "CHKHotFolderOrigem", "Hot Folder Origem", {350, 504, 123, 17}, false);
  BtCopiar = MakeButton(this, "BtCopiar", "Sincronizar", FormFont(), {0, 532, 479, 25});
  BtRefresh = MakeButton(this, "BtRefresh", "Refresh", FormFont(), {477, 532, 482, 25});
  ChkPreserva = MakeCheckBox(this, "ChkPreserva", "Preversa Arquivos do destino", {16, 504, 169, 17}, true);

  for (TDirectoryListBox* tree : {DirectoryListOrigem, DirectoryListBoxdestino}) {
    StyleList(tree);
    tree->SetItemHeight(18);
  }
  for (TFileListBox* files : {FileListBoxOrigem, FileListBoxDestino}) {
    StyleList(files);
    files->SetItemHeight(18);
    files->setSelectionMode(QAbstractItemView::ExtendedSelection);
  }
  DirectoryListOrigem->SetFileList(FileListBoxOrigem);
  DirectoryListBoxdestino->SetFileList(FileListBoxDestino);

  // The panels hold the upper controls, so the trees come first, then the
  // header buttons, then the file lists, then the controls at the bottom.
  QWidget* order[] = {DirectoryListOrigem, DirectoryListBoxdestino, BtRaizOrigem, BtRaizDestino, FileListBoxOrigem,
                      FileListBoxDestino,  CHKHotFolderOrigem,      BtCopiar,     BtRefresh,     ChkPreserva};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void TFrmTarnvel::ConnectHandlers() {
  ConnectHandler(this, &TForm::OnShow, this, &TFrmTarnvel::FormShow);
  // The trees run these inside their own moves, so a failure reaches whoever moved them.
  DirectoryListOrigem->OnChange = [this](QObject* sender) { DirectoryListOrigemChange(sender); };
  DirectoryListBoxdestino->OnChange = [this](QObject* sender) { DirectoryListBoxdestinoChange(sender); };
  ConnectHandler(BtRaizOrigem, &QPushButton::clicked, this, &TFrmTarnvel::BtRaizOrigemClick);
  ConnectHandler(BtRaizDestino, &QPushButton::clicked, this, &TFrmTarnvel::BtRaizDestinoClick);
  ConnectHandler(BtRefresh, &QPushButton::clicked, this, &TFrmTarnvel::BtRefreshClick);
  // Runs on every change of the state, by a click or by code, and only then.
  ConnectHandler(CHKHotFolderOrigem, &QCheckBox::toggled, this, &TFrmTarnvel::CHKHotFolderOrigemClick);
  ConnectHandler(BtCopiar, &QPushButton::clicked, this, &TFrmTarnvel::BtCopiarClick);
  ConnectHandler(this, &TForm::OnClose, this, &TFrmTarnvel::FormClose);
}

void TFrmTarnvel::FormShow(QObject*) {
  AppFolder = platform::ExecutableFolder();
  SourceRoot = SettingValue(u"ler", SourceValueName, FirstSource());
  // An empty stored text names no folder: start as if nothing were stored.
  if (SourceRoot.empty()) SourceRoot = FirstSource();
  if (SourceRoot == FirstSource()) CreateIfMissing(SourceRoot);
  // A remembered folder that is missing (a card not inserted, a disk not
  // plugged in) stays remembered and stays the root, so the runner refuses
  // to mirror; the tree shows the drive root meanwhile.
  FSourceIsFallback = !DirectoryExists(SourceRoot);
  DirectoryListOrigem->SetDirectory(Q(FSourceIsFallback ? FallbackFolder() : SourceRoot));
  if (FSourceIsFallback)
    ShowMissing(LBLOrigem, QStringLiteral("Origem: "), SourceRoot);
  else
    RememberDisk(SourceDiskValueName, SourceRoot);

  DestinationRoot = SettingValue(u"ler", DestinationValueName, FirstDestination());
  if (DestinationRoot.empty() || !AdoptableDestination(DestinationRoot)) DestinationRoot = FirstDestination();
  // Only the first destination is created: a remembered one that is missing
  // would be made on whatever disk holds its parent.
  if (DestinationRoot == FirstDestination()) CreateIfMissing(DestinationRoot);
  FDestinationIsFallback = !DirectoryExists(DestinationRoot);
  DirectoryListBoxdestino->SetDirectory(Q(FDestinationIsFallback ? FallbackFolder() : DestinationRoot));
  if (FDestinationIsFallback)
    ShowMissing(LblDestino, QStringLiteral("Destino: "), DestinationRoot);
  else
    RememberDisk(DestinationDiskValueName, DestinationRoot);
  // A first start, with nothing stored, watches the source.
  CHKHotFolderOrigem->setChecked(SettingAsBoolean(SettingValue(u"ler", HotFolderValueName, u""), true));
}

void TFrmTarnvel::RememberDisk(const WideString& valueName, const WideString& root) {
  const WideString remembered = SettingValue(u"ler", valueName, u"");
  const WideString disk = DiskToRemember(remembered, root);
  if (disk != remembered) SettingValue(u"escrever", valueName, disk);
}

void TFrmTarnvel::ShowMissing(QLabel* label, const QString& caption, const WideString& root) {
  ShowFolder(label, caption + Q(root) + QStringLiteral(" (não encontrada)"));
}

void TFrmTarnvel::ShowFolder(QLabel* label, const QString& text) {
  // Each label keeps to its half of the header: the source's ends before the
  // destination's button, the destination's at the panel's edge. A longer
  // path loses its middle, where its start (the disk) and its end (the
  // folder itself) stay readable; the tooltip holds all of it.
  constexpr int Gap = 4;
  const int end = label == LBLOrigem ? BtRaizDestino->x() : PanelSuperior->contentsRect().right() + 1;
  label->setText(QFontMetrics(label->font()).elidedText(text, Qt::ElideMiddle, end - Gap - label->x()));
  label->setToolTip(text);
  FitLabel(label);
}

void TFrmTarnvel::DirectoryListOrigemChange(QObject*) {
  // Moving to the fallback at start is not the user's choice.
  if (FSourceIsFallback && W(DirectoryListOrigem->Directory()) == FallbackFolder()) return;
  const bool wasFallback = FSourceIsFallback;
  FSourceIsFallback = false;
  SettingValue(u"escrever", SourceValueName, W(DirectoryListOrigem->Directory()));
  SourceRoot = SettingValue(u"ler", SourceValueName, MissingFolder);
  ShowFolder(LBLOrigem, QStringLiteral("Origem: ") + Q(SourceRoot));
  RememberDisk(SourceDiskValueName, SourceRoot);
  WatchChosenSource(wasFallback);
}

void TFrmTarnvel::DirectoryListBoxdestinoChange(QObject*) {
  if (FDestinationIsFallback && W(DirectoryListBoxdestino->Directory()) == FallbackFolder()) return;
  FDestinationIsFallback = false;
  SettingValue(u"escrever", DestinationValueName, W(DirectoryListBoxdestino->Directory()));
  DestinationRoot = SettingValue(u"ler", DestinationValueName, MissingFolder);
  SourceRoot = SettingValue(u"ler", SourceValueName, MissingFolder);
  ShowFolder(LblDestino, QStringLiteral("Destino: ") + Q(DestinationRoot));
  RememberDisk(DestinationDiskValueName, DestinationRoot);
}

void TFrmTarnvel::BtRaizOrigemClick(QObject*) {
  PickRoot(SourceRoot, SourceValueName, SourceValueName, DirectoryListOrigem, FileListBoxOrigem);
}

void TFrmTarnvel::BtRaizDestinoClick(QObject*) {
  // Never assigns SourceRoot: only the destination tree's change handler reloads it.
  PickRoot(DestinationRoot, DestinationPickedValueName, DestinationValueName, DirectoryListBoxdestino,
           FileListBoxDestino);
}

void TFrmTarnvel::PickRoot(WideString& root, const WideString& pickedName, const WideString& rootName,
                           TDirectoryListBox* tree, TFileListBox* files) {
  bool& fallback = tree == DirectoryListOrigem ? FSourceIsFallback : FDestinationIsFallback;
  const bool sourceFallback = tree == DirectoryListOrigem && fallback;
  // A side without a folder gets the media folder on disk, whatever the user
  // then does in the picker. A remembered folder missing since start is not
  // made: it belongs on a disk that is not there.
  if (!fallback) CreateIfMissing(root.empty() ? EmptySideFolder() : root);

  std::unique_ptr<TFolderPicker> picker = CreateFolderPicker();
  // Empty unless the user confirmed an existing folder. A cancel or a refused
  // name leaves the store, the global and the tree on the folder they had.
  QString name;
  std::exception_ptr failure;
  try {
    const std::optional<QString> chosen = picker->Execute(Q(SettingValue(u"ler", pickedName, u"")));
    if (chosen) {
      if (DirectoryExists(W(*chosen))) {
        root = W(*chosen);
        name = *chosen;
      } else {
        ShowMessage(QStringLiteral("Pasta inexistente!"));
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }
  // These follow the pick in every case, a failed one included.
  if (!name.isEmpty()) {
    // A chosen folder ends the side's fallback, even when the tree already shows it.
    fallback = false;
    SettingValue(u"escrever", pickedName, W(name));
    tree->SetDirectory(name);
  }
  picker.reset();
  files->SetMask(MediaMask);
  if (failure) std::rethrow_exception(failure);
  if (name.isEmpty()) return;
  root = SettingValue(u"ler", rootName, MissingFolder);
  if (tree != DirectoryListOrigem) return;
  RememberDisk(SourceDiskValueName, SourceRoot);
  WatchChosenSource(sourceFallback);
}

void TFrmTarnvel::WatchChosenSource(bool wasFallback) {
  if (!CHKHotFolderOrigem->isChecked()) return;
  // The user's first pick after a start-up stand-in may be watched now; a
  // watch on the folder the user left would report against the new one.
  if (wasFallback || !FFolderMon || FFolderMon->Folder() != SourceRoot) WatchSource();
}

void TFrmTarnvel::BtRefreshClick(QObject*) {
  FileListBoxDestino->Update();
  FileListBoxOrigem->Update();
}

void TFrmTarnvel::CHKHotFolderOrigemClick(QObject*) {
  const bool ticked = CHKHotFolderOrigem->isChecked();
  SettingValue(u"escrever", HotFolderValueName, ticked ? u"-1" : u"0");
  Tray->SetState(THotFolderState::Watching);
  Tray->SetShown(ticked);
  if (!ticked) {
    // Destroying the monitor deactivates it; the next tick makes a new one.
    FFolderMon.reset();
    return;
  }
  // Never a folder the user did not choose: the box keeps its state meanwhile.
  if (FSourceIsFallback) return;
  WatchSource();
}

void TFrmTarnvel::WatchSource() {
  if (!FFolderMon) {
    FFolderMon = std::make_unique<TFolderMon>();
    FFolderMon->SetOnActivated([](TFolderMon*) {});
    FFolderMon->SetOnDeactivated([](TFolderMon*) {});
    FFolderMon->SetOnFolderChange([this](TFolderMon* Sender, TFolderItemInfo AFolderItem) {
      HotFolderBoundary([&] { FolderChanged(Sender, AFolderItem); });
    });
    FFolderMon->SetOnChangesLost([this](TFolderMon* Sender) { HotFolderBoundary([&] { FolderChangesLost(Sender); }); });
    FFolderMon->SetOnFolderGone([this](TFolderMon* Sender) { HotFolderBoundary([&] { SourceGone(Sender); }); });
    FFolderMon->SetOnFolderBack([this](TFolderMon* Sender) { HotFolderBoundary([&] { SourceBack(Sender); }); });
  }
  if (FFolderMon->IsActive()) FFolderMon->Deactivate();
  FFolderMon->SetFolder(SourceRoot);
  FFolderMon->SetMonitoredChanges({ctFileName, ctDirName, ctSize, ctLastWriteTime, ctLastAccessTime});
  FFolderMon->SetMonitorSubFolders(true);
  FFolderMon->Activate();
  CatchUp();
}

void TFrmTarnvel::CatchUp() {
  // What landed while nothing watched this folder: one run brings it, once
  // the event loop comes round (never nested in the show or a click).
  FSchedule.Armed();
  MirrorPending = true;
  if (!MirrorRunning) QueuePendingMirror();
}

void TFrmTarnvel::SourceGone(TFolderMon*) {
  ShowMissing(LBLOrigem, QStringLiteral("Origem: "), SourceRoot);
  ShowNotification(QStringLiteral("Hot Folder: a pasta de origem não foi encontrada."), Q(SourceRoot),
                   TUrgency::Normal);
}

void TFrmTarnvel::SourceBack(TFolderMon*) {
  ShowFolder(LBLOrigem, QStringLiteral("Origem: ") + Q(SourceRoot));
  CatchUp();
}

void TFrmTarnvel::HotFolderBoundary(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    ShowErrorLater(std::current_exception());
  }
}

void TFrmTarnvel::ShowErrorLater(std::exception_ptr error) {
  // Shown once the report has returned: the worker goes on meanwhile.
  QMetaObject::invokeMethod(
      this, [error] { Application->HandleException(error); }, Qt::QueuedConnection);
}

void TFrmTarnvel::Notify(const QString& text, bool hotFolder, TUrgency urgency) {
  if (!hotFolder) {
    ShowMessage(text);
    return;
  }
  // The first paragraph is the summary, the failure lines its body.
  const qsizetype paragraph = text.indexOf(QStringLiteral("\n\n"));
  ShowNotification(text.left(paragraph), paragraph < 0 ? QString() : text.mid(paragraph + 2), urgency);
  // A notice of the hot folder waits for the report to return and holds up
  // nothing while it is open: reports keep arriving in its event loop.
  QMetaObject::invokeMethod(
      this, [text] { ShowMessage(text); }, Qt::QueuedConnection);
}

void TFrmTarnvel::FolderChanged(TFolderMon* Sender, TFolderItemInfo AFolderItem) {
  const WideString path = IncludeTrailingPathDelimiter(W(FileListBoxOrigem->Directory())) + AFolderItem.Name;
  // A folder that appears under a name (made, moved in, renamed) brings what
  // it holds; other reports of a folder are its own entries changing, which
  // are reported by their own names.
  const bool isFile = FileExists(path);
  const bool folderAppeared =
      (AFolderItem.Action == faNew || AFolderItem.Action == faRenamedNew) && DirectoryExists(path);
  // What no run would copy (a writer's hidden temporary, say) asks for none.
  if ((isFile || folderAppeared) && !MirrorLeavesOut(AFolderItem.Name, isFile, isFile && platform::PathIsHidden(path)))
    HotFolderAsk(FSchedule.Reported(path, Sender->ChangeReadAt(), THotFolderSchedule::Clock::now()));
  ShowReportedChange();
  emit ChangeHandled(Q(AFolderItem.Name));
}

void TFrmTarnvel::FolderChangesLost(TFolderMon* Sender) {
  HotFolderAsk(FSchedule.Lost(Sender->ChangeReadAt()));
  ShowReportedChange();
  emit ChangeHandled({});
}

void TFrmTarnvel::ShowReportedChange() {
  DirectoryListOrigem->SetDirectory(Q(SourceRoot));
  FileListBoxOrigem->Update();
  FileListBoxDestino->Update();
}

void TFrmTarnvel::HotFolderAsk(THotFolderSchedule::TAsk ask) {
  LookAgainWhenQuiet();
  if (ask == THotFolderSchedule::TAsk::AfterRun) MirrorPending = true;
  if (ask == THotFolderSchedule::TAsk::Run) StartHotFolderMirror();
}

void TFrmTarnvel::LookAgainWhenQuiet() {
  const std::optional<THotFolderSchedule::Clock::time_point> at = FSchedule.NextLook();
  if (!at) {
    FQuietTimer.stop();
    return;
  }
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*at - THotFolderSchedule::Clock::now());
  FQuietTimer.start(std::max<int>(0, static_cast<int>(wait.count())));
}

void TFrmTarnvel::StartHotFolderMirror() {
  // Refused runs of the hot folder come with every report: the user hears of
  // a pair of overlapping folders once.
  if (FoldersOverlap(SourceRoot, DestinationRoot)) {
    if (FOverlapNotices.Due({SourceRoot, DestinationRoot})) ShowOverlapNotice(true);
    return;
  }
  try {
    BtCopiarClick(nullptr);
  } catch (const std::exception& e) {
    // The copy program could not start (missing, being replaced): the watch
    // goes on and the next report tries again. Told once per streak.
    if (FrmRoboCopy) FrmRoboCopy->close();
    if (FFailureNotices.Due({QString::fromUtf8(e.what()).toStdU16String()})) ShowErrorLater(std::current_exception());
  }
}

void TFrmTarnvel::QueuePendingMirror() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        RunHandler([this] {
          // A run that started meanwhile has covered it; a closed window starts nothing.
          if (MirrorPending && !MirrorRunning && isVisible()) StartHotFolderMirror();
        });
      },
      Qt::QueuedConnection);
}

void TFrmTarnvel::BtCopiarClick(QObject* Sender) {
  const WideString commandLine = MirrorCommandLine(SourceRoot, DestinationRoot, ChkPreserva->isChecked());
  if (!FrmRoboCopy) Application->CreateForm(FrmRoboCopy);
  FrmRoboCopy->show();
  FrmRoboCopy->raise();
  // Called without a sender by the hot folder, whose runs repeat their notices less.
  RunMirror(commandLine, Sender == nullptr);
}

void TFrmTarnvel::MirrorEnded(const WideString& notice, bool hotFolder) {
  // The hot folder shows a failure once per streak of failed runs: again after
  // a run that succeeded, or when other lines fail.
  if (notice.empty() && !MirrorStopRequested) FFailureNotices.Forget();
  if (notice.empty() || (hotFolder && !FFailureNotices.Due({notice}))) return;
  Notify(Q(notice), hotFolder, TUrgency::Critical);
}

void TFrmTarnvel::FormClose(QObject*) {
  // The runner, still pumping messages, sees its copy end and finishes the run.
  StopMirror();
}

namespace {

// An empty source (a card reader without its card, the mount point of a share
// that is not mounted) would have the mirror delete the whole destination.
bool EmptySourceWouldWipe(const WideString& commandLine) {
  return PurgesExtras(commandLine) && !FolderHoldsFiles(SourceRoot) && FolderHoldsFiles(DestinationRoot);
}

// Why a run may not start because a remembered disk is not there; empty when it may.
QString DiskRefusal() {
  if (!DiskConnected(SettingValue(u"ler", SourceDiskValueName, u""), SourceRoot))
    return QStringLiteral("Sincronismo não iniciado: o disco de origem não está conectado.");
  if (!DiskConnected(SettingValue(u"ler", DestinationDiskValueName, u""), DestinationRoot))
    return QStringLiteral("Sincronismo não iniciado: o disco de destino não está conectado.");
  return {};
}

}  // namespace

void RunMirror(const WideString& commandLine, bool hotFolder) {
  if (MirrorRunning) return;
  if (!DirectoryExists(SourceRoot) || !DirectoryExists(DestinationRoot)) return;
  // A mirror between overlapping folders would copy the destination into
  // itself, or purge the source.
  if (FoldersOverlap(SourceRoot, DestinationRoot)) {
    ShowOverlapNotice(hotFolder);
    return;
  }
  // An unplugged disk leaves its bare mount-point folder: a mirror there
  // would fill the system's disk, hidden under the disk once it is back, or
  // take the empty folder for an emptied source.
  if (const QString refusal = DiskRefusal(); !refusal.isEmpty()) {
    FrmTarnvel->Tray->SetState(THotFolderState::WaitingForDisk);
    if (!hotFolder || FrmTarnvel->FFailureNotices.Due({W(refusal), SourceRoot, DestinationRoot}))
      FrmTarnvel->Notify(refusal, hotFolder);
    return;
  }
  if (EmptySourceWouldWipe(commandLine)) {
    if (!hotFolder || FrmTarnvel->FEmptySourceNotices.Due({SourceRoot, DestinationRoot}))
      FrmTarnvel->Notify(
          QStringLiteral("Sincronismo não iniciado: a pasta de origem está vazia e a pasta de destino não. "
                         "Nada foi apagado."),
          hotFolder);
    return;
  }

  const auto started = std::chrono::steady_clock::now();
  TRunRecord record{std::chrono::system_clock::now(), hotFolder, SourceRoot, DestinationRoot};
  TMirrorFailures failures;
  TMirrorSummary summary;
  failures.OnLine = [&summary](std::string_view line) { summary.Line(line); };
  // The trees are walked on the meter's thread: walking them here would leave
  // the windows unanswered for two walks at a time. Started first: should its
  // thread fail, no copy runs and no run is marked as under way.
  MirrorMeter meter(SourceRoot, DestinationRoot);
  platform::ChildProcess child =
      StartMirror(commandLine, [&failures](std::string_view bytes) { failures.Feed(bytes); });
  MirrorRunning = true;
  MirrorStopRequested = false;
  MirrorPending = false;  // this run sees what the pending report saw
  MirrorChild = &child;
  FrmTarnvel->FSchedule.RunStarted(started);
  // Handlers that run nested in ProcessMessages end at their own boundary,
  // so nothing here throws and the end steps below are always reached.
  while (!child.Wait(10)) {
    // Both roots read afresh: a folder changed meanwhile is measured from now on.
    meter.SetRoots(SourceRoot, DestinationRoot);
    if (const std::optional<MirrorSizes> sizes = meter.Latest())
      FrmRoboCopy->GaugeEspelho->SetProgress(MirrorPercentage(sizes->source, sizes->destination));
    FrmTarnvel->Tray->SetState(THotFolderState::Copying, FrmRoboCopy->GaugeEspelho->PercentDone());
    FrmRoboCopy->repaint();
    Application->ProcessMessages();
  }
  meter.Stop();
  MirrorChild = nullptr;
  const platform::ChildEnd end = child.End();
  child.Close();
  FrmRoboCopy->GaugeEspelho->SetProgress(0);
  MirrorRunning = false;
  FrmRoboCopy->close();
  FrmTarnvel->FileListBoxDestino->Update();
  failures.Finish();
  // Files left in use wait for their writer; the run asked for meanwhile is
  // owed unless every ask was about one of them.
  MirrorPending = FrmTarnvel->FSchedule.RunEnded(FilesLeftInUse(failures, SourceRoot, DestinationRoot),
                                                 std::chrono::steady_clock::now());
  FrmTarnvel->LookAgainWhenQuiet();
  record.Duration = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  record.End = end;
  record.Stopped = MirrorStopRequested;
  record.Purges = PurgesExtras(commandLine);
  if (summary.Complete()) record.Summary = summary;
  record.FailureLines = failures.Count(false) + failures.Count(true);
  for (const TMirrorFailures::Line& line : failures.Lines()) record.Failures.push_back(line.text);
  RecordRun(record);
  const WideString notice = MirrorFailureNotice(end, failures, MirrorStopRequested, hotFolder);
  FrmTarnvel->Tray->SetState(notice.empty() ? THotFolderState::Watching : THotFolderState::Failed);
  FrmTarnvel->MirrorEnded(notice, hotFolder);
  if (MirrorPending) FrmTarnvel->QueuePendingMirror();
}

void ShowOverlapNotice(bool hotFolder) {
  FrmTarnvel->Notify(QStringLiteral("Sincronismo não iniciado: a pasta de origem e a pasta de destino são a mesma "
                                    "pasta, ou uma está dentro da outra.\n\nOrigem: %1\nDestino: %2")
                         .arg(Q(SourceRoot), Q(DestinationRoot)),
                     hotFolder);
}
