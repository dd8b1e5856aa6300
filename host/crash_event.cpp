#include "host/crash_event.h"

#include <psapi.h>

#include <cstdint>

#include "player/event_log.h"

namespace {

const int kAddressDigits = int(sizeof(void *) * 2);
wchar_t g_mapped_name[MAX_PATH + 1];  // one report is formatted, ever

void put_char(CrashText &text, char c) {
    if (text.used < sizeof text.bytes) text.bytes[text.used++] = c;
}

void put(CrashText &text, const char *s) {
    while (*s != 0) put_char(text, *s++);
}

void put_hex(CrashText &text, uint64_t value, int digits) {
    put(text, "0x");
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) put_char(text, "0123456789ABCDEF"[(value >> shift) & 15]);
}

void put_key(CrashText &text, const char *key) {
    put(text, ",\"");
    put(text, key);
    put(text, "\":");
}

// A JSON string of 16-bit characters: printable ASCII as it is, the rest escaped.
void put_quoted(CrashText &text, const wchar_t *s) {
    put_char(text, '"');
    for (; *s != 0; ++s) {
        const unsigned c = static_cast<uint16_t>(*s);
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            put_char(text, static_cast<char>(c));
        } else {
            put(text, "\\u");
            for (int shift = 12; shift >= 0; shift -= 4) put_char(text, "0123456789abcdef"[(c >> shift) & 15]);
        }
    }
    put_char(text, '"');
}

void put_string_field(CrashText &text, const char *key, const char *value) {
    put_key(text, key);
    put_char(text, '"');
    for (; *value != 0; ++value)
        if (*value != '"' && *value != '\\' && static_cast<unsigned char>(*value) >= 0x20) put_char(text, *value);
    put_char(text, '"');
}

void put_hex_field(CrashText &text, const char *key, uint64_t value, int digits) {
    put_key(text, key);
    put_char(text, '"');
    put_hex(text, value, digits);
    put_char(text, '"');
}

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

// The image that holds address, found without the loader's lock (the faulting thread may hold
// it): the mapping's base and the name of the file it maps; null when address is in no image.
HMODULE image_of(const void *address) {
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(address, &region, sizeof region) == 0 || region.Type != MEM_IMAGE) return nullptr;
    return static_cast<HMODULE>(region.AllocationBase);
}

void put_module(CrashText &text, HMODULE image) {
    put_key(text, "module");
    const DWORD length = image != nullptr ? GetMappedFileNameW(GetCurrentProcess(), image, g_mapped_name, MAX_PATH) : 0;
    if (length == 0 || length >= MAX_PATH) {
        put(text, "null");
        return;
    }
    g_mapped_name[length] = 0;
    const wchar_t *name = g_mapped_name;
    for (const wchar_t *c = g_mapped_name; *c != 0; ++c)
        if (*c == L'\\' || *c == L'/') name = c + 1;
    put_quoted(text, name);
}

struct Register {
    const char *name;
    uint64_t value;
    int digits;
};

void put_registers(CrashText &text, const CONTEXT *context) {
    const DWORD flags = context != nullptr ? context->ContextFlags : 0;
    const bool control = (flags & CONTEXT_CONTROL) == CONTEXT_CONTROL;
    const bool integer = (flags & CONTEXT_INTEGER) == CONTEXT_INTEGER;
    if (!control && !integer) return;
#if defined(_WIN64)
    const Register registers[] = {
        {"Rip", context->Rip, 16}, {"Rsp", context->Rsp, 16}, {"EFlags", context->EFlags, 8},
        {"Rbp", context->Rbp, 16}, {"Rax", context->Rax, 16}, {"Rbx", context->Rbx, 16},
        {"Rcx", context->Rcx, 16}, {"Rdx", context->Rdx, 16}, {"Rsi", context->Rsi, 16},
        {"Rdi", context->Rdi, 16}, {"R8", context->R8, 16}, {"R9", context->R9, 16},
        {"R10", context->R10, 16}, {"R11", context->R11, 16}, {"R12", context->R12, 16},
        {"R13", context->R13, 16}, {"R14", context->R14, 16}, {"R15", context->R15, 16},
    };
    const int control_count = 3;  // the rest come with CONTEXT_INTEGER (Rbp too, unlike on x86)
#else
    const Register registers[] = {
        {"Eip", context->Eip, 8}, {"Esp", context->Esp, 8}, {"Ebp", context->Ebp, 8},
        {"EFlags", context->EFlags, 8}, {"Eax", context->Eax, 8}, {"Ebx", context->Ebx, 8},
        {"Ecx", context->Ecx, 8}, {"Edx", context->Edx, 8}, {"Esi", context->Esi, 8},
        {"Edi", context->Edi, 8},
    };
    const int control_count = 4;  // Eip, Esp, Ebp and EFlags come with CONTEXT_CONTROL
#endif
    put_key(text, "registers");
    put_char(text, '{');
    bool first = true;
    for (int i = 0; i < int(sizeof registers / sizeof registers[0]); ++i) {
        if (!(i < control_count ? control : integer)) continue;
        if (!first) put_char(text, ',');
        first = false;
        put_char(text, '"');
        put(text, registers[i].name);
        put(text, "\":\"");
        put_hex(text, registers[i].value, registers[i].digits);
        put_char(text, '"');
    }
    put_char(text, '}');
}

}  // namespace

void crash_event_format(const EXCEPTION_POINTERS &fault, bool on_host_thread, HMODULE host_module,
                        CrashText *event_text, CrashText *note_text) {
    const EXCEPTION_RECORD *record = fault.ExceptionRecord;
    const uint64_t address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
    const HMODULE image = image_of(record->ExceptionAddress);
    CrashText &event = *event_text;
    event.used = 0;
    put(event, "{\"event\":\"crash\"");
    put_hex_field(event, "code", record->ExceptionCode, 8);
    put_string_field(event, "what", fault_name(record->ExceptionCode));
    put_hex_field(event, "address", address, kAddressDigits);
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        put_string_field(event, "access", access_name(record->ExceptionInformation[0]));
        put_hex_field(event, "target", record->ExceptionInformation[1], kAddressDigits);
    }
    put_module(event, image);
    put_key(event, "in_host");
    put(event, image != nullptr && image == host_module ? "true" : "false");
    put_key(event, "host_thread");
    put(event, on_host_thread ? "true" : "false");
    put_string_field(event, "phase", event_log_phase());
    put_registers(event, fault.ContextRecord);
    // The line ends even when the buffer is full, so the log stays one object per line.
    if (event.used > sizeof event.bytes - 2) event.used = sizeof event.bytes - 2;
    put(event, "}\n");

    CrashText &note = *note_text;
    note.used = 0;
    put(note, "halcyon_host: ");
    put(note, fault_name(record->ExceptionCode));
    put(note, " at ");
    put_hex(note, address, kAddressDigits);
    put(note, "\n");
}

