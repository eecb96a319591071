// FolderMon: watches one folder in a worker thread and reports each change, one
// at a time, on the main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>

#include "funcoes/funcoes.h"
#include "platform/dirwatch.h"

enum TFolderAction : std::uint8_t { faNew, faRemoved, faModified, faRenamedOld, faRenamedNew };

struct TFolderItemInfo {
  WideString Name;  // relative to the watched folder
  TFolderAction Action = faNew;
};

enum TChangeType : std::uint8_t {
  ctFileName,
  ctDirName,
  ctAttr,
  ctSize,
  ctLastWriteTime,
  ctLastAccessTime,
  ctCreationTime,
  ctSecurityAttr
};

// A set of TChangeType in one byte: bit n for the member of ordinal n.
class TChangeTypes {
 public:
  constexpr TChangeTypes(std::uint8_t bits = 0) : FBits(bits) {}
  constexpr TChangeTypes(std::initializer_list<TChangeType> members) : FBits(0) {
    for (TChangeType m : members) FBits |= static_cast<std::uint8_t>(1u << m);
  }
  constexpr bool Contains(TChangeType member) const { return (FBits >> member) & 1u; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr std::uint8_t Bits() const { return FBits; }
  friend constexpr bool operator==(TChangeTypes a, TChangeTypes b) { return a.FBits == b.FBits; }

 private:
  std::uint8_t FBits;
};

// Each change type's bit in the platform's notify filter, by ordinal.
inline constexpr std::uint32_t ChangeTypeFilterFlags[8] = {
    platform::NotifyFileName,  platform::NotifyDirName,    platform::NotifyAttributes, platform::NotifySize,
    platform::NotifyLastWrite, platform::NotifyLastAccess, platform::NotifyCreation,   platform::NotifySecurity};

// The notify filter for a set: the OR of its members' bits.
std::uint32_t NotifyFilterFor(TChangeTypes changes);

// When the worker read a change from the platform: whatever the reports feed
// and started after it has seen the change.
using TChangeClock = std::chrono::steady_clock;

class TFolderMon;
using TFolderChangeEvent = std::function<void(TFolderMon* Sender, TFolderItemInfo AFolderItem)>;
// The handler that takes only the sender, for OnActivated and OnDeactivated. Its
// own name: the window toolkit's TNotifyEvent takes a toolkit object.
using TFolderMonNotifyEvent = std::function<void(TFolderMon* Sender)>;

// What a monitor and its worker share. The worker holds it for as long as it
// runs, so it never has to read the monitor itself, which may be gone.
struct TFolderMonLink {
  std::atomic<TFolderMon*> Owner;  // nil once detached, for good
  std::atomic<bool> Terminated{false};
  // Wakes a worker pausing after a failed wait, so a detached one ends at once
  // (its folder's wait is woken through the handle).
  std::mutex PauseLock;
  std::condition_variable PauseEnd;
  // The worker's folder handle until the worker closes it (under PauseLock), so
  // that Terminate can wake the worker's wait without touching a closed handle.
  platform::DirWatchHandle Folder = platform::InvalidDirWatch;

  // Sets Terminated and wakes the worker's wait (main thread).
  void Terminate();
  // Closes the folder handle (worker thread, as it ends).
  void CloseFolder();
};

class TFolderMonWorker {
 public:
  // Main thread: opens the owner's folder, fixes the filter and starts the
  // thread. The thread owns the worker and releases it when its body returns;
  // the caller keeps only the link.
  static std::shared_ptr<TFolderMonLink> Create(TFolderMon* AOwner);

 private:
  explicit TFolderMonWorker(TFolderMon* AOwner);
  void Execute();
  void NotifyOwner();
  // Calls the owner's handler held in event, if any.
  void Tell(TFolderMonNotifyEvent TFolderMon::*event);

  std::shared_ptr<TFolderMonLink> FLink;  // holds Owner and Terminated
  platform::DirWatchHandle FFolder = platform::InvalidDirWatch;
  TFolderItemInfo FFolderItemInfo;
  TChangeClock::time_point FReadAt;  // of the batch being delivered
};

class TFolderMon {
 public:
  TFolderMon() = default;
  ~TFolderMon();
  TFolderMon(const TFolderMon&) = delete;
  TFolderMon& operator=(const TFolderMon&) = delete;

  // Raises EOSError, naming the folder and the reason, when the system
  // refuses to watch it (no inotify instance or watch left for this user,
  // access denied); no worker runs then and the monitor stays inactive.
  void Activate();
  void Deactivate();

  const WideString& Folder() const { return FFolder; }
  void SetFolder(const WideString& value);
  // True from a successful Activate to Deactivate. A handler that raises does
  // not end the worker: that report is dropped and watching goes on.
  bool IsActive() const { return FWorker != nullptr; }
  void SetIsActive(bool value);
  TChangeTypes MonitoredChanges() const { return FMonitoredChanges; }
  void SetMonitoredChanges(TChangeTypes value);
  bool MonitorSubFolders() const { return FMonitorSubFolders; }
  void SetMonitorSubFolders(bool value);
  const TFolderChangeEvent& OnFolderChange() const { return FOnFolderChange; }
  void SetOnFolderChange(TFolderChangeEvent handler) { FOnFolderChange = std::move(handler); }
  const TFolderMonNotifyEvent& OnActivated() const { return FOnActivated; }
  void SetOnActivated(TFolderMonNotifyEvent handler) { FOnActivated = std::move(handler); }
  const TFolderMonNotifyEvent& OnDeactivated() const { return FOnDeactivated; }
  void SetOnDeactivated(TFolderMonNotifyEvent handler) { FOnDeactivated = std::move(handler); }
  // Called when the platform lost changes (its queue overflowed): nobody knows
  // which, so only a look at the whole folder covers them.
  const TFolderMonNotifyEvent& OnChangesLost() const { return FOnChangesLost; }
  void SetOnChangesLost(TFolderMonNotifyEvent handler) { FOnChangesLost = std::move(handler); }
  // Called once when the watched folder goes away (deleted, moved away, its
  // disk unmounted). The worker then looks for it about every second.
  const TFolderMonNotifyEvent& OnFolderGone() const { return FOnFolderGone; }
  void SetOnFolderGone(TFolderMonNotifyEvent handler) { FOnFolderGone = std::move(handler); }
  // Called when the folder is back at its path and watched again, subtree and
  // all. What changed while it was away is not reported one by one.
  const TFolderMonNotifyEvent& OnFolderBack() const { return FOnFolderBack; }
  void SetOnFolderBack(TFolderMonNotifyEvent handler) { FOnFolderBack = std::move(handler); }
  // Inside OnFolderChange, OnChangesLost, OnFolderGone and OnFolderBack: when
  // the worker read what is being reported.
  TChangeClock::time_point ChangeReadAt() const { return FChangeReadAt; }

 private:
  WideString FFolder;
  std::shared_ptr<TFolderMonLink> FWorker;
  TChangeTypes FMonitoredChanges;
  bool FMonitorSubFolders = false;
  TFolderChangeEvent FOnFolderChange;
  TFolderMonNotifyEvent FOnDeactivated;
  TFolderMonNotifyEvent FOnActivated;
  TFolderMonNotifyEvent FOnChangesLost;
  TFolderMonNotifyEvent FOnFolderGone;
  TFolderMonNotifyEvent FOnFolderBack;
  TChangeClock::time_point FChangeReadAt;

  friend class TFolderMonWorker;  // sets FChangeReadAt for each report
};
