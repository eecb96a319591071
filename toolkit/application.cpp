#include "toolkit/application.h"

#include <QApplication>
#include <QFont>
#include <QPushButton>
#include <QScreen>

#include "funcoes/exceptions.h"
#include "funcoes/mainthread.h"
#include "platform/shell.h"

TApplication* Application = nullptr;

void TMessagePresenter::ShowMessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                       const QString& button) {
  QMessageBox box(icon, caption, text, QMessageBox::NoButton);
  box.addButton(button, QMessageBox::AcceptRole);
  // Without a parent the box is modal for the whole program and centred on the screen.
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

TApplication::TApplication(int& argc, char** argv)
    : FArgc(argc), FArgv(argv), FPresenter(std::make_unique<TMessagePresenter>()) {
  Application = this;
}

TApplication::~TApplication() {
  // Windows go before the toolkit; the newest first, so a child window is
  // never deleted twice (its QPointer is already empty).
  for (auto it = FForms.rbegin(); it != FForms.rend(); ++it) delete it->data();
  FForms.clear();
  // Before the toolkit goes: a worker in mid-report must not wake an event
  // loop that is being destroyed.
  SetWakeMainThread(nullptr);
  FQtApp.reset();
  if (FComInitialized) platform::ComUninitialize();
  if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
  FComInitialized = platform::ComInitialize();
  FQtApp = std::make_unique<QApplication>(FArgc, FArgv);
  // Where the windows' fonts are missing (Linux), the metric-compatible
  // family keeps captions inside the controls sized for them.
  QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"));
  QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
  // A worker that queued a call for the main thread wakes the event loop, which
  // then runs the queue between two events.
  SetWakeMainThread([] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(
          app, [] { CheckSynchronize(0); }, Qt::QueuedConnection);
  });
}

// Not Qt's display name: that would be appended to other windows' captions.
void TApplication::SetTitle(const QString& title) { FTitle = title; }

QWidget* TApplication::NewFormParent() const {
  // Secondary windows belong to the main window: no taskbar button of their
  // own, kept in front of it, hidden with it while it is minimised.
  return MainFormOnTaskBar ? FMainForm.data() : nullptr;
}

void TApplication::AdoptForm(QWidget* form) {
  if (form->parentWidget()) form->setWindowFlag(Qt::Window);
  if (!FMainForm) FMainForm = form;
  FForms.emplace_back(form);
}

void TApplication::Run() {
  if (FMainForm) {
    switch (platform::StartupShowState()) {
      case platform::ShowState::Maximized:
        FMainForm->showMaximized();
        break;
      case platform::ShowState::Minimized:
        FMainForm->showMinimized();
        break;
      case platform::ShowState::Normal:
        FMainForm->show();
        break;
    }
  }
  QApplication::exec();
}

void TApplication::ProcessMessages() {
  // The handlers run here end at their own boundary (ConnectHandler); nothing
  // they raise comes out of this call.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  // And the calls that worker threads have queued for the main thread.
  CheckSynchronize(0);
}

void TApplication::Terminate() {
  // exit, not quit: Qt's quit would first close every window again.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

namespace {

// The message to show: the innermost non-empty one of a chain of nested errors.
QString InnermostMessage(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    QString message = QString::fromUtf8(e.what());
    if (const auto* nested = dynamic_cast<const std::nested_exception*>(&e); nested && nested->nested_ptr()) {
      const QString inner = InnermostMessage(nested->nested_ptr());
      if (!inner.isEmpty()) message = inner;
    }
    return message;
  } catch (...) {
    return QStringLiteral("Unknown exception");
  }
}

bool IsAbort(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
  return message;
}

void TApplication::HandleException(std::exception_ptr error) {
  if (!error || IsAbort(error)) return;
  FPresenter->ShowMessageBox(QMessageBox::Critical, FTitle, ErrorBoxText(InnermostMessage(error)),
                             QStringLiteral("OK"));
}

void TApplication::ShowNotice(const QString& text) {
  FPresenter->ShowMessageBox(QMessageBox::NoIcon, FTitle, text, QStringLiteral("OK"));
}

std::unique_ptr<TMessagePresenter> TApplication::SetPresenter(std::unique_ptr<TMessagePresenter> presenter) {
  std::swap(FPresenter, presenter);
  return presenter;
}

void ShowMessage(const QString& text) { Application->ShowNotice(text); }
