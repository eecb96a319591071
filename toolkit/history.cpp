#include "toolkit/history.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

QString StateFolder() {
#ifdef Q_OS_WIN
  // As the session sets it; the known folder (the same one) where it is unset.
  QString state = qEnvironmentVariable("LOCALAPPDATA");
  if (!QDir::isAbsolutePath(state)) state = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  // Relative values are to be ignored, as for the other XDG folders.
  if (!QDir::isAbsolutePath(state)) state = QDir::homePath() + QStringLiteral("/.local/state");
#endif
  return QDir(state).filePath(QStringLiteral("Corvalen"));
}

QString RunLogPath() { return QDir(StateFolder()).filePath(QStringLiteral("TARNVEL.log")); }

void RecordRun(const TRunRecord& record) { AppendRunRecord(RunLogPath().toStdU16String(), FormatRunRecord(record)); }

bool OpenRunLog() {
  const QString path = RunLogPath();
  // An empty log, rather than an error, before the first run.
  if (!QFile::exists(path)) AppendRunRecord(path.toStdU16String(), {});
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
