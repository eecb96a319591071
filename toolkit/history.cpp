#include "toolkit/history.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

QString RunLogPath() {
#ifdef Q_OS_WIN
  // GenericDataLocation is %LOCALAPPDATA% on Windows.
  const QString state = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  // Relative values are to be ignored, as for the other XDG folders.
  if (!QDir::isAbsolutePath(state)) state = QDir::homePath() + QStringLiteral("/.local/state");
#endif
  return QDir(state).filePath(QStringLiteral("Corvalen/TARNVEL.log"));
}

void RecordRun(const TRunRecord& record) { AppendRunRecord(RunLogPath().toStdU16String(), FormatRunRecord(record)); }

bool OpenRunLog() {
  const QString path = RunLogPath();
  // An empty log, rather than an error, before the first run.
  if (!QFile::exists(path)) AppendRunRecord(path.toStdU16String(), {});
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
