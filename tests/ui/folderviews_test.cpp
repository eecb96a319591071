// The folder tree and the file list on fixture folders: items, icons,
// indentation, moving, the linked list, masks and failures.
#include <QDir>
#include <QTest>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include "controls/directorylistbox.h"
#include "controls/filelistbox.h"
#include "controls/itemdelegate.h"
#include "funcoes/exceptions.h"
#include "tempdir.h"
#include "uitest.h"
#ifndef _WIN32
#include "unprivileged.h"
#endif

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }
// The delimiter the views write.
const QString Delim = QDir::separator();

QStringList Texts(const QListWidget& list) {
  QStringList texts;
  for (int i = 0; i < list.count(); ++i) texts << list.item(i)->text();
  return texts;
}

QImage IconImage(const QIcon& icon) {
  return icon.pixmap(QSize(16, 15)).toImage().convertToFormat(QImage::Format_ARGB32);
}
QImage Resource(const char* name) {
  return QImage(QStringLiteral(":/icons/%1.png").arg(QLatin1String(name))).convertToFormat(QImage::Format_ARGB32);
}

// The message and code of the EInOutError that f raises; empty when none.
template <class F>
std::pair<QString, int> InOutErrorOf(F&& f) {
  try {
    f();
  } catch (const EInOutError& e) {
    return {QString::fromUtf8(e.what()), e.ErrorCode};
  }
  return {};
}

}  // namespace

class FolderViewsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> FRoot;
  QString FA, FB;  // R/a and R/a/b
  QString FOldCurrent;

  // A tree linked to a file list, both on folder, counting OnChange.
  struct Views {
    TFileListBox files;
    TDirectoryListBox tree;
    int changes = 0;
    bool listFollowedFirst = true;
    explicit Views(const QString& folder) {
      tree.SetFileList(&files);
      tree.SetDirectory(folder);
      tree.OnChange = [this](QObject* sender) {
        ++changes;
        listFollowedFirst &= sender == &tree && files.Directory() == tree.Directory();
      };
    }
  };

 private slots:
  void initTestCase() {
    FRoot = std::make_unique<TempDir>();
    const fs::path b = FRoot->path() / "a" / "b";
    for (const char* sub : {"Zeta", "alpha", "Beta", ".hidden"}) fs::create_directories(b / sub);
    fs::create_directories(FRoot->path() / "a" / "other");
    WriteFile(b / "f.txt", "x");
    FA = Q(FRoot->path() / "a");
    FB = Q(b);
    // Relative paths resolve against the current folder.
    FOldCurrent = QDir::currentPath();
    QDir::setCurrent(FB);
  }

  void cleanupTestCase() {
    QDir::setCurrent(FOldCurrent);
    FRoot.reset();
  }

  void init() { ShownBoxes.clear(); }

  void TreeItemsAtDepth() {
    TDirectoryListBox tree;
    tree.SetDirectory(FB);
    QCOMPARE(tree.Directory(), FB);
    // Under the root ("/", "C:\\"), one item per folder on the way down.
    const qsizetype rootLength = FB.indexOf(Delim) + 1;
    const QStringList ancestors = FB.mid(rootLength).split(Delim, Qt::SkipEmptyParts);
    QStringList expected = QStringList{FB.left(rootLength)} + ancestors + QStringList{"alpha", "Beta", "Zeta"};
    QCOMPARE(Texts(tree), expected);
    const int shown = int(ancestors.size());
    for (int i = 0; i < tree.count(); ++i) {
      const bool sub = i > shown;
      const char* icon = sub ? "CLOSEDFOLDER" : i == shown ? "CURRENTFOLDER" : "OPENFOLDER";
      QVERIFY2(IconImage(tree.item(i)->icon()) == Resource(icon), qPrintable(tree.item(i)->text()));
      const int indent = sub ? 6 + 4 * shown : 2 + 4 * i;
      QCOMPARE(tree.item(i)->data(TListItemDelegate::IndentRole).toInt(), indent);
    }
    QCOMPARE(tree.currentRow(), shown);
  }

  void TreeItemsAtRoot() {
    // The system's root: "/", or the system drive's.
    const QString root = QDir::toNativeSeparators(QDir::rootPath());
    TDirectoryListBox tree;
    tree.SetDirectory(root);
    QCOMPARE(tree.Directory(), root);
    QCOMPARE(tree.item(0)->text(), root);
    QVERIFY(IconImage(tree.item(0)->icon()) == Resource("CURRENTFOLDER"));
    QCOMPARE(tree.item(0)->data(TListItemDelegate::IndentRole).toInt(), 2);
    QStringList subfolders = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(tree.count(), 1 + subfolders.size());
    for (int i = 1; i < tree.count(); ++i) {
      QVERIFY(!tree.item(i)->text().startsWith('.'));
      QVERIFY(IconImage(tree.item(i)->icon()) == Resource("CLOSEDFOLDER"));
      QCOMPARE(tree.item(i)->data(TListItemDelegate::IndentRole).toInt(), 10);
    }
  }

  // Where letter case makes two names (POSIX), "B" is not "b".
  void Moves_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("directory");  // after the assignment
    QTest::addColumn<int>("changes");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("code");
    QTest::newRow("same text") << FB << FB << 0 << "" << 0;
    QTest::newRow("empty") << "" << FB << 0 << "" << 0;
    QTest::newRow("trailing delimiter") << FB + Delim << FB << 1 << "" << 0;
    QTest::newRow("subfolder") << FB + Delim + "alpha" << FB + Delim + "alpha" << 1 << "" << 0;
    QTest::newRow("relative") << "Beta" << FB + Delim + "Beta" << 1 << "" << 0;
    QTest::newRow("parent by ..") << FB + Delim + ".." << FA << 1 << "" << 0;
