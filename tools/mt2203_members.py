#!/usr/bin/env python3
"""Generates the MT2203 member table (streams/generators/mt2203_members.cpp): per member the twist
constant a and the tempering masks b, c of a 69-word register (upper 27 bits of the oldest word
and 68 further words: 2203 bits of state).

Usage: python3 tools/mt2203_members.py > streams/generators/mt2203_members.cpp

The other members come from tools/mt2203_members.txt, the output of tools/mt2203_search.cpp (built
as mt2203_search; its header lines give the command and seed of each run), which proves their
periods and searches their tempering; this program checks that none displaces a published member,
repeats a twist constant or tempers worse than the worst published member, and copies them.

Members 0, 1 and 6023 are the family's published members. The program proves their periods
2^2203 - 1 (the minimal polynomial of an output bit, by Berlekamp-Massey, has degree 2203 and is
irreducible; 2203 is prime and 2^2203 - 1 a Mersenne prime, so irreducible means primitive) and
records their equidistribution: k(v), the largest k for which the leading v bits of k consecutive
tempered outputs take every value equally often over the period, found as the rank of that linear
map of the state. Proving the found members' periods here would take about a second each in Python;
the unit test streams_twister_test proves every listed member's period on the generator's own
output instead. The table has 6024 rows; rows of members not generated yet are zero, and the
generator reports those members as not built.
"""

import os
import sys

from mt_jump_polys import berlekamp_massey

N, M, R, P = 69, 34, 5, 2203
UPPER, LOWER = 0xFFFFFFE0, 0x0000001F
M32 = 0xFFFFFFFF
MEMBERS = 6024
PUBLISHED = {
    0: (0xAF81055F, 0xDD7EEF80, 0xEFD78000),
    1: (0x832604E1, 0x66AD7F80, 0xEBD58000),
    6023: (0xE8761D4B, 0x72967680, 0xEFEB0000),
}


def step(mt, i, a):
    """Replaces the oldest word mt[i] of the ring by the next word of the sequence."""
    y = (mt[i] & UPPER) | (mt[(i + 1) % N] & LOWER)
    mt[i] = mt[(i + M) % N] ^ (y >> 1) ^ (a if y & 1 else 0)
    return mt[i]


def polymod(p, f):
    df = f.bit_length() - 1
    while p.bit_length() - 1 >= df:
        p ^= f << (p.bit_length() - 1 - df)
    return p


def square(p):
    """p^2 over GF(2): the bits of p spread apart."""
    return int("0".join(bin(p)[2:]), 2)


def irreducible_prime_degree(f):
    """For f of prime degree p with f(0) = f(1) = 1: irreducible iff x^(2^p) = x mod f."""
    if not (f & 1 and bin(f).count("1") % 2 == 1):
        return False
    x = 2
    for _ in range(f.bit_length() - 1):
        x = polymod(square(x), f)
    return x == 2


def characteristic_polynomial(a):
    mt = [(1812433253 * i + 12345) & M32 for i in range(N)]
    bits = [step(mt, t % N, a) & 1 for t in range(2 * P)]
    return berlekamp_massey(bits)


def equidistribution(a, b, c):
    """k(v) for v = 1..32. The state is the 2203 bits (upper 27 of the oldest word, then the other 68
    words); every word is followed as a list of 32 linear forms on it, one Python int per bit."""
    basis_words = []
    index = 0
    for w in range(N):
        word = []
        for bit in range(32):
            if w == 0 and bit < R:
                word.append(0)
            else:
                word.append(1 << index)
                index += 1
        basis_words.append(word)
    assert index == P

    def xor(u, v):
        return [p ^ q for p, q in zip(u, v)]

    def shr(u, k):  # bit j of u >> k is bit j + k of u
        return [u[j + k] if j + k < 32 else 0 for j in range(32)]

    def shl(u, k):
        return [u[j - k] if j >= k else 0 for j in range(32)]

    def mask(u, m):
        return [u[j] if m >> j & 1 else 0 for j in range(32)]

    def temper(y):
        y = xor(y, shr(y, 12))
        y = xor(y, mask(shl(y, 7), b))
        y = xor(y, mask(shl(y, 15), c))
        return xor(y, shr(y, 18))

    mt = basis_words
    outputs = []
    for t in range(P):
        i = t % N
        y = [mt[i][j] if UPPER >> j & 1 else mt[(i + 1) % N][j] for j in range(32)]
        twisted = shr(y, 1)
        twisted = [twisted[j] ^ (y[0] if a >> j & 1 else 0) for j in range(32)]
        mt[i] = xor(mt[(i + M) % N], twisted)
        outputs.append(temper(mt[i]))
    k_of_v = []
    for v in range(1, 33):
        pivots = {}
        k = 0
        for out in outputs:
            independent = True
            for j in range(31, 31 - v, -1):
                x = out[j]
                while x:
                    top = x.bit_length() - 1
                    if top not in pivots:
                        pivots[top] = x
                        break
                    x ^= pivots[top]
                else:
                    independent = False
                    break
            if not independent:
                break
            k += 1
        k_of_v.append(k)
    return k_of_v


