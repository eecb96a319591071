#include "controls/directorylistbox.h"

#include <QCollator>
#include <QDir>
#include <QIcon>
#include <QKeyEvent>
#include <algorithm>

#include "controls/filelistbox.h"
#include "controls/folderpath.h"
#include "controls/itemdelegate.h"
#include "toolkit/handlers.h"

namespace {

// Item data: the folder an item opens.
constexpr int PathRole = Qt::UserRole + 2;
// The folder icons are 16 x 15; an item is never lower than the icon plus one.
constexpr int MinimumItemHeight = 16;

QIcon FolderIcon(const char* name) { return QIcon(QStringLiteral(":/icons/%1.png").arg(QLatin1String(name))); }

// The root of a path in the views' form ("/", "C:\", "\\server\share\") and
// the names below it.
std::pair<QString, QStringList> SplitFolder(const QString& folder) {
  const QString delim = QDir::separator();
  qsizetype rootLength = folder.indexOf(delim) + 1;  // "/" or "C:\"
  if (folder.startsWith(delim + delim)) {
    // A share: the root is the server and the share name with their delimiter.
    const qsizetype share = folder.indexOf(delim, 2);
    const qsizetype end = share < 0 ? -1 : folder.indexOf(delim, share + 1);
    rootLength = end < 0 ? folder.size() : end + 1;
  }
  QString root = folder.left(rootLength);
  if (!root.endsWith(delim)) root += delim;
  return {root, folder.mid(rootLength).split(delim, Qt::SkipEmptyParts)};
}

}  // namespace

TDirectoryListBox::TDirectoryListBox(QWidget* parent)
    : QListWidget(parent),
      FDirectory(FolderForm(QDir::currentPath())),
      FDelegate(new TListItemDelegate(std::max(fontMetrics().height(), MinimumItemHeight), 0, this)) {
  setItemDelegate(FDelegate);
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ConnectHandler(this, &QListWidget::itemDoubleClicked, this, [this](QObject*) { OpenItem(currentRow()); });
  BuildItems();
}

int TDirectoryListBox::ItemHeight() const { return FDelegate->ItemHeight(); }

void TDirectoryListBox::SetItemHeight(int height) {
  FDelegate->SetItemHeight(height);
  doItemsLayout();
}

void TDirectoryListBox::SetDirectory(const QString& text) {
  if (text.isEmpty() || text == FDirectory) return;
  FDirectory = EnterableFolder(text);
  BuildItems();
  if (FFileList && FFileList->Directory().compare(FDirectory, FolderNameCase) != 0) FFileList->SetDirectory(FDirectory);
  if (OnChange) OnChange(this);
}

void TDirectoryListBox::OpenItem(int row) {
  if (QListWidgetItem* it = item(row)) SetDirectory(it->data(PathRole).toString());
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
    RunHandler([this] { OpenItem(currentRow()); });
    return;
  }
  QListWidget::keyPressEvent(event);
}

void TDirectoryListBox::BuildItems() {
  const QString delim = QDir::separator();
  const auto [root, names] = SplitFolder(FDirectory);
  clear();
  auto add = [this](const QString& text, const QString& path, const QIcon& icon, int indent) {
    auto* it = new QListWidgetItem(icon, text, this);
    it->setData(PathRole, path);
    it->setData(TListItemDelegate::IndentRole, indent);
    return it;
  };
  // The root, the ancestors and the shown folder, one step deeper each.
  QString path = root;
  QListWidgetItem* shown = add(root, root, FolderIcon(names.isEmpty() ? "CURRENTFOLDER" : "OPENFOLDER"), 2);
  for (qsizetype i = 0; i < names.size(); ++i) {
    path = i == 0 ? root + names[i] : path + delim + names[i];
    const bool last = i + 1 == names.size();
    shown = add(names[i], path, FolderIcon(last ? "CURRENTFOLDER" : "OPENFOLDER"), 2 + 4 * int(i + 1));
  }
  // The subfolders, hidden ones left out, in the user's order ignoring case.
  QStringList subfolders = QDir(FDirectory).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::sort(subfolders.begin(), subfolders.end(),
            [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
  const int subIndent = 6 + 4 * int(FDirectory.count(delim));
  const QString prefix = FDirectory.endsWith(delim) ? FDirectory : FDirectory + delim;
  const QIcon closed = FolderIcon("CLOSEDFOLDER");
  for (const QString& name : subfolders) add(name, prefix + name, closed, subIndent);
  setCurrentItem(shown);
}
