#include "toolkit/form.h"

#include <QCloseEvent>
#include <QShowEvent>

#include "toolkit/application.h"

void TForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window restored from minimised is shown by the system, not by the program.
  if (!event->spontaneous()) emit OnShow();
}

void TForm::closeEvent(QCloseEvent* event) {
  emit OnClose();
  event->accept();
  if (Application && Application->MainForm() == this) Application->Terminate();
}
