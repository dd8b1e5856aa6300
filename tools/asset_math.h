// Arithmetic for the generated assets that gives the same bits on every machine and compiler:
// only +, -, *, / and sqrt (which IEEE rounds exactly) and floor, never the C library's sin or
// pow, whose last bits differ between library versions.
#pragma once

#include <cstdint>

struct Point3 {
    double x, y, z;
};

constexpr double kPi = 3.14159265358979323846;

double steady_sin(double x);
double steady_cos(double x);

inline double clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }
inline double mix(double a, double b, double f) { return a + (b - a) * f; }
// 0 below edge0, 1 above edge1, a smooth cubic between.
double smoothstep(double edge0, double edge1, double v);

// Gradient noise over space, about -1..1, zero at every lattice point; seed picks the pattern.
double gradient_noise(const Point3 &p, uint32_t seed);
// Octaves of gradient noise, each twice the frequency and half the amplitude of the one before.
double fractal_noise(const Point3 &p, int octaves, uint32_t seed);
// Sharp crests where the noise crosses zero, each octave weighted by the one before: mountain ridges.
double ridge_noise(const Point3 &p, int octaves, uint32_t seed);

// A byte from a value in 0..1, rounded to nearest.
uint8_t unit_to_byte(double v);
