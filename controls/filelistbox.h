// The list of the files in one folder that match a mask.
#pragma once

#include <QListWidget>
#include <QString>

class TListItemDelegate;

class TFileListBox : public QListWidget {
  Q_OBJECT

 public:
  // Starts on the process's current folder with the mask "*.*".
  explicit TFileListBox(QWidget* parent = nullptr);

  QString Directory() const { return FDirectory; }
  // Lists another folder; EInOutError when it cannot be entered, and then
  // the folder and the items stay as they were.
  void SetDirectory(const QString& folder);

  QString Mask() const { return FMask; }
  // Patterns separated by ";". Re-reads only when the text differs (letter case counts).
  void SetMask(const QString& mask);

  // Re-reads the folder with the current mask.
  void Update();

  int ItemHeight() const;
  void SetItemHeight(int height);

  // Whether name matches one pattern: letters in either case, "*" any run of
  // characters, "?" any one; a pattern ending in ".*" also admits a name without that extension.
  static bool MatchesPattern(const QString& pattern, const QString& name);

 private:
  void ReadFileNames(const QString& text);

  QString FDirectory;
  QString FMask = QStringLiteral("*.*");
  TListItemDelegate* FDelegate;
};
