// Starting, waiting for and ending encoders.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>

#include "platform/format.h"
#include "platform/message_tail.h"
#include "platform/platform.h"
#include "platform/win/threads.h"

namespace encbridge {
namespace platform {

// One pipe that a program writes to, read to its end by a thread of its
// own: an anonymous pipe cannot be waited on beside the process.
struct DrainedPipe {
    HANDLE read;    // null: none
    HANDLE thread;  // null: not reading
    // Raised by the reader as it stops reading. Waited on instead of the
    // thread: a thread cannot finish exiting while another thread holds the
    // loader's lock (a Kill from a host component's DLL_PROCESS_DETACH).
    HANDLE done;
    Process *owner;
    bool toSink;
    std::atomic<bool> givingUp;
};

struct Process {
    HANDLE handle;
    // The job that holds the encoder and every process it starts, and ends
    // them all when it is closed: by a stop, or with the host's process.
    // Null where the encoder could not be put in one.
    HANDLE job;
    // Standard output (to the sink, or with the words) and standard error.
    DrainedPipe pipes[2];
    OutputSink sink;
    bool sinkTaking;
    // Set when the sink's refusal ended the program: its exit code is ours.
    std::atomic<bool> cutShort;
    // Set once the pipes are read to their end, or given up on.
    bool drained;
    MessageTail messages;
    // Held by a reader while it hands over what it read, and by the owner as
    // it gives the readers up: from then on none touches the sink, which
    // may be gone. All zero is a free lock.
    SRWLOCK delivery;
    // In the list of records whose readers may still run (leavingReaders).
    Process *nextLeaving;
};

namespace {

// cmd.exe from the system folder, never looked up on the PATH or in the
// current folder. False when its path does not fit.
bool CommandShellPath(char (&path)[MAX_PATH]) {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return false;
    return FormatWhole(path, sizeof path, "%s%s", {folder, "\\cmd.exe"});
}

}  // namespace

namespace {

// A job that ends its processes when its last handle is closed, which the
// end of the host's process does too. Null where none can be made.
HANDLE NewKillOnCloseJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    std::memset(&limits, 0, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// The handles the encoder gets as its standard input, output and error, and
// nothing else of the host: made inheritable here, and named as the only
// ones it inherits.
struct StandardHandles {
    HANDLE input;   // NUL: the encoder reads end of file at once
    HANDLE output;  // NUL when hidden, else the host's, or null
    HANDLE error;
    HANDLE list[3];
    DWORD count;
};

HANDLE OpenNul(DWORD access) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE nul =
        CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);
    return nul == INVALID_HANDLE_VALUE ? nullptr : nul;
}

// An inheritable copy of one of the host's standard handles; null where the
// host has none (a windowed program), and the encoder's own console then
// shows what it writes.
HANDLE InheritableCopy(DWORD which) {
    HANDLE original = GetStdHandle(which);
    if (original == nullptr || original == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

void AddToList(StandardHandles &handles, HANDLE handle) {
    if (handle == nullptr) return;
    for (DWORD i = 0; i < handles.count; ++i) {
        if (handles.list[i] == handle) return;
    }
    handles.list[handles.count++] = handle;
}

// A pipe whose write end only the program inherits; its read end stays
// the module's. False when none can be made.
bool OpenPipe(DrainedPipe &pipe, HANDLE &write) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    if (!CreatePipe(&pipe.read, &write, &inheritable, 65536)) {
        pipe.read = write = nullptr;
        return false;
    }
    return SetHandleInformation(pipe.read, HANDLE_FLAG_INHERIT, 0) != FALSE;
}

// With a sink, standard output goes to it and standard error is kept;
// hidden, both are kept together through one pipe; shown, both are the
// host's.
bool OpenStandardHandles(StandardHandles &handles, Process &process, bool toSink, std::int32_t hideWindow) {
    std::memset(&handles, 0, sizeof handles);
    handles.input = OpenNul(GENERIC_READ);
    bool ready = handles.input != nullptr;
    if (toSink) {
        process.pipes[0].toSink = true;
        ready = OpenPipe(process.pipes[0], handles.output) && OpenPipe(process.pipes[1], handles.error) && ready;
    } else if (hideWindow != 0) {
        ready = OpenPipe(process.pipes[0], handles.output) && ready;
        handles.error = handles.output;
    } else {
        handles.output = InheritableCopy(STD_OUTPUT_HANDLE);
        handles.error = InheritableCopy(STD_ERROR_HANDLE);
    }
    AddToList(handles, handles.input);
    AddToList(handles, handles.output);
    AddToList(handles, handles.error);
    return ready;
}

DWORD WINAPI DrainPipe(void *argument) {
    DrainedPipe &pipe = *static_cast<DrainedPipe *>(argument);
    Process &process = *pipe.owner;
    char chunk[16384];
    DWORD got = 0;
    // A write of nothing reads as nothing: only a failure (the last write
    // end closed, or a cancel) ends the pipe. A reader given up on before it
    // first ran (its start waited for the loader's lock) reads nothing.
    while (!pipe.givingUp.load() && ReadFile(pipe.read, chunk, sizeof chunk, &got, nullptr)) {
        AcquireSRWLockExclusive(&process.delivery);
        if (!pipe.givingUp.load()) {
            if (!pipe.toSink) {
                KeepMessage(process.messages, chunk, got);
            } else if (process.sinkTaking && got > 0) {
                process.sinkTaking = process.sink.take(process.sink.context, chunk, got);
                // What the program writes now changes nothing, and it may never
                // stop writing: it ends here, and its end is taken as a stop.
                if (!process.sinkTaking) {
                    process.cutShort.store((process.job != nullptr && TerminateJobObject(process.job, 1)) ||
                                           TerminateProcess(process.handle, 1));
                }
            }
        }
        ReleaseSRWLockExclusive(&process.delivery);
    }
    SetEvent(pipe.done);
    return 0;
}

// Starts the threads that read the pipes: false when one cannot start.
bool StartDraining(Process &process) {
    for (DrainedPipe &pipe : process.pipes) {
        if (pipe.read == nullptr) continue;
        pipe.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (pipe.done == nullptr) return false;
        pipe.thread = CreateThread(nullptr, 64 * 1024, DrainPipe, &pipe, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (pipe.thread == nullptr) return false;
    }
    return true;
}

// How long readers that were cancelled, and whose job was ended, may take
// to stop before they are left to stop by themselves.
constexpr DWORD kGiveUpMilliseconds = 2000;

// Waits up to milliseconds for the pipes' ends, then gives up on them: a
// process that the program started may hold them open for ever. The
// readers are cancelled, and should one not end, the job is ended, which
// closes the last write ends. A reader that still has not stopped (one
// whose thread has not yet started) is left behind: it hands over nothing
// more, and its record stays until its thread is gone.
void FinishDraining(Process &process, DWORD milliseconds) {
    if (process.drained) return;
    HANDLE done[2];
    DWORD count = 0;
    for (const DrainedPipe &pipe : process.pipes) {
        if (pipe.thread != nullptr) done[count++] = pipe.done;
    }
    if (count > 0 && WaitForMultipleObjects(count, done, TRUE, milliseconds) != WAIT_OBJECT_0) {
        AcquireSRWLockExclusive(&process.delivery);
        for (DrainedPipe &pipe : process.pipes) pipe.givingUp.store(true);
        ReleaseSRWLockExclusive(&process.delivery);
        const DWORD started = GetTickCount();
        for (DrainedPipe &pipe : process.pipes) {
            while (pipe.thread != nullptr && WaitForSingleObject(pipe.done, 0) == WAIT_TIMEOUT &&
                   GetTickCount() - started < kGiveUpMilliseconds) {
                CancelSynchronousIo(pipe.thread);
                if (GetTickCount() - started > 1000 && process.job != nullptr) TerminateJobObject(process.job, 1);
                WaitForSingleObject(pipe.done, 20);
            }
        }
    }
    process.drained = true;
}

// Records whose readers' threads had not ended when their process was
// closed, oldest last; waited for by AwaitLeavingReaders.
SRWLOCK leavingLock = SRWLOCK_INIT;
Process *leavingReaders = nullptr;

bool ReadersGone(const Process &process, DWORD milliseconds) {
    HANDLE threads[2];
    DWORD count = 0;
    for (const DrainedPipe &pipe : process.pipes) {
        if (pipe.thread != nullptr) threads[count++] = pipe.thread;
    }
    return count == 0 || WaitForMultipleObjects(count, threads, TRUE, milliseconds) == WAIT_OBJECT_0;
}

void DeleteRecord(Process *process) {
    for (const DrainedPipe &pipe : process->pipes) {
        for (HANDLE handle : {pipe.thread, pipe.read, pipe.done}) {
            if (handle != nullptr) CloseHandle(handle);
        }
    }
    delete process;
}

// Releases the records of readers that have ended since they were left.
void ReapLeavingReaders() {
    AcquireSRWLockExclusive(&leavingLock);
    Process **link = &leavingReaders;
    while (*link != nullptr) {
        Process *record = *link;
        if (ReadersGone(*record, 0)) {
            *link = record->nextLeaving;
            DeleteRecord(record);
        } else {
            link = &record->nextLeaving;
        }
    }
    ReleaseSRWLockExclusive(&leavingLock);
}

// Releases a process's record once its readers are drained or given up: at
// once when their threads have ended, else once they have.
void ReleaseRecord(Process *process) {
    ReapLeavingReaders();
    // A reader that has stopped leaves at once, but for the loader's lock.
    if (ReadersGone(*process, 50)) {
        DeleteRecord(process);
        return;
    }
    AcquireSRWLockExclusive(&leavingLock);
    process->nextLeaving = leavingReaders;
    leavingReaders = process;
    ReleaseSRWLockExclusive(&leavingLock);
}

// How long the pipes of a program that has ended may stay open, held by
// something it started, before its end is reported all the same.
constexpr DWORD kDrainGraceMilliseconds = 2000;

void CloseStandardHandles(StandardHandles &handles) {
    for (DWORD i = 0; i < handles.count; ++i) CloseHandle(handles.list[i]);
    handles.count = 0;
}

// Creates the process suspended, with the standard handles as the only ones
// it inherits. False when it could not be created.
bool CreateSuspended(const char *shell, char *line, StandardHandles &handles, std::int32_t hideWindow, DWORD extraFlags,
                     PROCESS_INFORMATION &started) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    char *storage = new (std::nothrow) char[size];
    if (storage == nullptr) return false;
    LPPROC_THREAD_ATTRIBUTE_LIST attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage);
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
        delete[] storage;
        return false;
    }
    BOOL ok = UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.list,
                                        handles.count * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXA start;
    std::memset(&start, 0, sizeof start);
    start.StartupInfo.cb = sizeof start;
    start.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    start.StartupInfo.wShowWindow = hideWindow != 0 ? SW_HIDE : SW_SHOWNOACTIVATE;
    start.StartupInfo.hStdInput = handles.input;
    start.StartupInfo.hStdOutput = handles.output;
    start.StartupInfo.hStdError = handles.error;
    start.lpAttributeList = attributes;
    std::memset(&started, 0, sizeof started);
    ok = ok && CreateProcessA(shell, line, nullptr, nullptr, TRUE,
                              NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT | extraFlags,
                              nullptr, nullptr, &start.StartupInfo, &started);
    DeleteProcThreadAttributeList(attributes);
    delete[] storage;
    return ok != FALSE;
}

void Discard(PROCESS_INFORMATION &started) {
    TerminateProcess(started.hProcess, 1);
    WaitForSingleObject(started.hProcess, INFINITE);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
}

}  // namespace

