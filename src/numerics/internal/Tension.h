// The tension functions of the exponential spline, evaluated without cancellation or overflow.
//
// For a tension a >= 0 of one interval:
//   P(a) = a^2 sinh a / (sinh a - a),  Q(a) = (a cosh a - sinh a) / (sinh a - a),
//   phi(a, v) = (sinh(a v) - v sinh a) / (sinh a - a)   for 0 <= v <= 1.
// Small tensions use power series (the closed forms lose every digit as a -> 0; the limits P = 6, Q = 2,
// phi = v^3 - v are those of the cubic spline), large tensions use forms in e^-a that cannot overflow.
#pragma once

namespace vez::detail {

// Below this tension the series are used, above kTensionLarge the exponential forms.
inline constexpr long double kTensionSmall = 0.5L;
inline constexpr long double kTensionLarge = 40.0L;

// P and Q of the tension a (a >= 0; negative tensions are taken by their absolute value).
void TensionCoefficients(long double a, long double& P, long double& Q);
// phi(a, v).
long double TensionShape(long double a, long double v);

}  // namespace vez::detail
