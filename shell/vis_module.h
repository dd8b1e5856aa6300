// The host's visualization plug-in records (header version 0x101), byte for byte as the host lays
// them out in a 32-bit process. Fields the plug-in never touches keep the host's names for clarity.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define HALCYON_CDECL __cdecl
#else
#define HALCYON_CDECL
#endif

constexpr int32_t kVisHeaderVersion = 0x101;
constexpr int kSpectrumBins = 576;
constexpr uint32_t kHostMessage = 1024;          // WM_USER
constexpr intptr_t kHostVersionProbe = 505;      // lParam of the version query
constexpr intptr_t kHostRegisterWindow = 611;    // lParam of the render window (de)registration

struct VisModule {
    const char *description;
    void *parent_window;     // HWND
    void *library_instance;  // HINSTANCE
    int32_t sample_rate;
    int32_t channel_count;
    int32_t latency_ms;
    int32_t delay_ms;
    int32_t spectrum_channels;
    int32_t waveform_channels;
    uint8_t spectrum_data[2][kSpectrumBins];
    uint8_t waveform_data[2][kSpectrumBins];
    void(HALCYON_CDECL *config)(VisModule *module);
    int(HALCYON_CDECL *init)(VisModule *module);
    int(HALCYON_CDECL *render)(VisModule *module);
    void(HALCYON_CDECL *quit)(VisModule *module);
    void *user_data;
};

struct VisHeader {
    int32_t version;
    const char *description;
    VisModule *(HALCYON_CDECL *get_module)(int index);
};

// The byte offsets are the host's: a 32-bit player's for the product, and a 64-bit host's for the
// x86_64 build (and the native one), where every pointer is 8 bytes wide and aligned.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(VisModule, description) == 0, "VisModule layout");
static_assert(offsetof(VisModule, parent_window) == 4, "VisModule layout");
static_assert(offsetof(VisModule, library_instance) == 8, "VisModule layout");
static_assert(offsetof(VisModule, sample_rate) == 12, "VisModule layout");
static_assert(offsetof(VisModule, channel_count) == 16, "VisModule layout");
static_assert(offsetof(VisModule, latency_ms) == 20, "VisModule layout");
static_assert(offsetof(VisModule, delay_ms) == 24, "VisModule layout");
static_assert(offsetof(VisModule, spectrum_channels) == 28, "VisModule layout");
static_assert(offsetof(VisModule, waveform_channels) == 32, "VisModule layout");
static_assert(offsetof(VisModule, spectrum_data) == 36, "VisModule layout");
static_assert(offsetof(VisModule, waveform_data) == 1188, "VisModule layout");
static_assert(offsetof(VisModule, config) == 2340, "VisModule layout");
static_assert(offsetof(VisModule, init) == 2344, "VisModule layout");
static_assert(offsetof(VisModule, render) == 2348, "VisModule layout");
static_assert(offsetof(VisModule, quit) == 2352, "VisModule layout");
static_assert(offsetof(VisModule, user_data) == 2356, "VisModule layout");
static_assert(sizeof(VisModule) == 2360, "VisModule layout");
static_assert(offsetof(VisHeader, version) == 0, "VisHeader layout");
static_assert(offsetof(VisHeader, description) == 4, "VisHeader layout");
static_assert(offsetof(VisHeader, get_module) == 8, "VisHeader layout");
static_assert(sizeof(VisHeader) == 12, "VisHeader layout");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(offsetof(VisModule, parent_window) == 8, "VisModule layout");
static_assert(offsetof(VisModule, library_instance) == 16, "VisModule layout");
static_assert(offsetof(VisModule, sample_rate) == 24, "VisModule layout");
static_assert(offsetof(VisModule, waveform_channels) == 44, "VisModule layout");
static_assert(offsetof(VisModule, spectrum_data) == 48, "VisModule layout");
static_assert(offsetof(VisModule, waveform_data) == 1200, "VisModule layout");
static_assert(offsetof(VisModule, config) == 2352, "VisModule layout");
static_assert(offsetof(VisModule, quit) == 2376, "VisModule layout");
static_assert(offsetof(VisModule, user_data) == 2384, "VisModule layout");
static_assert(sizeof(VisModule) == 2392, "VisModule layout");
static_assert(offsetof(VisHeader, description) == 8, "VisHeader layout");
static_assert(offsetof(VisHeader, get_module) == 16, "VisHeader layout");
static_assert(sizeof(VisHeader) == 24, "VisHeader layout");
#endif
