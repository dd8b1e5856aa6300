#include "audio/demo_music.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr double kBeat = 0.5;  // seconds
constexpr double kBar = 4 * kBeat;
constexpr double kTwoPi = 2 * M_PI;

// Chord roots and tones (Hz) of the four bars that repeat: Am, F, C, G.
constexpr double kRoots[4] = {110.0, 87.31, 130.81, 98.0};
constexpr double kTones[4][3] = {
    {220.0, 261.63, 329.63}, {174.61, 220.0, 261.63}, {261.63, 329.63, 392.0}, {196.0, 246.94, 293.66}};

enum Section { kIntro, kGroove, kBreak, kDrop };

Section section_at(int bar) {
    if (bar < 2) return kIntro;
    if (bar < 6) return kGroove;
    if (bar < 7) return kBreak;
    return kDrop;
}

// A repeatable noise source: one value per sample index.
float noise(uint32_t n) {
    n = (n << 13) ^ n;
    n = n * (n * n * 15731u + 789221u) + 1376312589u;
    return 1.0f - float(n & 0x7fffffff) / 1073741824.0f;
}

double saw(double phase) { return 2.0 * (phase - std::floor(phase + 0.5)); }

struct Stereo {
    double left = 0, right = 0;
    void add(double value, double pan) {  // pan -1 (left) .. 1 (right), equal power
        const double angle = (pan + 1) * M_PI / 4;
        left += value * std::cos(angle);
        right += value * std::sin(angle);
    }
};

double kick(double t) {
    if (t < 0 || t > 0.4) return 0;
    const double phase = kTwoPi * (45 * t + (150 - 45) * 0.04 * (1 - std::exp(-t / 0.04)));
    return std::sin(phase) * std::exp(-t / 0.12);
}

double snare(double t, uint32_t sample) {
    if (t < 0 || t > 0.3) return 0;
    return (0.7 * noise(sample) + 0.4 * std::sin(kTwoPi * 190 * t)) * std::exp(-t / 0.07);
}

double hat(double t, uint32_t sample) {
    if (t < 0 || t > 0.1) return 0;
    return (noise(sample) - noise(sample + 1)) * 0.5 * std::exp(-t / 0.02);
}

}  // namespace

std::vector<float> demo_music_render(int sample_rate, double seconds) {
    const size_t count = size_t(std::max(0.0, seconds) * sample_rate);
    std::vector<float> out(count * 2);
    double bass_low = 0, pad_low[2] = {0, 0};
    for (size_t i = 0; i < count; ++i) {
        const double t = double(i) / sample_rate;
        const uint32_t sample = static_cast<uint32_t>(i);
        const int bar = int(t / kBar);
        const int chord = bar % 4;
        const Section section = section_at(bar);
        const double in_bar = t - bar * kBar;
        const double in_beat = std::fmod(in_bar, kBeat);
        const double in_eighth = std::fmod(in_bar, kBeat / 2);
        const double in_sixteenth = std::fmod(in_bar, kBeat / 4);
        const int beat = int(in_bar / kBeat);
        Stereo mix;

        // Pad: three detuned saws per channel, smoothed, swelling in each bar.
        double pad_level = section == kIntro ? 0.10 : section == kBreak ? 0.14 : 0.07;
        double swell = std::min(1.0, in_bar / 0.6);
        for (int side = 0; side < 2; ++side) {
            double raw = 0;
            for (double tone : kTones[chord]) raw += saw(t * tone * (side ? 1.004 : 0.996));
            pad_low[side] += 0.05 * (raw / 3 - pad_low[side]);
        }
        mix.left += pad_level * swell * pad_low[0];
        mix.right += pad_level * swell * pad_low[1];

        // Hi-hats on the eighths, on the left; sixteenths in the drop.
        const double hat_step = section == kDrop ? kBeat / 4 : kBeat / 2;
        mix.add((section == kIntro ? 0.25 : 0.35) * hat(std::fmod(in_bar, hat_step), sample), -0.7);

        if (section == kGroove || section == kDrop) {
            mix.add(0.9 * kick(in_beat), 0);
            if (beat == 1 || beat == 3) mix.add(0.45 * snare(in_beat, sample), 0.1);
            // Bass: the root in eighths, an octave up on the off-beats.
            const double octave = std::fmod(in_bar, kBeat) >= kBeat / 2 ? 2 : 1;
            bass_low += 0.08 * (saw(t * kRoots[chord] * octave) - bass_low);
            mix.add(0.35 * bass_low * std::exp(-in_eighth / 0.18), 0);
        }
        if (section == kBreak || section == kDrop) {
            // Arpeggio in sixteenths, two octaves up: on the right in the break, sweeping in the drop.
            const int step = int(in_bar / (kBeat / 4));
            const double tone = kTones[chord][step % 3] * 2;
            const double pulse = std::sin(kTwoPi * tone * t) > 0.3 ? 1.0 : -1.0;
            const double pan = section == kBreak ? 0.9 : std::sin(kTwoPi * t / (2 * kBar));
            const double level = section == kBreak ? 0.12 * std::min(1.0, in_bar / kBar + 0.3) : 0.14;
            mix.add(level * pulse * std::exp(-in_sixteenth / 0.08), pan);
        }
        if (section == kBreak) mix.add(0.15 * noise(sample) * in_bar / kBar * in_bar / kBar, 0.5);

        // A short fade at both ends.
        const double fade = std::min({1.0, t / 0.05, (seconds - t) / 0.8});
        out[2 * i] = static_cast<float>(std::tanh(mix.left * 1.2) * fade);
        out[2 * i + 1] = static_cast<float>(std::tanh(mix.right * 1.2) * fade);
    }
    return out;
}
