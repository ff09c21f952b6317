// What the robust estimators share inside the library: the chi-square helpers for real degrees of
// freedom and the translated-biweight constants of the robust covariance.
#pragma once

#include <cstdint>

namespace zok::ss {

// The chi-square distribution function and quantile (k real), as the exported helpers.
double chi2_cdf(double k, double x);
double chi2_quantile(double k, double q);

// Translated biweight: weight 1 below m, (1 - ((d - m)/c)^2)^2 up to m + c, 0 beyond; c0 the
// truncation point of the plain truncated quadratic with the same breakdown point.
struct Biweight {
  double c0, m, c;
};
Biweight biweight_constants(int64_t p, double beta, double alpha);

}  // namespace zok::ss
