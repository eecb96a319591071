#include "controls/folderpath.h"

#include <QDir>

#include "funcoes/exceptions.h"
#include "platform/fs.h"

QString FolderForm(const QString& text) {
  // Resolving by text alone keeps the process's current folder untouched.
  return QDir::toNativeSeparators(QDir::cleanPath(QDir::current().absoluteFilePath(text)));
}

QString EnterableFolder(const QString& text) {
  const QString folder = FolderForm(text);
  if (const int code = platform::DirectoryEntryError(folder.toStdU16String())) throw EInOutError(code);
  return folder;
}
