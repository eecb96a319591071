// The folder tree: the root, the ancestors and the shown folder, then its subfolders.
#pragma once

#include <QListWidget>
#include <QString>

#include "toolkit/notifyevent.h"

class TFileListBox;
class TListItemDelegate;

class TDirectoryListBox : public QListWidget {
  Q_OBJECT

 public:
  // Starts on the process's current folder.
  explicit TDirectoryListBox(QWidget* parent = nullptr);

  QString Directory() const { return FDirectory; }
  // Moves to another folder: an empty text or the current text does nothing;
  // a folder that cannot be entered raises EInOutError and changes nothing.
  // After a move the linked file list follows, then OnChange runs.
  void SetDirectory(const QString& text);

  TFileListBox* FileList() const { return FFileList; }
  // Linking moves nothing.
  void SetFileList(TFileListBox* fileList) { FFileList = fileList; }

  // Opens the item at row, as a double click or Enter does.
  void OpenItem(int row);

  int ItemHeight() const;
  void SetItemHeight(int height);

  // Runs after each move, once the linked file list has been re-read.
  TNotifyEvent OnChange;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildItems();

  QString FDirectory;
  TFileListBox* FFileList = nullptr;
  TListItemDelegate* FDelegate;
};
