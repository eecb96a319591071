// The main-thread call queue: how a worker thread gets a routine run on the
// main thread and waits for it.
#pragma once

#include <functional>

// From a worker: queue fn, wake the main thread, block until fn has run there,
// and raise again here whatever escaped fn. On the main thread: run fn at once.
void Synchronize(const std::function<void()>& fn);

// Main thread: run the routines already queued, first waiting up to timeoutMs
// for one to arrive when none is. True if anything ran. Elsewhere: false.
bool CheckSynchronize(int timeoutMs = 0);

// The application's hook, called on the worker after each queued routine so the
// main thread's event loop comes round to CheckSynchronize. It must not wait
// for the main thread. After SetWakeMainThread(nullptr) returns, the old hook
// is never called again.
void SetWakeMainThread(std::function<void()> wake);

// True on the main thread: the first thread that used the queue, called
// SetWakeMainThread or asked this.
bool IsMainThread();
