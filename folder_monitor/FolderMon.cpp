#include "folder_monitor/FolderMon.h"

#include <chrono>
#include <thread>

#include "funcoes/exceptions.h"
#include "funcoes/mainthread.h"
#include "platform/text.h"

namespace {

// Between two failed waits (a read error that persists fails every wait at
// once), so such a worker does not keep a processor busy.
constexpr auto FailedWaitPause = std::chrono::milliseconds(300);

TFolderAction ActionFor(platform::DirAction action) {
  switch (action) {
    case platform::DirAction::Added:
      break;
    case platform::DirAction::Removed:
      return faRemoved;
    case platform::DirAction::Modified:
      return faModified;
    case platform::DirAction::RenamedOld:
      return faRenamedOld;
    case platform::DirAction::RenamedNew:
      return faRenamedNew;
  }
  return faNew;
}

}  // namespace

std::uint32_t NotifyFilterFor(TChangeTypes changes) {
  std::uint32_t filter = 0;
  for (int n = 0; n < 8; ++n)
    if (changes.Contains(static_cast<TChangeType>(n))) filter |= ChangeTypeFilterFlags[n];
  return filter;
}

void TFolderMonLink::Terminate() {
  {
    std::lock_guard<std::mutex> guard(PauseLock);
    Terminated = true;
    platform::WakeDirWatch(Folder);
  }
  PauseEnd.notify_all();
}

void TFolderMonLink::CloseFolder() {
  std::lock_guard<std::mutex> guard(PauseLock);
  platform::CloseDirWatch(Folder);
  Folder = platform::InvalidDirWatch;
}

// ---- TFolderMonWorker ----

TFolderMonWorker::TFolderMonWorker(TFolderMon* AOwner) : FLink(std::make_shared<TFolderMonLink>()) {
  FLink->Owner = AOwner;
  if (!AOwner) throw Exception("Reference to TFolderMon instance must be specified");
  int error = 0;
  FFolder = platform::OpenDirWatch(AOwner->Folder(), AOwner->MonitorSubFolders(),
                                   NotifyFilterFor(AOwner->MonitoredChanges()), error);
  if (FFolder == platform::InvalidDirWatch)
    throw EOSError(error, "Cannot watch the folder \"" + platform::ToUtf8(AOwner->Folder()) +
                              "\": " + platform::DirWatchErrorText(error));
  FLink->Folder = FFolder;
}

std::shared_ptr<TFolderMonLink> TFolderMonWorker::Create(TFolderMon* AOwner) {
  // The thread that starts a worker is the one its changes are handed to.
  IsMainThread();
  auto worker = std::unique_ptr<TFolderMonWorker>(new TFolderMonWorker(AOwner));
  auto link = worker->FLink;
  std::thread thread;
  try {
    thread = std::thread([w = worker.get()] {
      std::unique_ptr<TFolderMonWorker> self(w);
      try {
        self->Execute();
      } catch (...) {
        // Only the platform's own failure (out of memory) gets here; it ends the worker.
      }
    });
  } catch (...) {
    worker->FLink->CloseFolder();
    throw;
  }
  worker.release();
  thread.detach();  // nothing ever waits for a worker
  return link;
}

void TFolderMonWorker::Execute() {
  // Closes the folder however the loop is left.
  struct Cleanup {
    TFolderMonLink& link;
    ~Cleanup() { link.CloseFolder(); }
  } cleanup{*FLink};
  const std::function<void()> notifyOwner = [this] { NotifyOwner(); };
  const std::function<void()> notifyChangesLost = [this] { Tell(&TFolderMon::FOnChangesLost); };
  const std::function<void()> notifyFolderGone = [this] { Tell(&TFolderMon::FOnFolderGone); };
  const std::function<void()> notifyFolderBack = [this] { Tell(&TFolderMon::FOnFolderBack); };
  // A handler that raises loses only its own report: the folder is still
  // watched, and the next change is told as usual.
  auto deliver = [](const std::function<void()>& notify) {
    try {
      Synchronize(notify);
    } catch (...) {
    }
  };

  bool gone = false;
  for (;;) {
    if (FLink->Terminated) break;
    if (!FLink->Owner) break;
    if (gone) {
      if (!platform::DirWatchFolderBack(FFolder)) continue;
      gone = false;
      FReadAt = TChangeClock::now();  // watched again from here
      deliver(notifyFolderBack);
      continue;
    }
    platform::DirReadResult batch = platform::ReadDirChanges(FFolder);
    if (batch.status == platform::DirReadStatus::Failed) {
      std::unique_lock<std::mutex> guard(FLink->PauseLock);
      FLink->PauseEnd.wait_for(guard, FailedWaitPause, [&] { return FLink->Terminated.load(); });
      continue;
    }
    FReadAt = TChangeClock::now();  // after the read: never before the changes it holds
    if (!FLink->Owner) break;
    if (batch.status == platform::DirReadStatus::ChangesLost) {
      deliver(notifyChangesLost);
      continue;
    }
    if (batch.status == platform::DirReadStatus::FolderGone) {
      gone = true;
      deliver(notifyFolderGone);
      continue;
    }
    for (platform::DirChange& change : batch.changes) {
      FFolderItemInfo.Name = std::move(change.name);
      FFolderItemInfo.Action = ActionFor(change.action);
      deliver(notifyOwner);
    }
  }
}

void TFolderMonWorker::NotifyOwner() {
  TFolderMon* owner = FLink->Owner;
  if (!owner || !owner->OnFolderChange()) return;
  // A copy: the handler may replace itself or release the monitor.
  const TFolderChangeEvent handler = owner->OnFolderChange();
  owner->FChangeReadAt = FReadAt;
  handler(owner, FFolderItemInfo);
}

void TFolderMonWorker::Tell(TFolderMonNotifyEvent TFolderMon::*event) {
  TFolderMon* owner = FLink->Owner;
  if (!owner || !(owner->*event)) return;
  const TFolderMonNotifyEvent handler = owner->*event;
  owner->FChangeReadAt = FReadAt;
  handler(owner);
}

// ---- TFolderMon ----

TFolderMon::~TFolderMon() { Deactivate(); }

void TFolderMon::Activate() {
  if (IsActive()) return;
  if (FMonitoredChanges.Empty()) throw Exception("Please specify event(s) to be monitored");
  if (!DirectoryExists(FFolder)) throw Exception("Please supply valid/existing folder");
  FWorker = TFolderMonWorker::Create(this);
  if (FOnActivated) FOnActivated(this);
}

void TFolderMon::Deactivate() {
  if (!IsActive()) return;
  // Only the shared link is touched: the worker itself may have ended already.
  FWorker->Owner = nullptr;
  FWorker->Terminate();
  FWorker.reset();
  if (FOnDeactivated) FOnDeactivated(this);
}

void TFolderMon::SetFolder(const WideString& value) {
  if (platform::SameTextAscii(FFolder, value)) return;
  if (IsActive())
    throw Exception(
        "Currently still actively monitoring a folder. Please deactivate before changing monitored folder.");
  FFolder = value;
}

void TFolderMon::SetIsActive(bool value) {
  if (value)
    Activate();
  else
    Deactivate();
}

void TFolderMon::SetMonitoredChanges(TChangeTypes value) {
  if (value == FMonitoredChanges) return;
  if (IsActive()) throw Exception("The monitor must be deactivated before changing the monitored event(s)");
  FMonitoredChanges = value;
}

void TFolderMon::SetMonitorSubFolders(bool value) {
  if (value == FMonitorSubFolders) return;
  if (IsActive()) throw Exception("Please deactivate the monitor first");
  FMonitorSubFolders = value;
}
