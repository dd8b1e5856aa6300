#include "host/crash_report.h"

#include <cstdint>

#include "host/crash_event.h"
#include "host/import_patch.h"
#include "player/event_log.h"

namespace {

// How long a faulting thread waits for the report before it ends the process itself.
const DWORD kReportWaitMs = 10000;
// How often the reporter looks whether a thread is past its stack overflow.
const DWORD kOverflowPollMs = 10;

// Set up by crash_report_install, before any plug-in code runs.
HANDLE g_log = INVALID_HANDLE_VALUE;  // our own handle on the event log's file
HANDLE g_stderr = INVALID_HANDLE_VALUE;
HANDLE g_wake = nullptr;            // set by the thread whose fault nobody handled
HANDLE g_overflow_seen = nullptr;   // set by a thread that met a stack overflow
HANDLE g_reporter = nullptr;
DWORD g_reporter_id = 0;
DWORD g_host_thread = 0;
HANDLE g_host_thread_handle = nullptr;
HMODULE g_host_module = nullptr;
DWORD g_chaining = TLS_OUT_OF_INDEXES;  // per thread: the fault whose plug-in filter runs now

// The filter the plug-in set, called before the host decides: written by its
// SetUnhandledExceptionFilter calls (routed here) and by crash_report_reclaim.
void *volatile g_plugin_filter = nullptr;

// Handed over by the first thread whose fault nobody handled.
volatile LONG g_claimed = 0;
EXCEPTION_POINTERS *volatile g_fault = nullptr;
volatile DWORD g_fault_thread = 0;

// One stack overflow at a time, copied as it was raised (its own copy is on the dying stack),
// claimed by the overflowing thread and given up by the reporter.
volatile LONG g_overflow_claimed = 0;
volatile DWORD g_overflow_thread = 0;
volatile LONG g_overflow_thread_exited = 0;  // the thread ended its own way (its TLS callback ran)
EXCEPTION_RECORD g_overflow_record;
CONTEXT g_overflow_context;
EXCEPTION_POINTERS g_overflow = {&g_overflow_record, &g_overflow_context};

// The reporter's working memory.
CrashText g_event, g_note;

void write_all(HANDLE file, const CrashText &text) {
    DWORD written = 0;
    for (size_t at = 0; file != INVALID_HANDLE_VALUE && file != nullptr && at < text.used; at += written)
        if (!WriteFile(file, text.bytes + at, static_cast<DWORD>(text.used - at), &written, nullptr) || written == 0)
            return;
}

void report(const EXCEPTION_POINTERS *fault, DWORD thread) {
    // The host's thread goes on rendering while another one's fault is reported: stopped, it logs
    // no frame after the crash.
    if (thread != g_host_thread && g_host_thread_handle != nullptr) SuspendThread(g_host_thread_handle);
    crash_event_format(*fault, thread == g_host_thread, g_host_module, &g_event, &g_note);
    write_all(g_log, g_event);
    write_all(g_stderr, g_note);
    TerminateProcess(GetCurrentProcess(), fault->ExceptionRecord->ExceptionCode);
}

uintptr_t stack_pointer(const CONTEXT &context) {
#if defined(_WIN64)
    return context.Rsp;
#else
    return context.Esp;
#endif
}

// While it searches for a handler, the thread runs below the stack pointer it overflowed at; a
// handler that took the overflow resumes it at or above.
bool running_above_overflow(HANDLE thread) {
    if (SuspendThread(thread) == DWORD(-1)) return false;
    CONTEXT now = {};
    now.ContextFlags = CONTEXT_CONTROL;
    const bool got = GetThreadContext(thread, &now) != 0;
    ResumeThread(thread);
    return got && stack_pointer(now) >= stack_pointer(g_overflow_context);
}

void forget_overflow(HANDLE *thread) {
    if (*thread != nullptr) CloseHandle(*thread);
    *thread = nullptr;
    g_overflow_thread_exited = 0;
    InterlockedExchange(&g_overflow_claimed, 0);
}

DWORD WINAPI watch_faults(void *) {
    HANDLE overflowing = nullptr;  // the thread of the kept overflow, until it is past it
    for (;;) {
        HANDLE waits[3] = {g_wake, g_overflow_seen, overflowing};
        const bool watching = overflowing != nullptr;
        const DWORD woke =
            WaitForMultipleObjects(watching ? 3 : 2, waits, FALSE, watching ? kOverflowPollMs : INFINITE);
        if (woke == WAIT_OBJECT_0) {
            report(g_fault, g_fault_thread);
        } else if (woke == WAIT_OBJECT_0 + 1) {
            const DWORD access = SYNCHRONIZE | THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT;
            overflowing = OpenThread(access, FALSE, g_overflow_thread);
            // Gone already: it died in its overflow unless it ended its own way.
            if (overflowing == nullptr && !g_overflow_thread_exited) report(&g_overflow, g_overflow_thread);
            if (overflowing == nullptr) forget_overflow(&overflowing);
        } else if (woke == WAIT_OBJECT_0 + 2) {
            if (!g_overflow_thread_exited) report(&g_overflow, g_overflow_thread);
            forget_overflow(&overflowing);
        } else if (watching && running_above_overflow(overflowing)) {
            forget_overflow(&overflowing);
        }
    }
}

// Runs on the faulting thread, perhaps on the last page of its stack: it hands over and waits.
LONG hand_over(EXCEPTION_POINTERS *pointers) {
    if (InterlockedCompareExchange(&g_claimed, 1, 0) == 0) {
        g_fault = pointers;
        g_fault_thread = GetCurrentThreadId();
        SetEvent(g_wake);
    }
    // Another thread's fault is being reported, or this one's: the reporter ends the process.
    WaitForSingleObject(g_reporter, kReportWaitMs);
    TerminateProcess(GetCurrentProcess(), pointers->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// A filter of a DLL since unloaded is not called.
bool code_is_there(const void *address) {
    MEMORY_BASIC_INFORMATION region = {};
    const DWORD executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return VirtualQuery(address, &region, sizeof region) != 0 && region.State == MEM_COMMIT &&
           (region.Protect & executable) != 0;
}

// The top-level filter: nothing on the thread handled the fault. The plug-in's own filter sees it
// first, as the top-level one it set; what it repairs goes on. When that filter calls back here
// (chaining to the one it replaced) or faults itself, the first fault is the crash.
LONG WINAPI on_unhandled_fault(EXCEPTION_POINTERS *pointers) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (GetCurrentThreadId() == g_reporter_id) TerminateProcess(GetCurrentProcess(), code);
    if (g_chaining == TLS_OUT_OF_INDEXES) return hand_over(pointers);
    auto *first = static_cast<EXCEPTION_POINTERS *>(TlsGetValue(g_chaining));
    if (first != nullptr) return hand_over(first);
    auto plugin = reinterpret_cast<LPTOP_LEVEL_EXCEPTION_FILTER>(g_plugin_filter);
    if (plugin != nullptr && code_is_there(reinterpret_cast<const void *>(plugin))) {
        TlsSetValue(g_chaining, pointers);
        const LONG verdict = plugin(pointers);
        TlsSetValue(g_chaining, nullptr);
        if (verdict == EXCEPTION_CONTINUE_EXECUTION) return verdict;
    }
    return hand_over(pointers);
}

// First in line, but deciding nothing: the plug-in's handlers may still take the overflow.
LONG WINAPI note_stack_overflow(EXCEPTION_POINTERS *pointers) {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
    const DWORD thread = GetCurrentThreadId();
    if (thread != g_reporter_id && InterlockedCompareExchange(&g_overflow_claimed, 1, 0) == 0) {
        g_overflow_record = *pointers->ExceptionRecord;
        g_overflow_record.ExceptionRecord = nullptr;
        g_overflow_context = *pointers->ContextRecord;
        g_overflow_thread = thread;
        SetEvent(g_overflow_seen);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// The plug-in's SetUnhandledExceptionFilter: what it replaces is the filter it set before.
LPTOP_LEVEL_EXCEPTION_FILTER WINAPI set_plugin_filter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    if (filter == on_unhandled_fault) filter = nullptr;  // the host's, handed back: none of the plug-in's
    return reinterpret_cast<LPTOP_LEVEL_EXCEPTION_FILTER>(
        InterlockedExchangePointer(&g_plugin_filter, reinterpret_cast<void *>(filter)));
}

// A thread's own end (returning, ExitThread) calls the image's TLS callbacks; Wine's ending of a
// thread that died in its overflow does not.
void NTAPI on_thread_event(void *, DWORD reason, void *) {
    if (reason == DLL_THREAD_DETACH && g_overflow_claimed != 0 && GetCurrentThreadId() == g_overflow_thread)
        g_overflow_thread_exited = 1;
}

}  // namespace

// MinGW's TLS support calls every callback between .CRT$XLA and .CRT$XLZ.
extern "C" __attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK halcyon_crash_thread_event =
    on_thread_event;

void crash_report_install() {
    g_host_thread = GetCurrentThreadId();
    g_host_module = GetModuleHandleA(nullptr);
    // A handle of our own: still valid if the log is closed first, and the same file position.
    HANDLE process = GetCurrentProcess();
    HANDLE log = static_cast<HANDLE>(event_log_handle());
    if (log == INVALID_HANDLE_VALUE || !DuplicateHandle(process, log, process, &g_log, 0, FALSE, DUPLICATE_SAME_ACCESS))
        g_log = INVALID_HANDLE_VALUE;
    g_stderr = GetStdHandle(STD_ERROR_HANDLE);
    if (!DuplicateHandle(process, GetCurrentThread(), process, &g_host_thread_handle, THREAD_SUSPEND_RESUME, FALSE, 0))
        g_host_thread_handle = nullptr;
    g_chaining = TlsAlloc();
    g_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_overflow_seen = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_reporter = CreateThread(nullptr, 64 * 1024, watch_faults, nullptr, 0, &g_reporter_id);
    SetUnhandledExceptionFilter(on_unhandled_fault);
    AddVectoredExceptionHandler(1, note_stack_overflow);
}

void crash_report_watch(HMODULE library) {
    static const char *const kErrorHandling[] = {
        "kernel32.dll", "kernelbase.dll", "api-ms-win-core-errorhandling-l1-1-0.dll",
        "api-ms-win-core-errorhandling-l1-1-1.dll", "api-ms-win-core-errorhandling-l1-1-2.dll",
        "api-ms-win-core-errorhandling-l1-1-3.dll", nullptr};
    static const ImportTarget kFilter[] = {{"SetUnhandledExceptionFilter", kErrorHandling}};
    import_patch(library, kFilter, 1, reinterpret_cast<void *>(&set_plugin_filter));
    crash_report_reclaim();  // one its DllMain set
}

void crash_report_reclaim() {
    LPTOP_LEVEL_EXCEPTION_FILTER found = SetUnhandledExceptionFilter(on_unhandled_fault);
    if (found != nullptr && found != on_unhandled_fault)
        InterlockedExchangePointer(&g_plugin_filter, reinterpret_cast<void *>(found));
}
