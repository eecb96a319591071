// System notifications: a message that appears beside whatever the user is
// doing and never waits for an answer. Linux: org.freedesktop.Notifications
// on the session bus; Windows: the tray icon's message, when a tray icon is
// shown (see SetTrayMessageRoute).
#pragma once

#include <QString>
#include <functional>

enum class TUrgency { Normal, Critical };

// Sends the notification and returns at once: nothing waits for the
// notification service, and a desktop without one shows nothing.
void ShowNotification(const QString& summary, const QString& body, TUrgency urgency);

// Where the tray icon's message goes on systems without a notification
// service (Windows); empty while no tray icon is shown.
using TTrayMessageRoute = std::function<void(const QString& summary, const QString& body, TUrgency urgency)>;
void SetTrayMessageRoute(TTrayMessageRoute route);
