// The boundary between the toolkit and the program's handlers: a handler's
// exception never unwinds through Qt; it ends the handler and is shown in the
// error box, and the program goes on.
#pragma once

#include <QObject>
#include <exception>

#include "toolkit/application.h"
#include "toolkit/notifyevent.h"

// Runs one handler at the boundary.
template <class Handler>
void RunHandler(Handler&& handler) noexcept {
  try {
    handler();
  } catch (...) {
    Application->HandleException(std::current_exception());
  }
}

// Connects signal to a handler that takes the sender: a member of receiver
// (ConnectHandler(BtCopiar, &QPushButton::clicked, this, &TFrmTarnvel::BtCopiarClick))
// or any callable.
template <class Sender, class Signal, class Receiver, class Handler>
QMetaObject::Connection ConnectHandler(Sender* sender, Signal signal, Receiver* receiver, Handler handler) {
  return QObject::connect(sender, signal, receiver, [sender, receiver, handler] {
    RunHandler([&] {
      if constexpr (std::is_member_function_pointer_v<Handler>)
        (receiver->*handler)(sender);
      else
        handler(sender);
    });
  });
}
