#include "native/analysis_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "player/clock_setting.h"
#include "player/player_answers.h"

namespace {

AudioAnalysis g_analysis;  // written by open, feed and close, on the player's thread
bool g_open = false;
uint8_t g_record[kStreamRecordSize] = {};
long long g_record_row = -1;  // the row g_record holds

uint8_t sample_byte(int value) { return static_cast<uint8_t>(static_cast<int8_t>(value)); }

const uint8_t *record_of(long long row) {
    const long long last = static_cast<long long>(g_analysis.result.frames) - 1;
    row = std::min(row, last);
    if (row <= g_record_row || row < 0) return g_record;  // the analysis only goes forward
    g_analysis.next_frame = uint32_t(row);
    if (audio_analysis_next(&g_analysis, g_record)) g_record_row = row;
    return g_record;
}

void feed(const RunOptions &, VisModule *module, long long row) {
    const uint8_t *record = record_of(row);
    std::memcpy(module->spectrum_data, record, kStreamRowsSize);
    const uint8_t *wave = record + kStreamRowsSize;
    if (module->waveform_channels >= 2) {
        std::memcpy(module->waveform_data, wave, kStreamRowsSize);
    } else if (module->waveform_channels == 1) {  // the player's mix of the two
        for (int i = 0; i < kStreamBins; ++i)
            module->waveform_data[0][i] = sample_byte((int8_t(wave[i]) + int8_t(wave[kStreamBins + i])) / 2);
        std::memset(module->waveform_data[1], 0, kStreamBins);
    }
    virtual_clock_set_frame(row);
    const SpectrumStream &fields = g_analysis.fields;
    const double position = fields.start_ms + double(row) * 1000.0 * fields.rate_denominator / fields.rate_numerator;
    player_set_time(uint32_t(std::min<double>(std::llround(position), fields.length_ms)),
                    (fields.length_ms + 500) / 1000);
}

}  // namespace

bool analysis_rows_open(const AnalysisRequest &request, AnalysisResult *result) {
    g_analysis = AudioAnalysis();
    g_record_row = -1;
    std::memset(g_record, 0, sizeof g_record);
    g_open = audio_analysis_open(request, &g_analysis);
    *result = g_analysis.result;
    return g_open;
}

RowSource analysis_rows_source() {
    RowSource rows;
    rows.feed = feed;
    rows.rate_numerator = g_analysis.fields.rate_numerator;
    rows.rate_denominator = g_analysis.fields.rate_denominator;
    rows.count = g_analysis.result.frames;
    return rows;
}

void analysis_rows_close() {
    if (g_open) audio_analysis_close(&g_analysis);
    g_open = false;
}
