#include "player/clock_setting.h"

#include <cmath>
#include <cstdlib>

bool virtual_clock_parse_step(const char *text, double *step_ms) {
    char *end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text) return false;
    if (*end == '/') {
        const char *denominator = end + 1;
        double divisor = std::strtod(denominator, &end);
        if (end == denominator || !(divisor > 0)) return false;
        value /= divisor;
    }
    if (*end != 0 || !(value > 0) || value > 600000) return false;
    *step_ms = value;
    return true;
}

uint32_t virtual_clock_tick(const VirtualClockSetting &setting, long long frame) {
    const double offset = std::floor(double(frame) * setting.step_ms + 0.5);
    return setting.start + static_cast<uint32_t>(static_cast<uint64_t>(std::fmod(offset, 4294967296.0)));
}

static VirtualClockSetting g_setting;
static volatile uint32_t g_now = kVirtualClockDefaultStart;

void virtual_clock_use(const VirtualClockSetting &setting) { g_setting = setting; }

void virtual_clock_set_frame(long long frame) { g_now = virtual_clock_tick(g_setting, frame); }

uint32_t virtual_clock_now() { return g_now; }
