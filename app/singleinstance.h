// One running program per user: two would watch and mirror the same folders
// and race each other. The first start holds a lock file in the user's runtime
// folder and answers on a local socket there; a later start asks it to bring
// its main window forward and ends.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QString>

class QWidget;

class TSingleInstance {
 public:
  // The lock and the socket live in folder.
  explicit TSingleInstance(const QString& folder = DefaultFolder());
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // True when this start is to run: it is the first, and from now on it
  // answers a later start by bringing the application's main window forward.
  // Also true when no lock can be had at all (no such folder, or one that
  // takes no file), or when the running instance does not answer: a start is
  // never kept from running by a guard that cannot work. False when the
  // running instance was asked to come forward: this start ends.
  bool Claim();

  // The user's runtime folder (Linux XDG_RUNTIME_DIR), on Windows the
  // program's state folder (%LOCALAPPDATA%\Corvalen), made when missing.
  static QString DefaultFolder();

 private:
  // Asks the running instance to come forward; false when none answers.
  bool HandOver() const;

  QString FFolder;
  QString FServerName;
  QLockFile FLock;
  QLocalServer FServer;
};

// Shows the window as the user left it but not minimised, in front, with the
// input focus.
void BringForward(QWidget* window);
