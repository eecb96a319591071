#include "controls/filelistbox.h"

#include <QCollator>
#include <QDir>
#include <algorithm>

#include "controls/folderpath.h"
#include "controls/itemdelegate.h"
#include "platform/fs.h"

namespace {

// Text starts 2 pixels from the left edge.
constexpr int TextIndent = 2;

bool SameChar(QChar a, QChar b) { return a == b || a.toCaseFolded() == b.toCaseFolded(); }

bool Wildcard(QStringView pattern, QStringView name) {
  qsizetype p = 0, n = 0, starP = -1, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || (pattern[p] != u'*' && SameChar(pattern[p], name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP >= 0) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace

bool TFileListBox::MatchesPattern(const QString& pattern, const QString& name) {
  if (pattern.isEmpty()) return false;
  if (Wildcard(pattern, name)) return true;
  return pattern.endsWith(QLatin1String(".*")) && Wildcard(QStringView(pattern).chopped(2), name);
}

TFileListBox::TFileListBox(QWidget* parent)
    : QListWidget(parent), FDelegate(new TListItemDelegate(fontMetrics().height(), TextIndent, this)) {
  setItemDelegate(FDelegate);
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  const QString current = FolderForm(QDir::currentPath());
  // A current folder that cannot be read leaves the list empty rather than
  // failing the window that holds it.
  if (platform::DirectoryEntryError(current.toStdU16String()) == 0)
    ReadFileNames(current);
  else
    FDirectory = current;
}

int TFileListBox::ItemHeight() const { return FDelegate->ItemHeight(); }

void TFileListBox::SetItemHeight(int height) {
  FDelegate->SetItemHeight(height);
  doItemsLayout();
}

void TFileListBox::SetDirectory(const QString& folder) { ReadFileNames(folder); }

void TFileListBox::SetMask(const QString& mask) {
  if (mask == FMask) return;
  FMask = mask;
  ReadFileNames(FDirectory);
}

void TFileListBox::Update() { ReadFileNames(FDirectory); }

void TFileListBox::ReadFileNames(const QString& text) {
  const QString folder = EnterableFolder(text);
  // Files only, hidden ones left out; every pattern is tried on every file,
  // so a file two patterns match is listed twice.
  const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Unsorted);
  QStringList names;
  for (const QString& pattern : FMask.split(u';'))
    for (const QString& file : files)
      if (MatchesPattern(pattern, file)) names.append(file);
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::stable_sort(names.begin(), names.end(),
                   [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
  FDirectory = folder;
  clear();
  addItems(names);
}
