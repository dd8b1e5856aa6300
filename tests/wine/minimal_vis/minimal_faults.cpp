// minimal_vis.dll's bugs, and the ways other people's plug-ins take their own faults: a top-level
// filter of their own, and a vectored handler, each resuming from a point saved before the fault.
#include "minimal_vis.h"

// A recursion whose end never comes: each call keeps its caller's frame in use.
static volatile int g_never = 1000;
static int __attribute__((noinline)) recurse(volatile char *caller) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(caller[0] + 1);
    if (frame[0] == g_never) return 0;  // a char is never 1000
    return recurse(frame) + frame[1];
}

static void __attribute__((noinline)) fault() {
    volatile char start[1] = {0};
    if (g_config.crash_overflow) recurse(start);  // never returns
    volatile int *nowhere = nullptr;
    *nowhere = 1;
}

// Where a fault taken by the plug-in resumes: just after the context was saved, with the fault's
// code set. One fault is taken at a time.
static CONTEXT g_checkpoint;
static volatile LONG g_guarding = 0;
static volatile DWORD g_recovered_code = 0;

static bool resume_at_checkpoint(EXCEPTION_POINTERS *pointers) {
    if (InterlockedExchange(&g_guarding, 0) == 0) return false;
    g_recovered_code = pointers->ExceptionRecord->ExceptionCode;
    *pointers->ContextRecord = g_checkpoint;
    return true;
}

// Runs on what the overflow left of the stack: no logging here.
static LONG WINAPI take_overflow(EXCEPTION_POINTERS *pointers) {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
    return resume_at_checkpoint(pointers) ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH;
}

void __attribute__((noinline)) crash() {
    if (!g_config.recover) {
        fault();
        return;
    }
    // Last in line, behind any handler the host added before.
    void *handler = g_config.crash_overflow ? AddVectoredExceptionHandler(0, take_overflow) : nullptr;
    g_recovered_code = 0;
    RtlCaptureContext(&g_checkpoint);
    if (g_recovered_code == 0) {
        g_guarding = 1;
        fault();
    }
    if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
}

// Logged by the host's thread afterwards, so that a thread of the plug-in's own can end the moment
// it is past its fault.
void log_recovery() {
    static DWORD logged = 0;
    if (g_recovered_code == 0 || logged != 0) return;
    logged = g_recovered_code;
    log_line("recovered code=0x%08lX", static_cast<unsigned long>(logged));
}

typedef LPTOP_LEVEL_EXCEPTION_FILTER(WINAPI *SetFilterFunction)(LPTOP_LEVEL_EXCEPTION_FILTER);
static LPTOP_LEVEL_EXCEPTION_FILTER g_replaced_filter = nullptr;

static LONG WINAPI own_filter(EXCEPTION_POINTERS *pointers) {
    log_line("own_filter code=0x%08lX", static_cast<unsigned long>(pointers->ExceptionRecord->ExceptionCode));
    if (g_config.recover && resume_at_checkpoint(pointers)) return EXCEPTION_CONTINUE_EXECUTION;
    if (!g_config.filter_chains) return EXCEPTION_EXECUTE_HANDLER;
    return g_replaced_filter != nullptr ? g_replaced_filter(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

void set_own_filter(bool in_dll_main) {
    const std::string &how = g_config.own_filter;
    if (how.empty() || (how == "dllmain") != in_dll_main) return;
    SetFilterFunction set = SetUnhandledExceptionFilter;
    if (how == "lookup") {
        FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetUnhandledExceptionFilter");
        set = reinterpret_cast<SetFilterFunction>(reinterpret_cast<void (*)()>(found));
    }
    LPTOP_LEVEL_EXCEPTION_FILTER replaced = set(own_filter);
    if (replaced != own_filter) g_replaced_filter = replaced;  // a later start sets it again
}
