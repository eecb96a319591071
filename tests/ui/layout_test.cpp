// The main window as laid out at creation: every control's class, parent,
// geometry, caption, tab position and name; the window's own properties; and a
// screenshot for people to look at.
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QRawFont>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "forms/UFrmTarnvel.h"
#include "funcoes/funcoes.h"
#include "isolated_settings.h"
#include "tempdir.h"
#include "toolkit/stylemanager.h"
#include "uitest.h"

namespace {
const QString TahomaFile = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");

// Wine's Tahoma is a face of its own (Bitstream Vera's shapes under Tahoma's
// name). Drawn unhinted, as fontconfig has it drawn on Linux, it takes
// Tahoma's widths within a pixel; Qt's font engine on Windows hints it to
// whole pixels per glyph, which makes it 7 to 9 pixels wider on these
// captions: there it stands in for Tahoma like any other face.
bool HintedWineTahoma([[maybe_unused]] const QFont& font) {
#ifdef _WIN32
  const QByteArray names = QRawFont::fromFont(font).fontTable("name");
  return names.contains("Wine") || names.contains(QByteArray("\0W\0i\0n\0e", 8));
#else
  return false;
#endif
}
}  // namespace

using testsupport::TempDir;
using testsupport::WriteFile;

class LayoutTest : public QObject {
  Q_OBJECT

  std::unique_ptr<testsupport::IsolatedSettings> FSettings;
  std::unique_ptr<TempDir> FFolder;
  std::unique_ptr<TFrmTarnvel> FForm;
  QString FOldCurrent;