std::int32_t LineArguments(const char *, char *, std::size_t) {
    // The line is handed whole to the program, which splits it by its own
    // runtime's rules.
    return -1;
}

Process *StartProcess(const char *commandLine, bool throughCommandShell, std::int32_t hideWindow,
                      SystemError *startError, const OutputSink *output) {
    SystemError ignored = {0};
    std::int32_t &error = (startError != nullptr ? *startError : ignored).code;
    error = ERROR_NOT_ENOUGH_MEMORY;
    char shell[MAX_PATH];
    if (throughCommandShell && !CommandShellPath(shell)) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    // /d: no AutoRun commands of the registry; /v:OFF: '!' is text; /c with
    // the whole line in quotes, which cmd.exe removes before it reads on.
    static const char kShellPrefix[] = "cmd.exe /e:ON /v:OFF /d /c \"";
    const std::size_t size = std::strlen(commandLine) + sizeof kShellPrefix + 1;
    Process *process = new (std::nothrow) Process();
    // CreateProcessA may write into the command line it is given.
    char *line = new (std::nothrow) char[size];
    StandardHandles handles;
    std::memset(&handles, 0, sizeof handles);
    if (process != nullptr) {
        for (DrainedPipe &pipe : process->pipes) pipe.owner = process;
        if (output != nullptr) process->sink = *output;
        process->sinkTaking = output != nullptr && output->take != nullptr;
    }
    if (process == nullptr || line == nullptr ||
        !OpenStandardHandles(handles, *process, output != nullptr, hideWindow)) {
        CloseStandardHandles(handles);
        if (process != nullptr) {
            FinishDraining(*process, 0);
            ReleaseRecord(process);
        }
        delete[] line;
        return nullptr;
    }
    if (throughCommandShell) {
        FormatText(line, size, "%s%s%s", {kShellPrefix, FormatArg(commandLine, size), "\""});
    } else {
        FormatText(line, size, "%s", {FormatArg(commandLine, size)});
    }
    const char *program = throughCommandShell ? shell : nullptr;

    // Created suspended and put in the job before it runs a single
    // instruction, so that whatever it starts is in the job too. A host that
    // runs in a job of its own: jobs nest from Windows 8; before, the encoder
    // must break away from the host's job, where that job allows it; else it
    // runs as a plain child, outside any job of ours.
    process->job = NewKillOnCloseJob();
    PROCESS_INFORMATION started;
    bool created = CreateSuspended(program, line, handles, hideWindow, 0, started);
    if (created && process->job != nullptr && !AssignProcessToJobObject(process->job, started.hProcess)) {
        Discard(started);
        created = CreateSuspended(program, line, handles, hideWindow, CREATE_BREAKAWAY_FROM_JOB, started);
        if (created && !AssignProcessToJobObject(process->job, started.hProcess)) {
            Discard(started);
            created = false;
        }
        if (!created) {
            CloseHandle(process->job);
            process->job = nullptr;
            created = CreateSuspended(program, line, handles, hideWindow, 0, started);
        }
    }
    if (!created) error = static_cast<std::int32_t>(GetLastError());
    // The program holds the pipes' write ends now; the module's copies go,
    // so that the pipes end with the program.
    CloseStandardHandles(handles);
    delete[] line;
    // Before the readers start: a sink's refusal ends the program by it.
    if (created) process->handle = started.hProcess;
    if (created && !StartDraining(*process)) {
        error = static_cast<std::int32_t>(GetLastError());
        Discard(started);
        created = false;
    }
    if (!created) {
        FinishDraining(*process, kDrainGraceMilliseconds);
        if (process->job != nullptr) CloseHandle(process->job);
        ReleaseRecord(process);
        return nullptr;
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    process->handle = started.hProcess;
    return process;
}

int WaitForAny(Process *const *processes, std::size_t count, Event *const *events, std::size_t eventCount,
               std::uint32_t milliseconds) {
    static_assert(kMostWaited <= MAXIMUM_WAIT_OBJECTS, "WaitForMultipleObjects takes this many");
    if (count + eventCount > kMostWaited || count + eventCount == 0) return -1;
    HANDLE handles[kMostWaited] = {};
    for (std::size_t i = 0; i < count; ++i) handles[i] = processes[i]->handle;
    for (std::size_t e = 0; e < eventCount; ++e) handles[count + e] = events[e]->handle;
    // The lowest index wins among several at once: ended processes first.
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count + eventCount), handles, FALSE, milliseconds);
    if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count + eventCount) {
        const DWORD index = result - WAIT_OBJECT_0;
        // What the program wrote is read before its end is reported.
        if (index < count) FinishDraining(*processes[index], kDrainGraceMilliseconds);
        return static_cast<int>(index);
    }
    // A wait that fails at once would have its caller spin: it waits a
    // little instead, as a time-out would.
    if (result == WAIT_FAILED) Sleep(10);
    return -1;
}

