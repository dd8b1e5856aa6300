#include "native/progress_bar.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "native/render_checks.h"
#include "player/player_platform.h"

void progress_start(ProgressBar *bar, long long total) {
    *bar = ProgressBar();
    bar->total = total > 0 ? total : 1;
    bar->shown = isatty(STDERR_FILENO) == 1;
    bar->started = bar->last = seconds_now();
}

void progress_update(ProgressBar *bar, long long done) {
    const double now = seconds_now();
    if (!bar->shown || (now - bar->last < 0.2 && done < bar->total)) return;
    bar->last = now;
    const double elapsed = now - bar->started;
    const double rate = elapsed > 0 ? done / elapsed : 0;
    const double left = rate > 0 ? (bar->total - done) / rate : 0;
    const int filled = int(30 * done / bar->total);
    std::string line = "\r  [" + std::string(size_t(filled), '#') + std::string(size_t(30 - filled), '.') + "] ";
    char text[160];
    // The time left once a few frames measured this machine's speed.
    if (done >= 3 && elapsed >= 0.5)
        std::snprintf(text, sizeof text, "%lld/%lld frames  %.1f fps  %s left ", done, bar->total, rate,
                      duration_text(left).c_str());
    else
        std::snprintf(text, sizeof text, "%lld/%lld frames ", done, bar->total);
    line += text;
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    bar->drawn = true;
}

void progress_end(ProgressBar *bar) {
    if (!bar->drawn) return;
    std::fputs("\n", stderr);
    std::fflush(stderr);
    bar->drawn = false;
}
