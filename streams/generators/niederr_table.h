// NIEDERR's built-in tables (niederr_table.cpp, made by tools/gen_niederr_table.py) and the
// construction of direction numbers from any polynomial over GF(2).
#pragma once

#include <cstdint>

namespace zok::rng {

inline constexpr int32_t kNiederrDims = 318;
// The irreducible polynomials of the dimensions, bit k the coefficient of x^k.
extern const uint32_t kNiederrPolynomials[kNiederrDims];
// Word r of a dimension: the direction numbers of Gray-code bit r.
extern const uint32_t kNiederrDirections[kNiederrDims][32];

// The 32 words of polynomial poly (degree 1 to 31) as the table has them.
void niederr_directions(uint32_t poly, uint32_t* v);

}  // namespace zok::rng