namespace {

// True once no process is left in the job.
bool JobEmpty(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting, nullptr)) {
        return true;
    }
    return accounting.ActiveProcesses == 0;
}

}  // namespace

void EndProcesses(Process *const *processes, std::size_t count) {
    // Every process is told to end before any is waited for.
    for (std::size_t i = 0; i < count; ++i) {
        Process *process = processes[i];
        if (process->job != nullptr) {
            // Every process in the job, also those the encoder started and
            // that outlive it.
            TerminateJobObject(process->job, 1);
        } else if (WaitForSingleObject(process->handle, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process->handle, 1);
        }
    }
    // Termination completes asynchronously; a process's files are closed
    // only once its handle is signalled, and those of the rest of its job
    // once the job is empty: a generous limit for all, since closing a job
    // ends its processes in any case.
    const DWORD started = GetTickCount();
    for (std::size_t i = 0; i < count; ++i) {
        Process *process = processes[i];
        WaitForSingleObject(process->handle, INFINITE);
        while (process->job != nullptr && !JobEmpty(process->job) && GetTickCount() - started < 1000) Sleep(10);
    }
}

void EndProcess(Process *process) { EndProcesses(&process, 1); }

bool ProcessExitCode(Process *process, std::uint32_t *code) {
    DWORD value = 0;
    // STILL_ACTIVE is also what a process that is not known to have ended
    // reports, so it never counts as an exit code.
    if (process->cutShort.load() || !GetExitCodeProcess(process->handle, &value) || value == STILL_ACTIVE) return false;
    *code = value;
    return true;
}

