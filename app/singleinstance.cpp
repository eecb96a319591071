#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>

#include "platform/process.h"
#include "toolkit/application.h"
#include "toolkit/history.h"

namespace {

const QString BaseName = QStringLiteral("tarnvel-kestro");

// Unix sockets are files, so a path in the private folder keeps other users
// out. Windows pipe names are machine-wide: the folder, the user's own, is
// folded into the name instead.
QString ServerName(const QString& folder) {
#ifdef _WIN32
  const QByteArray key = QDir::cleanPath(folder).toLower().toUtf8();
  return BaseName + QLatin1Char('-') +
         QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32));
#else
  return QDir(folder).filePath(BaseName + QStringLiteral(".socket"));
#endif
}

}  // namespace

QString TSingleInstance::DefaultFolder() {
#ifdef _WIN32
  // Beside the run history, out of the user's sight (Windows gives no runtime
  // folder: Qt's stand-in is the profile folder itself).
  const QString folder = StateFolder();
  QDir().mkpath(folder);  // a lock is never taken in a folder that is not there
  return folder;
#else
  return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
}

TSingleInstance::TSingleInstance(const QString& folder)
    : FFolder(folder),
      FServerName(ServerName(folder)),
      FLock(QDir(folder).filePath(BaseName + QStringLiteral(".lock"))) {
  // Only a lock whose process has gone is stale, never one that is merely
  // old: the first instance may run for weeks.
  FLock.setStaleLockTime(0);
  FServer.setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(&FServer, &QLocalServer::newConnection, &FServer, [this] {
    while (QLocalSocket* socket = FServer.nextPendingConnection()) {
      if (Application) BringForward(Application->MainForm());
      // Closing tells the later start that it has been heard.
      socket->disconnectFromServer();
      socket->deleteLater();
    }
  });
}

bool TSingleInstance::Claim() {
  if (FFolder.isEmpty()) return true;
  // Between the first instance taking the lock and listening there is a
  // moment in which it cannot answer yet: a later start tries for a while.
  const QDeadlineTimer deadline(5000);
  for (;;) {
    if (FLock.tryLock(0)) {
      // A socket file left by an instance that was killed would refuse the listen.
      QLocalServer::removeServer(FServerName);
      FServer.listen(FServerName);
      return true;
    }
    if (FLock.error() != QLockFile::LockFailedError) return true;
    if (HandOver()) return false;
    if (deadline.hasExpired()) return true;
    QThread::msleep(50);
  }
}

bool TSingleInstance::HandOver() const {
  QLocalSocket socket;
  socket.connectToServer(FServerName);
  if (!socket.waitForConnected(1000)) return false;
  // The system lets a process bring its window to the front only when the
  // one in front allows it: this start is the one the user just made.
  platform::AllowForegroundHandOver();
  socket.write("show\n");
  // Heard once connected: the running instance comes forward as soon as its
  // loop runs, however busy it is now. Its closing the connection says it
  // has, so this start ends with that window in front.
  socket.waitForBytesWritten(1000);
  socket.waitForDisconnected(3000);
  return true;
}

void BringForward(QWidget* window) {
  // A closed main window means the program is ending.
  if (!window || !window->isVisible()) return;
  window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
  window->show();
  window->raise();
  window->activateWindow();
}
