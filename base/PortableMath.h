// PortableMath.h - sine, cosine and power that give the same bits on every
// build, compiler, C library and architecture.
//
// The C library's sin, cos and pow are not the same function everywhere:
// two runtimes can return results one unit in the last place apart, and for
// a cosine near zero that decides the sign and size of a table entry. The
// core therefore computes its few transcendental values here, from IEEE-754
// double +, -, *, / alone (no library transcendental, no long double, no
// fused multiply-add). Every operation is correctly rounded by IEEE-754, so
// the results are fixed by the code alone, provided the compiler neither
// contracts a * b + c into a fused multiply-add nor reassociates: the build
// compiles with -ffp-contract=off and without -ffast-math (GCC and Clang at
// -O0 to -O3, MinGW-w64 and x86-64 native give the same bits).
//
// Accuracy: each result is computed with about 75 or more correct bits and
// rounded once to double, so it is faithful (error below 1 unit in the last
// place) and nearly always the correctly rounded value. Constants and tables
// are built on first use from exact integers with the same arithmetic.
//
// Callers: the spectral height filter (PortablePow, land/HeightSynthesis.cpp)
// and the flight view's angle and ray-step tables (PortableSin/PortableCos,
// view/FlightView.cpp).
#pragma once

// Sine and cosine of x radians.
// Domain: |x| < 2^20 x pi/2 (about 1.6e6) gives the accuracy stated above,
// including results near zero (cos near pi/2, sin near pi), which keep a
// small relative error and their correct sign. Larger finite |x| are reduced
// the same way with a growing absolute error (about |x| x 2^-53); |x| of
// 2^52 and more, infinities and NaN give NaN.
double PortableSin(double x);
double PortableCos(double x);

// x raised to the power y.
// Domain: x > 0 (finite or +infinity) and finite y; the result keeps the
// stated accuracy while it is a normal double (results in the subnormal range
// may be one unit in their last place off). Special values: y == 0 or x == 1
// gives 1 (even with a NaN as the other argument); x == 0 gives +0 for y > 0
// and +infinity for y < 0; x == +infinity gives +infinity for y > 0 and +0
// for y < 0; y = +-infinity gives the limits +infinity or +0; overflow gives
// +infinity and underflow +0. Negative x (also with an integer y) and other
// NaN arguments give NaN: the core never needs them.
double PortablePow(double x, double y);