#ifndef _WIN32
    QTest::newRow("other letter case") << FB.left(FB.size() - 1) + "B" << FB << 0 << "File not found" << 2;
#endif
    QTest::newRow("missing") << FB + Delim + "nothere" << FB << 0 << "File not found" << 2;
    QTest::newRow("missing parent") << FB + Delim + "x" + Delim + "y" << FB << 0 << "Invalid filename" << 3;
    QTest::newRow("a file") << FB + Delim + "f.txt" << FB << 0 << "I/O error 267" << 267;
  }

  void Moves() {
    QFETCH(QString, text);
    QFETCH(QString, directory);
    QFETCH(int, changes);
    QFETCH(QString, error);
    QFETCH(int, code);
    Views v(FB);
    const QStringList treeBefore = Texts(v.tree), filesBefore = Texts(v.files);
    QCOMPARE(filesBefore, QStringList{"f.txt"});
    const auto [message, errorCode] = InOutErrorOf([&] { v.tree.SetDirectory(text); });
    QCOMPARE(message, error);
    QCOMPARE(errorCode, code);
    QCOMPARE(v.tree.Directory(), directory);
    QCOMPARE(v.changes, changes);
    QVERIFY(v.listFollowedFirst);
    QCOMPARE(v.files.Directory(), directory);
    if (!error.isEmpty()) {
      QCOMPARE(Texts(v.tree), treeBefore);
      QCOMPARE(Texts(v.files), filesBefore);
    }
    QCOMPARE(QDir::toNativeSeparators(QDir::currentPath()), FB);  // the process's current folder is left alone
  }

  // Run with an ordinary user's rights, since root may enter every folder.
  void ForbiddenFolder() {
#ifdef _WIN32
    QSKIP("the folder is locked with POSIX permissions, which Wine does not enforce");
#else
    const fs::path locked = FRoot->path() / "locked";
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::none);
    Views v(FB);
    std::pair<QString, int> error;
    {
      testsupport::ScopedUnprivileged user;
      QVERIFY2(user.Active(), "root could not take an ordinary user's ids");
      error = InOutErrorOf([&] { v.tree.SetDirectory(Q(locked)); });
    }
    fs::permissions(locked, fs::perms::owner_all);
    const auto& [message, code] = error;
    QCOMPARE(message, QString("File access denied"));
    QCOMPARE(code, 5);
    QCOMPARE(v.tree.Directory(), FB);
    QCOMPARE(v.changes, 0);
