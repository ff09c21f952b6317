#!/usr/bin/python3
"""Writes streams/generators/niederr_table.cpp: the 32 direction numbers of each of the 318 built-in
NIEDERR dimensions, Niederreiter's base-2 sequence.

    /usr/bin/python3 tools/gen_niederr_table.py > streams/generators/niederr_table.cpp

Dimension j uses the j-th irreducible polynomial over GF(2) in increasing order of its value (bit k
the coefficient of x^k): x, x + 1, x^2 + x + 1, x^3 + x + 1, ... The 318th has degree 11. The
direction numbers follow Bratley, Fox and Niederreiter, "Implementation and tests of low-discrepancy
sequences", ACM TOMACS 2 (1992), section 3.3 with their published choices: for the j-th power of the
polynomial, K_j is the degree of its (j-1)-th power and every unrestricted value is 1. Word r of a
dimension holds the numbers of Gray-code bit r, digit j of the point at bit 31 - j.
"""

BITS = 32
DIMS = 318


def irreducible(count):
    found = []
    p = 2
    while len(found) < count:
        deg = p.bit_length() - 1
        if all(polymod(p, q) != 0 for q in found if 2 * (q.bit_length() - 1) <= deg):
            found.append(p)
        p += 1
    return found


def polymod(a, b):
    db = b.bit_length()
    while a.bit_length() >= db:
        a ^= b << (a.bit_length() - db)
    return a


def polymul(a, b):
    r = 0
    while b:
        if b & 1:
            r ^= a
        a <<= 1
        b >>= 1
    return r


def directions(poly):
    """The 32 words of one dimension."""
    e = poly.bit_length() - 1
    power = 1  # the polynomial to the j-th power, j = 0 on entry
    digits = [[0] * BITS for _ in range(BITS)]  # digits[r][j]
    u = 0
    v = []
    for j in range(BITS):
        if u == 0:
            k = power.bit_length() - 1  # degree before multiplying
            power = polymul(power, poly)
            m = power.bit_length() - 1
            v = [0] * k + [1] + [1] * (m - k - 1)
            while len(v) < BITS + e:
                # v[r + m] = sum of b_k v[r + k] over the coefficients below the leading one
                r = len(v) - m
                s = 0
                for t in range(m):
                    if (power >> t) & 1:
                        s ^= v[r + t]
                v.append(s)
        for r in range(BITS):
            digits[r][j] = v[r + u]
        u = (u + 1) % e
    return [sum(digits[r][j] << (BITS - 1 - j) for j in range(BITS)) for r in range(BITS)]


def main():
    polys = irreducible(DIMS)
    print("// NIEDERR's built-in direction numbers: 32 words for each of its 318 dimensions, made by")
    print("//   /usr/bin/python3 tools/gen_niederr_table.py > streams/generators/niederr_table.cpp")
    print('#include "streams/generators/niederr_table.h"')
    print()
    print("namespace zok::rng {")
    print()
    print("const uint32_t kNiederrPolynomials[kNiederrDims] = {")
    for i in range(0, DIMS, 12):
        print("    " + " ".join(f"{p}," for p in polys[i:i + 12]))
    print("};")
    print()
    print("const uint32_t kNiederrDirections[kNiederrDims][32] = {")
    for p in polys:
        words = directions(p)
        print("    {" + ", ".join(f"0x{w:08X}u" for w in words[:8]) + ",")
        for i in range(8, BITS, 8):
            end = "}," if i + 8 >= BITS else ","
            print("     " + ", ".join(f"0x{w:08X}u" for w in words[i:i + 8]) + end)
    print("};")
    print()
    print("}  // namespace zok::rng")


if __name__ == "__main__":
    main()
