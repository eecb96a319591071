// Choosing and remembering the two folders: the window's show handler, the
// trees' change handlers, the "Raiz" buttons with an answered picker, "Refresh".
#include <QCoreApplication>
#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <functional>
#include <memory>

#include "forms/UFrmRoboCopy.h"
#include "forms/UFrmTarnvel.h"
#include "forms/folderpicker.h"
#include "funcoes/exceptions.h"
#include "funcoes/funcoes.h"
#include "isolated_settings.h"
#include "tempdir.h"
#include "uitest.h"
#ifndef _WIN32
#include "unprivileged.h"
#endif

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

QString N(const fs::path& path) { return QString::fromStdString(path.string()); }
QString Q(const WideString& text) { return QString::fromStdU16String(text); }
QString Stored(const char16_t* name) { return Q(SettingValue(u"ler", name, u"<missing>")); }
void Store(const char16_t* name, const QString& value) { SettingValue(u"escrever", name, value.toStdU16String()); }

QStringList Items(const QListWidget* list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
  names.sort(Qt::CaseInsensitive);
  return names;
}

QStringList Sorted(QStringList names) {
  names.sort(Qt::CaseInsensitive);
  return names;
}

// What the picker does when the next "Raiz" opens it.
enum class Answer { Confirm, Cancel, Throw };
struct PickerScript {
  Answer Kind = Answer::Cancel;
  QString Name;
  std::function<void()> Before;  // runs while the picker is open
};
PickerScript Script;
QStringList StartFolders;
int LivePickers = 0;

class ScriptedPicker : public TFolderPicker {
 public:
  ScriptedPicker() { ++LivePickers; }
  ~ScriptedPicker() override { --LivePickers; }
  std::optional<QString> Execute(const QString& startFolder) override {
    StartFolders << startFolder;
    if (Script.Before) Script.Before();
    switch (Script.Kind) {
      case Answer::Confirm:
        return Script.Name;
      case Answer::Cancel:
        return std::nullopt;
      case Answer::Throw:
        throw Exception("Picker failed");
    }
    return std::nullopt;
  }
};

const QStringList MediaFiles = {"a.MBD", "b.txt", "c.Mp2", "d.mp3", "clip.mp4",
#ifndef _WIN32
                                // Another file only where names differing in case are two.
                                "CLIP.MP4",
#endif
                                "f.mov", "g.MXF", "h.avi", "i.asf", "j.bmp", "k.dv", "l.flv", "m.gxf", "n.jpg", "o.mpg",
                                "p.wma", "q.wmv", "r.tga", "s.vob", "t.xml", "u.png", "v.mkv"};
const QStringList OtherFiles = {"audio.wav", "roteiro.doc", "clip.mp4x", "mp4", "semextensao"};

}  // namespace

class FoldersTest : public QObject {
  Q_OBJECT

  std::unique_ptr<testsupport::IsolatedSettings> FSettings;
  std::unique_ptr<TempDir> FTemp;
  std::unique_ptr<TFrmTarnvel> FForm;
  QString FOldCurrent;
  // Stored source and destination, the folder the picker offers, another one, and the start folder.
  QString S0, D0, P, Other, Start;

  void ShowWindow() {
    Application->CreateForm(FrmTarnvel);
    FForm.reset(FrmTarnvel);
    FForm->show();
  }
  void CloseWindow() {
    FForm.reset();
    FrmTarnvel = nullptr;
    FrmRoboCopy = nullptr;  // owned by the main window
  }
  void StoreFolders() {
    Store(u"storage_Origem", S0);
    Store(u"storage_Destino", D0);
  }

