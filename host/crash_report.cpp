#include "host/crash_report.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "host/event_log.h"

namespace {

const char *fault_name(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION: return "page fault";
        case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
        case EXCEPTION_PRIV_INSTRUCTION: return "privileged instruction";
        case EXCEPTION_INT_DIVIDE_BY_ZERO: return "division by zero";
        case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
        case EXCEPTION_DATATYPE_MISALIGNMENT: return "misaligned access";
        case EXCEPTION_IN_PAGE_ERROR: return "page fault in a mapped file";
        default: return "unhandled exception";
    }
}

const char *access_name(ULONG_PTR kind) {
    switch (kind) {
        case 0: return "read";
        case 1: return "write";
        case 8: return "execute";
        default: return "access";
    }
}

void put_hex(JsonLine &line, const char *key, ULONG_PTR value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    json_string(line, key, text);
}

LONG WINAPI report_crash(EXCEPTION_POINTERS *pointers) {
    const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
    const ULONG_PTR address = reinterpret_cast<ULONG_PTR>(record->ExceptionAddress);
    JsonLine line = json_begin("crash");
    put_hex(line, "code", record->ExceptionCode);
    json_string(line, "what", fault_name(record->ExceptionCode));
    put_hex(line, "address", address);
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        json_string(line, "access", access_name(record->ExceptionInformation[0]));
        put_hex(line, "target", record->ExceptionInformation[1]);
    }
    HMODULE module = nullptr;
    char path[MAX_PATH] = "";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(address), &module) &&
        GetModuleFileNameA(module, path, MAX_PATH) > 0) {
        const char *slash = std::strrchr(path, '\\');
        json_string(line, "module", slash ? slash + 1 : path);
    } else {
        json_null(line, "module");
    }
    json_bool(line, "in_host", module != nullptr && module == GetModuleHandleA(nullptr));
    json_string(line, "phase", event_log_phase());
    event_write(line);
    event_log_close();
    std::fprintf(stderr, "halcyon_host: %s at 0x%08lX\n", fault_name(record->ExceptionCode),
                 static_cast<unsigned long>(address));
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void crash_report_install() { SetUnhandledExceptionFilter(report_crash); }
