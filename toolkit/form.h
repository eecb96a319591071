// The base of the program's windows: a top-level widget whose show and close
// are events that handlers can be bound to with ConnectHandler.
#pragma once

#include <QWidget>

class TForm : public QWidget {
  Q_OBJECT

 public:
  explicit TForm(QWidget* parent = nullptr) : QWidget(parent, Qt::Window) {}

 signals:
  // The window has become visible.
  void OnShow();
  // The window is closing; nothing cancels it. Closing the main window ends the program.
  void OnClose();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
};