  struct Side {
    TDirectoryListBox* Tree;
    TFileListBox* Files;
    QLabel* Label;
    QPushButton* Raiz;
    WideString* Root;
    const char16_t* Name;
    QString Caption, Folder;
  };
  Side SideOf(int side) {
    if (side == 0)
      return {FForm->DirectoryListOrigem,
              FForm->FileListBoxOrigem,
              FForm->LBLOrigem,
              FForm->BtRaizOrigem,
              &SourceRoot,
              u"storage_Origem",
              "Origem: ",
              S0};
    return {FForm->DirectoryListBoxdestino,
            FForm->FileListBoxDestino,
            FForm->LblDestino,
            FForm->BtRaizDestino,
            &DestinationRoot,
            u"storage_Destino",
            "Destino: ",
            D0};
  }
  // Where a first start puts the two folders, where "Raiz" makes the media
  // folder, and what a tree shows for a missing folder. A portable Windows
  // program keeps its media beside itself and mirrors to C:\TMP; elsewhere the
  // program lives in a shared install folder and both are the user's own.
#ifdef _WIN32
  static QString ProgramFolder() { return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()); }
  QString FirstSource(const QString&) const { return ProgramFolder() + "\\"; }
  QString FirstDestination() const { return "C:\\TMP"; }
  QString MediaFolder() const { return ProgramFolder() + "\\videos"; }
  static QString DriveRoot() { return ProgramFolder().left(3); }
#else
  QString FirstSource(const QString& videos) const { return N(FSettings->home() / videos.toStdString()); }
  QString FirstDestination() const { return N(FSettings->home() / "TMP"); }
  QString MediaFolder() const { return N(FSettings->home() / "Videos"); }
  static QString DriveRoot() { return "/"; }