  // Widgets that the Tab key visits, in its order, starting at first.
  static QStringList TabSequence(QWidget* first) {
    QStringList names;
    QWidget* w = first;
    do {
      if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(w->window())) names << w->objectName();
      w = w->nextInFocusChain();
    } while (w != first && names.size() < 100);
    return names;
  }

 private slots:
  void initTestCase() {
    // The window's face where this system has it (Wine's Tahoma), so that its
    // labels can be measured against the sizes they are meant to have.
    if (QFile::exists(TahomaFile)) QVERIFY(QFontDatabase::addApplicationFont(TahomaFile) >= 0);
    // The lists start on the current folder: give them something to show.
    FFolder = std::make_unique<TempDir>();
    for (const char* name : {"Clip 001.mov", "Clip 002.mov", "audio.wav", "notes.xml", ".hidden"})
      WriteFile(FFolder->path() / name, "x");
    for (const char* name : {"Cenas", "audio", "extras", ".cache"})
      std::filesystem::create_directories(FFolder->path() / name);
    FOldCurrent = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(FFolder->path().string()));
    // Both folders remembered as the current one: showing the window moves
    // neither tree, so the layout stays as created.
    FSettings = std::make_unique<testsupport::IsolatedSettings>();
    SettingValue(u"escrever", u"AutoCheck", u"0");
    for (const char16_t* name : {u"storage_Origem", u"storage_Destino"})
      SettingValue(u"escrever", name, QDir::toNativeSeparators(QDir::currentPath()).toStdU16String());
    QVERIFY(TStyleManager::TrySetStyle("Charcoal Dark Slate", true));
    Application->CreateForm(FrmTarnvel);
    FForm.reset(FrmTarnvel);
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
  }

  void cleanupTestCase() {
    FForm.reset();
    FrmTarnvel = nullptr;
    QDir::setCurrent(FOldCurrent);
    FFolder.reset();
    FSettings.reset();
  }

  void Window() {
    QCOMPARE(FForm->windowTitle(), QString("Tarnvel KESTRO"));
    QCOMPARE(FForm->size(), QSize(967, 556));
    QCOMPARE(FForm->minimumSize(), QSize(967, 556));
    QCOMPARE(FForm->maximumSize(), QSize(967, 556));
    const Qt::WindowFlags flags = FForm->windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));
    QCOMPARE(FForm->font().family(), QString("Tahoma"));
    QCOMPARE(FForm->font().pixelSize(), 11);
    QCOMPARE(Application->MainForm(), static_cast<QWidget*>(FForm.get()));
    QVERIFY(!FForm->windowIcon().isNull());
  }

  void Controls_data() {
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");  // a label's size is its text's: only its position counts
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("tab");  // position in the Tab sequence, -1 for none
    QTest::addColumn<QString>("fontFamily");
    QTest::addColumn<int>("fontPixels");
    auto row = [](const char* name, const char* cls, const char* parent, QRect g, const char* caption, int tab,
                  const char* family,
                  int pixels) { QTest::newRow(name) << cls << parent << g << caption << tab << family << pixels; };
    row("PanelPastas", "QFrame", "FrmTarnvel", {0, 0, 967, 145}, "", -1, "Tahoma", 11);
    row("PanelSuperior", "QFrame", "PanelPastas", {1, 1, 965, 41}, "", -1, "Tahoma", 11);
    row("BtRaizOrigem", "QPushButton", "PanelSuperior", {3, 6, 60, 28}, "Raiz", 2, "Tahoma", 11);
    row("LBLOrigem", "QLabel", "PanelSuperior", {74, 11, 0, 0}, "Pasta origem", -1, "Tahoma", 16);
    row("BtRaizDestino", "QPushButton", "PanelSuperior", {484, 6, 70, 28}, "Raiz", 3, "Tahoma", 11);
    row("LblDestino", "QLabel", "PanelSuperior", {565, 11, 0, 0}, "Pasta destino", -1, "Tahoma", 16);
    row("DirectoryListOrigem", "TDirectoryListBox", "PanelPastas", {1, 42, 482, 102}, "", 0, "Arial", 16);
    row("DirectoryListBoxdestino", "TDirectoryListBox", "PanelPastas", {484, 42, 482, 102}, "", 1, "Arial", 16);
    row("PanelFiles", "QFrame", "FrmTarnvel", {0, 145, 967, 336}, "", -1, "Tahoma", 11);
    row("FileListBoxOrigem", "TFileListBox", "PanelFiles", {1, 1, 482, 334}, "", 4, "Arial", 16);
    row("FileListBoxDestino", "TFileListBox", "PanelFiles", {484, 1, 482, 334}, "", 5, "Arial", 16);
    row("CHKHotFolderOrigem", "QCheckBox", "FrmTarnvel", {350, 504, 123, 17}, "Hot Folder Origem", 6, "Tahoma", 11);
    row("BtCopiar", "QPushButton", "FrmTarnvel", {0, 532, 479, 25}, "Sincronizar", 7, "Tahoma", 11);
    row("BtRefresh", "QPushButton", "FrmTarnvel", {477, 532, 482, 25}, "Refresh", 8, "Tahoma", 11);
    row("ChkPreserva", "QCheckBox", "FrmTarnvel", {16, 504, 169, 17}, "Preversa Arquivos do destino", 9, "Tahoma", 11);
  }

  void Controls() {
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(int, tab);
    QFETCH(QString, fontFamily);
    QFETCH(int, fontPixels);
    const QString name = QTest::currentDataTag();
    auto* w = FForm->findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->objectName(), name);
    QCOMPARE(QString(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget()->objectName(), parentName);
    if (geometry.isEmpty()) {
      QCOMPARE(w->pos(), geometry.topLeft());  // the size: LabelSizes
    } else {
      QCOMPARE(w->geometry(), geometry);
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) QCOMPARE(button->text(), caption);
    if (auto* label = qobject_cast<QLabel*>(w)) QCOMPARE(label->text(), caption);
    QCOMPARE(TabSequence(FForm->DirectoryListOrigem).indexOf(name), tab);
    QCOMPARE(w->font().family(), fontFamily);
    QCOMPARE(w->font().pixelSize(), fontPixels);
  }

  // Labels size themselves to their caption on one line: 92 x 19 and 93 x 19
  // in Tahoma at 16 pixels. Their height is the layout's line in any face;
  // their width is the caption's, within the pixel by which two rasterisers
  // round Tahoma differently, or exactly the caption's in a face standing in
  // for it. Either way a label ends before the control to its right.
  void LabelSizes_data() {
    QTest::addColumn<QSize>("meant");
    QTest::addColumn<int>("roomUntil");  // the left edge of what follows it
    QTest::newRow("LBLOrigem") << QSize(92, 19) << 484;
    QTest::newRow("LblDestino") << QSize(93, 19) << 965;
  }
  void LabelSizes() {
    QFETCH(QSize, meant);
    QFETCH(int, roomUntil);
    auto* label = FForm->findChild<QLabel*>(QTest::currentDataTag());
    QVERIFY(label);
    QCOMPARE(label->height(), meant.height());
    if (QFontInfo(label->font()).family() == "Tahoma" && !HintedWineTahoma(label->font()))
      QVERIFY2(std::abs(label->width() - meant.width()) <= 1, qPrintable(QString::number(label->width())));
    else
      QCOMPARE(label->width(), QFontMetrics(label->font()).horizontalAdvance(label->text()));
    QVERIFY(label->x() + label->width() <= roomUntil);
  }

  void TabSequenceHoldsOnlyTheTenControls() {
    QCOMPARE(TabSequence(FForm->DirectoryListOrigem),
             QStringList({"DirectoryListOrigem", "DirectoryListBoxdestino", "BtRaizOrigem", "BtRaizDestino",
                          "FileListBoxOrigem", "FileListBoxDestino", "CHKHotFolderOrigem", "BtCopiar", "BtRefresh",
                          "ChkPreserva"}));
  }

  void States() {
    QVERIFY(FForm->ChkPreserva->isChecked());
    QVERIFY(!FForm->CHKHotFolderOrigem->isChecked());
    for (QPushButton* b : {FForm->BtRaizOrigem, FForm->BtRaizDestino, FForm->BtCopiar, FForm->BtRefresh}) {
      QVERIFY(!b->isDefault());
      QVERIFY(!b->text().contains('&'));
    }
    QCOMPARE(FForm->DirectoryListOrigem->FileList(), FForm->FileListBoxOrigem);
    QCOMPARE(FForm->DirectoryListBoxdestino->FileList(), FForm->FileListBoxDestino);
    for (TFileListBox* files : {FForm->FileListBoxOrigem, FForm->FileListBoxDestino}) {
      QCOMPARE(files->selectionMode(), QAbstractItemView::ExtendedSelection);
      QCOMPARE(files->ItemHeight(), 18);
      QCOMPARE(files->Mask(), QString("*.*"));
      QCOMPARE(files->count(), 4);  // the fixture's files without the hidden one
    }
    for (TDirectoryListBox* tree : {FForm->DirectoryListOrigem, FForm->DirectoryListBoxdestino}) {
      QCOMPARE(tree->ItemHeight(), 18);
      QCOMPARE(tree->Directory(), QDir::toNativeSeparators(QDir::currentPath()));
      QCOMPARE(tree->visualItemRect(tree->item(0)).height(), 18);
    }
  }

  void Screenshot() {
    const QString path = ShotPath("tarnvel-main-window.png");
    const QImage shot = FForm->grab().toImage();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), QSize(967, 556));
    QVERIFY(shot.save(path));
    qInfo("main window screenshot: %s", qPrintable(path));
  }
};

TARNVEL_UI_TEST_MAIN(LayoutTest)
#include "layout_test.moc"