bool ProcessSignal(Process *, std::int32_t *) { return false; }

std::size_t ProcessMessages(const Process *process, char *out, std::size_t capacity) {
    return CopyMessages(process->messages, out, capacity);
}

void CloseProcess(Process *process) {
    if (process == nullptr) return;
    // A stopped program's readers end with its job, or are given up on.
    FinishDraining(*process, kDrainGraceMilliseconds);
    // Closing the job ends whatever the encoder left running.
    if (process->job != nullptr) CloseHandle(process->job);
    CloseHandle(process->handle);
    ReleaseRecord(process);
}

void AwaitLeavingReaders() {
    AcquireSRWLockExclusive(&leavingLock);
    Process *record = leavingReaders;
    leavingReaders = nullptr;
    ReleaseSRWLockExclusive(&leavingLock);
    while (record != nullptr) {
        // A reader still in a read is cancelled again and again: whatever
        // else holds its pipe open, its thread ends.
        while (!ReadersGone(*record, 100)) {
            for (const DrainedPipe &pipe : record->pipes) {
                if (pipe.thread != nullptr) CancelSynchronousIo(pipe.thread);
            }
        }
        Process *next = record->nextLeaving;
        DeleteRecord(record);
        record = next;
    }
}

}  // namespace platform
}  // namespace encbridge