def shortfall(k_of_v):
    return sum(P // v - k for v, k in zip(range(1, 33), k_of_v))


def found_members(path):
    """The search's findings: its '#' header lines and, per member, a, b, c and k(1..32)."""
    header, rows = [], {}
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                header.append(line.rstrip("\n"))
                continue
            fields = line.split()
            if not fields:
                continue
            member, a, b, c = int(fields[0]), int(fields[1], 16), int(fields[2], 16), int(fields[3], 16)
            k_of_v = [int(k) for k in fields[5:]]
            if len(k_of_v) != 32 or shortfall(k_of_v) != int(fields[4]) or member in rows:
                raise SystemExit(f"{path}: malformed line for member {member}")
            rows[member] = (a, b, c, k_of_v)
    return header, rows


def main():
    rows = {}
    for member, (a, b, c) in sorted(PUBLISHED.items()):
        poly = characteristic_polynomial(a)
        if poly.bit_length() - 1 != P or not irreducible_prime_degree(poly):
            raise SystemExit(f"member {member}: twist constant {a:#x} does not give period 2^2203 - 1")
        k_of_v = equidistribution(a, b, c)
        rows[member] = (a, b, c, k_of_v)
        print(f"member {member}: shortfall {shortfall(k_of_v)}", file=sys.stderr)
    # Members found by the search must not displace a published one, repeat a twist constant or
    # temper worse than the worst published member.
    bar = max(shortfall(k) for _, _, _, k in rows.values())
    header, found = found_members(os.path.join(os.path.dirname(os.path.abspath(__file__)), "mt2203_members.txt"))
    twists = {a for a, _, _, _ in rows.values()}
    for member, (a, b, c, k_of_v) in found.items():
        if member in rows or a in twists or shortfall(k_of_v) > bar or not 0 <= member < MEMBERS:
            raise SystemExit(f"found member {member} ({a:#x}) is not admissible")
        twists.add(a)
        rows[member] = (a, b, c, k_of_v)
    print("// The MT2203 member table: twist constant a and tempering masks b, c per member; zero rows are")
    print("// members not generated yet; do not edit.")
    print("// Generated by `python3 tools/mt2203_members.py > streams/generators/mt2203_members.cpp`.")
    print("// Members 0, 1 and 6023 are published; their periods 2^2203 - 1 are proved here (irreducible")
    print(f"// characteristic polynomial). The others come from tools/mt2203_members.txt, tempering no worse")
    print(f"// than shortfall {bar}:")
    for line in header:
        print("//  " + line[1:])
    print("// Per member: k(v) for v = 1..32, the equidistribution of the tempered output to v bits, and the")
    print("// total shortfall from floor(2203 / v).")
    for member, (a, b, c, k_of_v) in sorted(rows.items()):
        print(f"//   {member}: shortfall {shortfall(k_of_v)}; k(v) = {' '.join(map(str, k_of_v))}")
    print('#include "streams/generators/mt2203_members.h"')
    print()
    print("namespace zok::rng {")
    print()
    print("// clang-format off")
    print("constinit const uint32_t kMt2203Members[kMt2203MemberCount][3] = {")
    zeros = 0
    for member in range(MEMBERS + 1):
        if member in rows or member == MEMBERS:
            for first in range(member - zeros, member, 16):
                print(f"    /* {first} */ " + " ".join(["{},"] * min(16, member - first)))
            zeros = 0
        else:
            zeros += 1
            continue
        if member < MEMBERS:
            a, b, c, _ = rows[member]
            print(f"    /* {member} */ {{0x{a:08X}u, 0x{b:08X}u, 0x{c:08X}u}},")
    print("};")
    print("// clang-format on")
    print()
    print("}  // namespace zok::rng")


if __name__ == "__main__":
    main()
