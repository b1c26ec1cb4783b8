// Events, the module's lock and the worker thread.
// Part of the thin layer over the operating system (see platform.h).
#pragma once

#include <cstdint>

namespace encbridge {
namespace platform {

// ---- Events --------------------------------------------------------------
// Wake-up events between the host's thread and the encoder worker. Each has
// one waiting thread at a time. A raise is never lost: one that comes
// between the waiter's last look at what it waits for and its wait makes
// that wait return at once.
struct Event;
// An event that, once raised, stays raised: every later wait returns at
// once. For what happens once per worker: a stop, the worker's end. Null
// when the system has none to give.
Event *CreateManualResetEvent();
// An event that a wait takes back down as it returns: raises that no wait
// has taken yet count as one. For what happens again and again: a track
// that the host has finished. Null when the system has none to give.
Event *CreateAutoResetEvent();
void RaiseEvent(Event *event);
// Waits up to milliseconds for the event; true when it was raised.
// kWaitForever waits with no time limit.
constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;
bool WaitForEvent(Event *event, std::uint32_t milliseconds);
// Takes the event back down, whatever raised it before.
void ClearEvent(Event *event);
void DestroyEvent(Event *event);

// ---- The module's lock ---------------------------------------------------------
// One lock for the whole module, held by the exported functions while they
// change the rip, so that two of them from two threads (a Kill beside
// another Kill, or beside a Create) take turns. Whoever holds it never
// waits for the system loader's lock (Windows), and a thread that dies
// holding it gives it up (Windows: the next taker gets it). False when it
// cannot be had: the system has no lock to give.
bool LockModule();
void UnlockModule();
// Gives back what the lock is made of, once the module is being unloaded
// and no call of the module can come any more. Windows only.
void DiscardModuleLock();

// ---- The worker thread -----------------------------------------------------
// A thread that runs body(argument) once. The module's code stays mapped
// while it runs, even when the host unloads the module meanwhile.
struct WorkerThread;
// What keeps the module's code mapped for a worker about to start. On
// Windows taking one and giving it back go through the loader's lock, which
// a host's component may hold while it waits in Kill for the module's lock:
// so it is taken before the module's lock, and a hold that no thread took
// over is given back after it. Null when none could be had.
struct ModuleHold;
ModuleHold *HoldModule();
void ReleaseModuleHold(ModuleHold *hold);
// Null when no thread could be started; body then never runs. The thread
// takes hold over (hold becomes null) when it starts.
WorkerThread *StartWorkerThread(void (*body)(void *), void *argument, ModuleHold *&hold);
// Waits until body has returned, then releases the record. Safe to call
// while the module is being unloaded: it never waits for a thread to finish
// exiting, only for body to return.
void JoinWorkerThread(WorkerThread *thread);
// Releases the record of a worker that does not exist in this process: in a
// child forked while it ran. Linux only.
void ForgetWorkerThread(WorkerThread *thread);

}  // namespace platform
}  // namespace encbridge
