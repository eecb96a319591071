#include "toolkit/notifier.h"

#include <QGuiApplication>

#ifndef Q_OS_WIN
#include <QDBusConnection>
#include <QFile>
#include <QDBusMessage>
#include <QVariantMap>
#endif

namespace {
TTrayMessageRoute TrayRoute;

#ifndef Q_OS_WIN
// Whether the session has a bus; without one, asking for it would have the
// bus library try to start one of its own.
bool SessionBusKnown() {
  return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
         (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") &&
          QFile::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus")));
}
#endif
}  // namespace

void SetTrayMessageRoute(TTrayMessageRoute route) { TrayRoute = std::move(route); }

void ShowNotification(const QString& summary, const QString& body, TUrgency urgency) {
#ifdef Q_OS_WIN
  if (TrayRoute) TrayRoute(summary, body, urgency);
#else
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  QVariantMap hints;
  // Critical ones stay until the user dismisses them.
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(urgency == TUrgency::Critical ? 2 : 1));
  hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
  call << QStringLiteral("Tarnvel KESTRO") << 0u << QGuiApplication::desktopFileName() << summary << body
       << QStringList() << hints << -1;
  // Sent without waiting for the reply: a busy or absent service holds up nothing.
  call.setAutoStartService(true);
  if (!SessionBusKnown() || !QDBusConnection::sessionBus().send(call)) {
    if (TrayRoute) TrayRoute(summary, body, urgency);
  }
#endif
}
