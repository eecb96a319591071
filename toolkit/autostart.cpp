#include "toolkit/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace {

#ifdef Q_OS_WIN
const QString RunKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString RunValue = QStringLiteral("Tarnvel KESTRO");
#else
QString EntryPath() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
      .filePath(QStringLiteral("autostart/tarnvel.desktop"));
}

// An Exec argument: quoted, with the characters that quoting leaves special
// escaped, and "%" doubled (field codes).
QString ExecArgument(const QString& path) {
  QString quoted;
  // Escaped once for the quoting and once more for the file's string rules:
  // "\\$" stands for "$", "\\\\" for a backslash.
  for (const QChar c : path) {
    if (c == '\\')
      quoted += QStringLiteral("\\\\\\\\");
    else if (c == '"' || c == '`' || c == '$')
      quoted += QStringLiteral("\\\\") + c;
    else
      quoted += c;
  }
  quoted.replace('%', QStringLiteral("%%"));
  return '"' + quoted + '"';
}
#endif

}  // namespace

QString AutostartEntry(const QString& program) {
#ifdef Q_OS_WIN
  return '"' + QDir::toNativeSeparators(program) + '"';
#else
  const QString icon =
      QGuiApplication::desktopFileName().isEmpty() ? QStringLiteral("tarnvel") : QGuiApplication::desktopFileName();
  return QStringLiteral(
             "[Desktop Entry]\nType=Application\nName=Tarnvel KESTRO\nComment=Mirror a folder of media files\n"
             "Exec=%1\nIcon=%2\nTerminal=false\nX-GNOME-Autostart-enabled=true\n")
      .arg(ExecArgument(program), icon);
#endif
}

bool AutostartEnabled() {
#ifdef Q_OS_WIN
  return QSettings(RunKey, QSettings::NativeFormat).contains(RunValue);
#else
  return QFile::exists(EntryPath());
#endif
}

bool SetAutostart(bool enabled, const QString& program) {
#ifdef Q_OS_WIN
  QSettings run(RunKey, QSettings::NativeFormat);
  if (enabled)
    run.setValue(RunValue, AutostartEntry(program));
  else
    run.remove(RunValue);
  run.sync();
  return run.status() == QSettings::NoError;
#else
  const QString path = EntryPath();
  if (!enabled) return !QFile::exists(path) || QFile::remove(path);
  if (!QDir().mkpath(QFileInfo(path).path())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(AutostartEntry(program).toUtf8());
  return file.commit();
#endif
}