#endif

  QString Folder(const QString& key, const Side& side) {
    if (key == "P") return P;
    if (key == "Other") return Other;
    if (key == "S0") return S0;
    if (key == "side") return side.Folder;
    return key;
  }

 private slots:
  void initTestCase() {
    CreateFolderPicker = [] { return std::unique_ptr<TFolderPicker>(std::make_unique<ScriptedPicker>()); };
  }

  void init() {
    FSettings = std::make_unique<testsupport::IsolatedSettings>();
    Store(u"AutoCheck", "0");  // the hot folder has tests of its own
    FTemp = std::make_unique<TempDir>();
    S0 = N(*FTemp / "origem");
    D0 = N(*FTemp / "destino");
    P = N(*FTemp / "escolhida");
    Other = N(*FTemp / "outra");
    Start = N(*FTemp / "start");
    WriteFile(*FTemp / "origem" / "ontem.MOV", "x");
    WriteFile(*FTemp / "origem" / "som.wav", "x");
    WriteFile(*FTemp / "destino" / "final.mxf", "x");
    WriteFile(*FTemp / "destino" / "roteiro.doc", "x");
    for (const QString& name : MediaFiles + OtherFiles) WriteFile(*FTemp / "escolhida" / name.toStdString(), "x");
    WriteFile(*FTemp / "escolhida" / ".oculto.mp4", "x");
    fs::create_directories(*FTemp / "escolhida" / "sub.mp4");
    fs::create_directories(*FTemp / "outra");
    fs::create_directories(*FTemp / "start");
    FOldCurrent = QDir::currentPath();
    QDir::setCurrent(Start);
    SourceRoot.clear();
    DestinationRoot.clear();
    AppFolder.clear();
    Script = {};
    StartFolders.clear();
    ShownBoxes.clear();
  }

  void cleanup() {
    CloseWindow();
    QDir::setCurrent(FOldCurrent);
    FTemp.reset();
    FSettings.reset();
    QCOMPARE(LivePickers, 0);
  }

  // Nothing stored: the source is the user's videos folder and the destination
  // a folder in the user's home, both made on the spot; the program's own
  // folder stays AppFolder but is never offered as a place for media.
  void FirstStart_data() {
    QTest::addColumn<bool>("emptyDestination");
    QTest::addColumn<QString>("userDirs");  // a line of user-dirs.dirs, or none
    QTest::addColumn<QString>("videos");    // the source, relative to the home
    QTest::newRow("empty store") << false << ""
                                 << "Videos";
    QTest::newRow("destination stored empty") << true << ""
                                              << "Videos";
#ifndef _WIN32
    QTest::newRow("videos folder named by user-dirs.dirs")
        << false << QString::fromUtf8("XDG_VIDEOS_DIR=\"$HOME/Meus Vídeos\"") << QString::fromUtf8("Meus Vídeos");
    QTest::newRow("user-dirs.dirs naming the home itself") << false << "XDG_VIDEOS_DIR=\"$HOME/\""
                                                           << "Videos";
#endif
  }
  void FirstStart() {
    QFETCH(bool, emptyDestination);
    QFETCH(QString, userDirs);
    QFETCH(QString, videos);
    if (emptyDestination) Store(u"storage_Destino", "");
#ifndef _WIN32
    if (!userDirs.isEmpty())
      WriteFile(FSettings->folder().parent_path() / "user-dirs.dirs",
                "# written by xdg-user-dirs-update\n" + userDirs.toStdString() + "\n");
#endif
    const QString source = FirstSource(videos), destination = FirstDestination();
#ifdef _WIN32
    // The program's folder is there; C:\TMP may be, from an earlier start.
    const bool madeHere = !fs::exists(destination.toStdString());
    auto removeMade = qScopeGuard([&] {
      std::error_code ec;
      if (madeHere) fs::remove(destination.toStdString(), ec);
    });
#else
    // The home is the test's own: this start makes both.
    QVERIFY(!fs::exists(source.toStdString()));
    QVERIFY(!fs::exists(destination.toStdString()));
#endif
    ShowWindow();
    const QString appFolder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    QCOMPARE(Q(AppFolder), appFolder);
    QVERIFY(fs::is_directory(source.toStdString()));
    QVERIFY(fs::is_directory(destination.toStdString()));
    // From the tree on, the source is named as the tree names a folder: with
    // no closing delimiter (the program's folder on Windows has one).
    const QString shown = QDir::toNativeSeparators(QDir::cleanPath(source));
    QCOMPARE(FForm->DirectoryListOrigem->Directory(), shown);
    QCOMPARE(FForm->DirectoryListBoxdestino->Directory(), destination);
    QCOMPARE(Stored(u"storage_Origem"), shown);
    QCOMPARE(Stored(u"storage_Destino"), destination);
    QCOMPARE(Q(SourceRoot), shown);
    QCOMPARE(Q(DestinationRoot), destination);
    QCOMPARE(FForm->LBLOrigem->toolTip(), "Origem: " + shown);
    QCOMPARE(FForm->LblDestino->toolTip(), "Destino: " + destination);
    QVERIFY(!FForm->SourceIsFallback() && !FForm->DestinationIsFallback());
    QVERIFY(ShownBoxes.empty());
  }

  // A stored destination that another user owns (one made, or linked, in a
  // shared place before us) is never adopted: the start is a first start.
  void DestinationOfAnotherUserIsNotAdopted() {
#ifdef _WIN32
    QSKIP("a folder of another user is made with POSIX ids here");
#else
    fs::path foreign = *FTemp / "alheia";
    fs::create_directories(foreign);
    if (geteuid() == 0)
      testsupport::ScopedUnprivileged::Give(foreign);
    else
      foreign = "/";  // root's
    Store(u"storage_Origem", S0);
    Store(u"storage_Destino", N(foreign));
    ShowWindow();
    const QString destination = N(FSettings->home() / "TMP");
    QVERIFY(fs::is_directory(destination.toStdString()));
    QCOMPARE(Q(DestinationRoot), destination);
    QCOMPARE(FForm->DirectoryListBoxdestino->Directory(), destination);
    QCOMPARE(Stored(u"storage_Destino"), destination);
    QVERIFY(ShownBoxes.empty());
#endif
  }

  // A card or disk that is not there at start: the tree shows the drive root,
  // the label names the missing folder, the store and the globals keep it,
  // nothing is created, a mirror is refused, and once the folders are back a
  // restart opens on them.
  void MissingRememberedFolders_data() {
    QTest::addColumn<QString>("source");       // relative to the test folder
    QTest::addColumn<QString>("destination");  // relative to the test folder, or as stored
    QTest::newRow("source card not inserted") << "cartao/DCIM"
                                              << "destino";
    QTest::newRow("backup disk not plugged in") << "origem"
                                                << "usbdisk/backup";
    QTest::newRow("both missing") << "cartao/DCIM"
                                  << "usbdisk/backup";
    QTest::newRow("destination stored as a Windows path") << "origem"
                                                          << "C:\\TMP\\Backup";
  }
  void MissingRememberedFolders() {
    QFETCH(QString, source);
    QFETCH(QString, destination);
    const bool windowsPath = destination.contains('\\');
    auto inTest = [this](const QString& relative) {
      return N(*FTemp / fs::path(relative.toStdString()).make_preferred());
    };
    const QString sourcePath = inTest(source);
    const QString destinationPath = windowsPath ? destination : inTest(destination);
    const bool sourceMissing = source != "origem", destinationMissing = destination != "destino";
    Store(u"storage_Origem", sourcePath);
    Store(u"storage_Destino", destinationPath);
    const std::string store = FSettings->Snapshot();
    const bool firstDestinationThere = fs::exists(FirstDestination().toStdString());
    auto nothingCreated = [&] {
      return !fs::exists(*FTemp / "cartao") && !fs::exists(*FTemp / "usbdisk") && fs::is_empty(*FTemp / "start") &&
             fs::exists(FirstDestination().toStdString()) == firstDestinationThere;
    };

    ShowWindow();
    QCOMPARE(Q(SourceRoot), sourcePath);
    QCOMPARE(Q(DestinationRoot), destinationPath);
    QCOMPARE(FForm->SourceIsFallback(), sourceMissing);
    QCOMPARE(FForm->DestinationIsFallback(), destinationMissing);
    QCOMPARE(FForm->DirectoryListOrigem->Directory(), sourceMissing ? DriveRoot() : sourcePath);
    QCOMPARE(FForm->DirectoryListBoxdestino->Directory(), destinationMissing ? DriveRoot() : destinationPath);
    QCOMPARE(FForm->LBLOrigem->toolTip(),
             "Origem: " + sourcePath + (sourceMissing ? QString::fromUtf8(" (não encontrada)") : QString()));
    QCOMPARE(FForm->LblDestino->toolTip(),
             "Destino: " + destinationPath + (destinationMissing ? QString::fromUtf8(" (não encontrada)") : QString()));
    QVERIFY(nothingCreated());
    QCOMPARE(FSettings->Snapshot(), store);

    // "Sincronizar" and a cancelled "Raiz" on a missing side change nothing either.
    FForm->BtCopiar->click();
    QVERIFY(!MirrorRunning);
    Script = {Answer::Cancel, {}, {}};
    (sourceMissing ? FForm->BtRaizOrigem : FForm->BtRaizDestino)->click();
    QVERIFY(nothingCreated());
    QCOMPARE(FSettings->Snapshot(), store);
    QCOMPARE(Q(SourceRoot), sourcePath);
    QCOMPARE(Q(DestinationRoot), destinationPath);
    QVERIFY(ShownBoxes.empty());
    if (windowsPath) return;

    fs::create_directories(sourcePath.toStdString());
    fs::create_directories(destinationPath.toStdString());
    CloseWindow();
    ShowWindow();
    QCOMPARE(FForm->DirectoryListOrigem->Directory(), sourcePath);
    QCOMPARE(FForm->DirectoryListBoxdestino->Directory(), destinationPath);
    QCOMPARE(FForm->LBLOrigem->toolTip(), "Origem: " + sourcePath);
    QCOMPARE(FForm->LblDestino->toolTip(), "Destino: " + destinationPath);
    QVERIFY(!FForm->SourceIsFallback() && !FForm->DestinationIsFallback());
    QCOMPARE(FSettings->Snapshot(), store);
  }

  // Walking the tree away from the drive root shown in place of a missing
  // source is a choice: from then on the tree's folder is stored.
  void WalkingAwayFromTheFallbackStoresTheFolder() {
    Store(u"storage_Origem", N(*FTemp / "cartao" / "DCIM"));
    Store(u"storage_Destino", D0);
    ShowWindow();
    QVERIFY(FForm->SourceIsFallback());
    FForm->DirectoryListOrigem->SetDirectory(Other);
    QVERIFY(!FForm->SourceIsFallback());
    QCOMPARE(Stored(u"storage_Origem"), Other);
    QCOMPARE(Q(SourceRoot), Other);
    QCOMPARE(FForm->LBLOrigem->toolTip(), "Origem: " + Other);
  }

  void RestartOpensOnRememberedFolders() {
    StoreFolders();
    ShowWindow();
    QCOMPARE(FForm->DirectoryListOrigem->Directory(), S0);
    QCOMPARE(FForm->DirectoryListBoxdestino->Directory(), D0);
    Script = {Answer::Confirm, P, {}};
    FForm->BtRaizOrigem->click();
    Script = {Answer::Confirm, Other, {}};
    FForm->BtRaizDestino->click();
    CloseWindow();
    SourceRoot.clear();
    DestinationRoot.clear();

    ShowWindow();
    QCOMPARE(FForm->DirectoryListOrigem->Directory(), P);
    QCOMPARE(FForm->DirectoryListBoxdestino->Directory(), Other);
    QCOMPARE(Q(SourceRoot), P);
    QCOMPARE(Q(DestinationRoot), Other);
    QCOMPARE(FForm->LBLOrigem->toolTip(), "Origem: " + P);
    QCOMPARE(FForm->LblDestino->toolTip(), "Destino: " + Other);
    QVERIFY(ShownBoxes.empty());
  }

  void Pick_data() {
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("answer");  // P, side (the folder the tree shows) or a missing path
    QTest::addColumn<QString>("folder");  // what store, global and tree hold afterwards
    QTest::addColumn<bool>("moved");      // the tree moved, so its change handler set the label
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("error");
    for (int side : {0, 1}) {
      const char* s = side == 0 ? "source " : "destination ";
      const int confirm = int(Answer::Confirm), cancel = int(Answer::Cancel), fail = int(Answer::Throw);
      auto row = [&](const char* name) -> QTestData& { return QTest::newRow(QByteArray(s) + name) << side; };
      // clang-format off
      row("existing folder")      << confirm << "P"           << "P"    << true  << ""                   << "";
      row("folder already shown") << confirm << "side"        << "side" << false << ""                   << "";
      row("cancel")               << cancel  << ""            << "side" << false << ""                   << "";
      row("missing folder")       << confirm << "/nao/existe" << "side" << false << "Pasta inexistente!" << "";
      row("picker fails")         << fail    << ""            << "side" << false << ""                   << "Picker failed.";
      // clang-format on
    }
  }
  void Pick() {
    QFETCH(int, side);
    QFETCH(int, kind);
    QFETCH(QString, answer);
    QFETCH(QString, folder);
    QFETCH(bool, moved);
    QFETCH(QString, notice);
    QFETCH(QString, error);
    StoreFolders();
    ShowWindow();
    const Side me = SideOf(side), other = SideOf(1 - side);
    const QStringList otherItems = Items(other.Files);
    if (answer == "side") {
      // The tree shows its folder while store and global hold another one:
      // picking the shown folder must still store it and set the global.
      Store(me.Name, Other);
      *me.Root = Other.toStdU16String();
    }
    const QString startFolder = Stored(me.Name);
    me.Label->setText("marker");
    Script = {Answer(kind), Folder(answer, me), {}};

    me.Raiz->click();

    const QString expected = Folder(folder, me);
    QCOMPARE(StartFolders, QStringList{startFolder});
    QCOMPARE(Stored(me.Name), expected);
    QCOMPARE(Q(*me.Root), expected);
    QCOMPARE(me.Tree->Directory(), expected);
    // A moved side's label holds the whole path; an unmoved one keeps what it showed.
    QCOMPARE(moved ? me.Label->toolTip() : me.Label->text(), moved ? me.Caption + expected : QString("marker"));
    // The media mask, in either letter case, on this side only.
    const QStringList media = expected == P ? MediaFiles
                              : side == 0   ? QStringList{"ontem.MOV"}
                                            : QStringList{"final.mxf"};
    QCOMPARE(Items(me.Files), Sorted(media));
    QCOMPARE(other.Files->Mask(), "*.*");
    QCOMPARE(Items(other.Files), otherItems);
    QCOMPARE(other.Tree->Directory(), other.Folder);
    QCOMPARE(Stored(other.Name), other.Folder);

    std::vector<ShownBox> expectedBoxes;
    if (!notice.isEmpty()) expectedBoxes.push_back({QMessageBox::NoIcon, "Tarnvel KESTRO", notice, "OK"});
    if (!error.isEmpty()) expectedBoxes.push_back({QMessageBox::Critical, "Tarnvel KESTRO", error, "OK"});
    QCOMPARE(ShownBoxes.size(), expectedBoxes.size());
    for (size_t i = 0; i < expectedBoxes.size(); ++i) {
      QCOMPARE(ShownBoxes[i].Icon, expectedBoxes[i].Icon);
      QCOMPARE(ShownBoxes[i].Caption, expectedBoxes[i].Caption);
      QCOMPARE(ShownBoxes[i].Text, expectedBoxes[i].Text);
      QCOMPARE(ShownBoxes[i].Button, expectedBoxes[i].Button);
    }
  }

  void RaizOnEmptyGlobalCreatesVideos_data() {
    QTest::addColumn<int>("side");
    QTest::newRow("source") << 0;
    QTest::newRow("destination") << 1;
  }
  void RaizOnEmptyGlobalCreatesVideos() {
    QFETCH(int, side);
    StoreFolders();
    ShowWindow();
    const Side me = SideOf(side);
    const fs::path videos = MediaFolder().toStdString();
    QVERIFY(!fs::exists(videos));
    auto removeMade = qScopeGuard([&] {
      std::error_code ec;
      fs::remove(videos, ec);
    });
#ifndef _WIN32
    // The user's videos folder, not one beside the installed program.
    const bool besideTheProgram = fs::exists(fs::path(AppFolder) / "videos");
#endif
    me.Root->clear();
    Script = {Answer::Cancel, {}, {}};
    me.Raiz->click();
    QVERIFY(fs::is_directory(videos));
#ifndef _WIN32
    QCOMPARE(fs::exists(fs::path(AppFolder) / "videos"), besideTheProgram);
#endif
    QCOMPARE(Q(*me.Root), QString());
    QCOMPARE(Stored(me.Name), me.Folder);
    QCOMPARE(me.Tree->Directory(), me.Folder);
    QVERIFY(ShownBoxes.empty());
  }

  void DestinationRaizNeverSetsSource_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("source");  // SourceRoot afterwards
    // The tree moves: its change handler reloads the source from the store.
    QTest::newRow("tree moves") << "P"
                                << "S0";
    // The tree stays: nothing touches the source.
    QTest::newRow("tree stays") << "side"
                                << "Other";
  }
  void DestinationRaizNeverSetsSource() {
    QFETCH(QString, answer);
    QFETCH(QString, source);
    StoreFolders();
    ShowWindow();
    const Side destination = SideOf(1);
    SourceRoot = Other.toStdU16String();
    Script = {Answer::Confirm, Folder(answer, destination), {}};
    FForm->BtRaizDestino->click();
    QCOMPARE(Q(DestinationRoot), Folder(answer, destination));
    QCOMPARE(Q(SourceRoot), Folder(source, destination));
    QCOMPARE(Stored(u"storage_Origem"), S0);
    QVERIFY(ShownBoxes.empty());
  }

  void Refresh_data() {
    QTest::addColumn<bool>("sourceGone");
    QTest::newRow("both folders there") << false;
    // The destination is read first, so it is fresh when the source fails.
    QTest::newRow("source folder deleted") << true;
  }
  void Refresh() {
    QFETCH(bool, sourceGone);
    StoreFolders();
    ShowWindow();
    const QStringList sourceBefore = Items(FForm->FileListBoxOrigem);
    const QString origem = FForm->LBLOrigem->toolTip(), destino = FForm->LblDestino->toolTip();
    const std::string store = FSettings->Snapshot();
    WriteFile(*FTemp / "origem" / "novo.mp4", "x");
    WriteFile(*FTemp / "destino" / "novo2.mp4", "x");
    if (sourceGone) fs::remove_all(*FTemp / "origem");

    FForm->BtRefresh->click();

    QCOMPARE(Items(FForm->FileListBoxDestino), Sorted({"final.mxf", "novo2.mp4", "roteiro.doc"}));
    QCOMPARE(Items(FForm->FileListBoxOrigem), sourceGone ? sourceBefore : Sorted({"novo.mp4", "ontem.MOV", "som.wav"}));
    QCOMPARE(FForm->DirectoryListOrigem->Directory(), S0);
    QCOMPARE(FForm->DirectoryListBoxdestino->Directory(), D0);
    QCOMPARE(FForm->LBLOrigem->toolTip(), origem);
    QCOMPARE(FForm->LblDestino->toolTip(), destino);
    QCOMPARE(FSettings->Snapshot(), store);
    QCOMPARE(ShownBoxes.size(), size_t(sourceGone ? 1 : 0));
    if (sourceGone) QCOMPARE(ShownBoxes[0].Text, "File not found.");
  }

  void StoreWriteFailure_data() {
    QTest::addColumn<int>("side");
    QTest::addColumn<bool>("raiz");  // else the user opens a subfolder in the tree
    QTest::addColumn<QString>("message");
    QTest::newRow("source tree") << 0 << false << "Failed to set data for 'storage_Origem'";
    QTest::newRow("destination tree") << 1 << false << "Failed to set data for 'storage_Destino'";
    QTest::newRow("source Raiz") << 0 << true << "Failed to set data for 'storage_Origem'";
    QTest::newRow("destination Raiz") << 1 << true << "Failed to set data for 'Storage_destino'";
  }
  void StoreWriteFailure() {
    QFETCH(int, side);
    QFETCH(bool, raiz);
    QFETCH(QString, message);
    fs::create_directories(*FTemp / "origem" / "sub");
    fs::create_directories(*FTemp / "destino" / "sub");
    StoreFolders();
    ShowWindow();
    const Side me = SideOf(side);
    auto breakStore = [this] { FSettings->Break(); };
    if (raiz) {
      // The picker is answered after the start folder was read; the write that follows fails.
      Script = {Answer::Confirm, P, breakStore};
      me.Raiz->click();
    } else {
      breakStore();
      const QList<QListWidgetItem*> sub = me.Tree->findItems("sub", Qt::MatchExactly);
      QCOMPARE(sub.size(), 1);
      me.Tree->setCurrentItem(sub[0]);
      emit me.Tree->itemDoubleClicked(sub[0]);
    }
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Icon, QMessageBox::Critical);
    QCOMPARE(ShownBoxes[0].Caption, "Tarnvel KESTRO");
    QCOMPARE(ShownBoxes[0].Text, message);
    QVERIFY(FSettings->Mend());

    // The program goes on: once the store is readable again, the same side works.
    ShownBoxes.clear();
    Script = {Answer::Confirm, Other, {}};
    me.Raiz->click();
    QVERIFY(ShownBoxes.empty());
    QCOMPARE(Stored(me.Name), Other);
    QCOMPARE(me.Tree->Directory(), Other);
  }
  // A path longer than its half of the header loses its middle, never its
  // place: each label stays clear of the other and of the other side's
  // button, and its tooltip holds the whole text.
  void LongPathsStayInTheirHalf_data() {
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<int>("length");  // of each path, in characters
    QTest::newRow("150 characters, accents and CJK") << true << 150;
    QTest::newRow("missing source of 150 characters") << false << 150;
    QTest::newRow("short paths are shown whole") << true << 0;
  }
  void LongPathsStayInTheirHalf() {
    QFETCH(bool, sourceExists);
    QFETCH(int, length);
    // Folder names with accents and CJK, repeated until the path is as long as asked.
    // Short ones in folders of their own right under the system's temporary folder.
    QTemporaryDir shortSource(QDir::tempPath() + "/oXXXXXX"), shortDestination(QDir::tempPath() + "/dXXXXXX");
    auto longPath = [&](const QString& start) {
      if (length == 0) return QDir::toNativeSeparators((start == "orig" ? shortSource : shortDestination).path());
      QString path = N(*FTemp / start.toStdString());
      const QString part = QDir::separator() + QString::fromUtf8("Gravações de ação 東京の撮影 é");
      while (path.size() < length) path += part;
      path.truncate(length);
      if (path.endsWith(QDir::separator()) || path.endsWith(' ')) path[length - 1] = QChar('x');
      return path;
    };
    const QString source = longPath("orig"), destination = longPath("dest");
    QVERIFY(length == 0 || (source.size() == length && destination.size() == length));
    if (sourceExists) fs::create_directories(source.toStdU16String());
    fs::create_directories(destination.toStdU16String());
    Store(u"storage_Origem", source);
    Store(u"storage_Destino", destination);
    ShowWindow();
    QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));

    const QString sourceText = "Origem: " + source + (sourceExists ? "" : QString::fromUtf8(" (não encontrada)"));
    const QString destinationText = "Destino: " + destination;
    const QRect origem = FForm->LBLOrigem->geometry(), destino = FForm->LblDestino->geometry();
    QVERIFY2(!origem.intersects(destino), qPrintable(QString("%1 / %2").arg(origem.right()).arg(destino.left())));
    QVERIFY(!origem.intersects(FForm->BtRaizDestino->geometry()));
    QVERIFY(!destino.intersects(FForm->BtRaizOrigem->geometry()));
    QVERIFY(destino.right() <= FForm->PanelSuperior->contentsRect().right());
    QCOMPARE(FForm->LBLOrigem->toolTip(), sourceText);
    QCOMPARE(FForm->LblDestino->toolTip(), destinationText);
    for (QLabel* label : {FForm->LBLOrigem, FForm->LblDestino}) {
      // Drawn whole within the label: what it shows fits its width.
      QVERIFY(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width());
      if (length == 0) {
        QCOMPARE(label->text(), label->toolTip());
        continue;
      }
      // The start (the caption) and the end (the folder itself) stay readable.
      QVERIFY(label->text().contains(QChar(0x2026)));
      QCOMPARE(label->text().left(6), label->toolTip().left(6));
      QCOMPARE(label->text().right(3), label->toolTip().right(3));
    }
    if (length != 0) {
      const QString path =
          ShotPath(sourceExists ? "tarnvel-header-long-paths.png" : "tarnvel-header-missing-source.png");
      QVERIFY(FForm->PanelSuperior->grab().save(path));
      qInfo("header screenshot: %s", qPrintable(path));
    }
  }
};

TARNVEL_UI_TEST_MAIN(FoldersTest)
#include "folders_test.moc"