#endif
  }

  // Another letter case is another folder here: the list follows the tree.
  void FolderNamedInAnotherCase() {
    const fs::path upper = FRoot->path() / "Clips", lower = FRoot->path() / "clips";
    WriteFile(upper / "camera-a.mov", "x");
    WriteFile(lower / "camera-b.mov", "x");
    if (fs::equivalent(upper, lower)) QSKIP("this file system ignores letter case");
    Views v(Q(upper));
    QCOMPARE(Texts(v.files), QStringList{"camera-a.mov"});
    v.tree.SetDirectory(Q(lower));
    QCOMPARE(v.tree.Directory(), Q(lower));
    QCOMPARE(v.files.Directory(), Q(lower));
    QCOMPARE(Texts(v.files), QStringList{"camera-b.mov"});
    QCOMPARE(v.changes, 1);
  }

  void DoubleClickOnAncestorMovesOnce() {
    Views v(FB);
    v.tree.resize(400, 600);
    v.tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v.tree));
    const int row = int(Texts(v.tree).indexOf("a"));
    QVERIFY(row > 0);
    const QPoint at = v.tree.visualItemRect(v.tree.item(row)).center();
    // A double click is a click and then the second press: the first only selects.
    QTest::mouseClick(v.tree.viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(v.changes, 0);
    QTest::mouseDClick(v.tree.viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(v.tree.Directory(), FA);
    QCOMPARE(v.changes, 1);
    QCOMPARE(v.files.Directory(), FA);
  }

  void EnterOpensTheSelectedSubfolder() {
    Views v(FB);
    v.tree.show();
    v.tree.setCurrentRow(int(Texts(v.tree).indexOf("Zeta")));
    QTest::keyClick(&v.tree, Qt::Key_Return);
    QCOMPARE(v.tree.Directory(), FB + Delim + "Zeta");
    QCOMPARE(v.changes, 1);
  }

  // A move the user starts ends in the error box; the tree stays as it was.
  void UserMoveToAVanishedFolderShowsTheErrorBox() {
    const fs::path gone = FRoot->path() / "a" / "b" / "Gone";
    fs::create_directories(gone);
    Views v(FB);
    v.tree.show();
    const QStringList before = Texts(v.tree);
    fs::remove(gone);
    v.tree.setCurrentRow(int(before.indexOf("Gone")));
    QTest::keyClick(&v.tree, Qt::Key_Enter);
    QCOMPARE(ShownBoxes.size(), size_t(1));
    QCOMPARE(ShownBoxes[0].Text, QString("File not found."));
    QCOMPARE(ShownBoxes[0].Caption, QString("Tarnvel KESTRO"));
    QCOMPARE(v.tree.Directory(), FB);
    QCOMPARE(Texts(v.tree), before);
    QCOMPARE(v.changes, 0);
  }

  void FileListMasks_data() {
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QStringList>("names");
    const QStringList all{"A.mov", "b.txt", "c.MOV", "README"};
    QTest::newRow("default") << "*.*" << all;
    QTest::newRow("star") << "*" << all;
    QTest::newRow("one pattern, either case") << "*.mov" << QStringList{"A.mov", "c.MOV"};
    QTest::newRow("two patterns") << "*.txt;*.mov" << QStringList{"A.mov", "b.txt", "c.MOV"};
    QTest::newRow("both patterns match") << "*.mov;*.MOV" << QStringList{"A.mov", "A.mov", "c.MOV", "c.MOV"};
    QTest::newRow("question mark") << "?.TXT" << QStringList{"b.txt"};
    QTest::newRow("prefix") << "read*" << QStringList{"README"};
    QTest::newRow("no extension") << "README.*" << QStringList{"README"};
    QTest::newRow("no match") << "*.xyz" << QStringList{};
    QTest::newRow("empty pieces") << ";;" << QStringList{};
  }

  // Hidden files and folders are never listed.
  void FileListMasks() {
    QFETCH(QString, mask);
    QFETCH(QStringList, names);
    TempDir dir;
    for (const char* name : {"b.txt", "README", "A.mov", ".hidden", "c.MOV"}) WriteFile(dir.path() / name, "x");
    fs::create_directories(dir.path() / "dir.mov");
    TFileListBox files;
    files.SetDirectory(Q(dir.path()));
    files.SetMask(mask);
    QCOMPARE(Texts(files), names);
  }

  void SameMaskDoesNotReRead() {
    TempDir dir;
    WriteFile(dir.path() / "one.mov", "x");
    TFileListBox files;
    files.SetDirectory(Q(dir.path()));
    files.SetMask("*.mov");
    WriteFile(dir.path() / "two.mov", "x");
    files.SetMask("*.mov");
    QCOMPARE(Texts(files), QStringList{"one.mov"});
    files.SetMask("*.MOV");  // other letter case is another text
    QCOMPARE(Texts(files), QStringList({"one.mov", "two.mov"}));
    WriteFile(dir.path() / "three.mov", "x");
    files.Update();
    QCOMPARE(Texts(files), QStringList({"one.mov", "three.mov", "two.mov"}));
  }

  void UpdateOfADeletedFolderKeepsTheNames() {
    auto dir = std::make_unique<TempDir>();
    WriteFile(dir->path() / "clip.mov", "x");
    const QString folder = Q(dir->path());
    TFileListBox files;
    files.SetDirectory(folder);
    dir.reset();
    const auto [message, code] = InOutErrorOf([&] { files.Update(); });
    QCOMPARE(message, QString("File not found"));
    QCOMPARE(code, 2);
    QCOMPARE(Texts(files), QStringList{"clip.mov"});
    QCOMPARE(files.Directory(), folder);
  }
};

TARNVEL_UI_TEST_MAIN(FolderViewsTest)
#include "folderviews_test.moc"
