// The event type of the toolkit's controls.
#pragma once

#include <functional>

class QObject;

// The handler type that takes only the sender.
using TNotifyEvent = std::function<void(QObject* Sender)>;
