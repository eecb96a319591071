// The application object: the process-wide shell around the windows.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <exception>
#include <memory>
#include <vector>

class QApplication;

// Shows the program's message boxes. Replaceable so that tests can see what
// would have been shown instead of blocking in a modal box.
class TMessagePresenter {
 public:
  virtual ~TMessagePresenter() = default;
  // A modal box with one button whose caption is button.
  virtual void ShowMessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                              const QString& button);
};

class TApplication {
 public:
  // argc and argv must outlive the object (they are main's).
  TApplication(int& argc, char** argv);
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Prepares the toolkit: the Qt application, COM on Windows.
  void Initialize();

  bool MainFormOnTaskBar = false;
  QString Title() const { return FTitle; }
  void SetTitle(const QString& title);

  // Creates a window owned by the application and stores it in variable; the
  // first one becomes the main window. On failure variable is left empty.
  template <class T>
  void CreateForm(T*& variable) {
    variable = nullptr;
    variable = new T(NewFormParent());
    AdoptForm(variable);
  }
  QWidget* MainForm() const { return FMainForm.data(); }

  // Shows the main window and dispatches events until Terminate.
  void Run();
  // Runs every event that is waiting, then returns.
  void ProcessMessages();
  // Asks the loop to end (a queued quit request).
  void Terminate();

  // The error box for an exception that escaped a handler; EAbort shows nothing.
  void HandleException(std::exception_ptr error);
  // A plain notice: caption Title, no icon, one "OK".
  void ShowNotice(const QString& text);

  TMessagePresenter& Presenter() { return *FPresenter; }
  // Takes ownership; returns the previous presenter.
  std::unique_ptr<TMessagePresenter> SetPresenter(std::unique_ptr<TMessagePresenter> presenter);

 private:
  QWidget* NewFormParent() const;
  void AdoptForm(QWidget* form);

  int& FArgc;
  char** FArgv;
  std::unique_ptr<QApplication> FQtApp;
  bool FComInitialized = false;
  QString FTitle;
  // Guarded: a test that destroys the main window has the next one created take its place.
  QPointer<QWidget> FMainForm;
  std::vector<QPointer<QWidget>> FForms;
  std::unique_ptr<TMessagePresenter> FPresenter;
};

extern TApplication* Application;

// The text the error box shows for a message: a "." is appended when the last
// character's code is above that of ".".
QString ErrorBoxText(const QString& message);

// The plain notice of the toolkit.
void ShowMessage(const QString& text);
