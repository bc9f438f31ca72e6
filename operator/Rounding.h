// Rounding of operator readings and percentages: to the nearest integer, halves to the even neighbour.
#pragma once

#include <cmath>

// The default floating-point rounding mode rounds halves to even; nearbyint honours it.
inline double RoundHalfEven(double value) { return std::nearbyint(value); }
