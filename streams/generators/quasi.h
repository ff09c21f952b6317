// What SOBOL and NIEDERR share: digital sequences over GF(2) walked in Gray-code order, their state
// fields, the chunks that hold user tables, generation, leapfrog to one coordinate and skip-ahead.
#pragma once

#include <cstdint>

#include "zok/random.h"

namespace zok::rng::quasi {

// The first four words behind the stream header; the current point follows them, then the built-in
// direction numbers (row b of the table, the numbers of Gray-code bit b, holds one word per
// dimension). Elements delivered so far are points 1 .. counter-1 and the first `pos` coordinates of
// point `counter`: point[j] holds coordinate j of point counter for j < pos, of point counter-1 above.
struct Fields {
  uint32_t counter;
  int32_t dim;
  int32_t coord;  // -1: whole points; else the one coordinate each element comes from
  int32_t pos;
};

// Where a generator keeps its tables.
struct Family {
  int32_t builtin_max;  // largest dimension of the built-in tables
  int32_t state_words;  // 32-bit words of state behind the header
  int32_t table_chunk;  // chunk id of user direction numbers
  int32_t point_chunk;  // chunk id of the point of the user-table path; 0: the point stays in the state
  bool shared_table;    // the user table is named in the shared data table, so copies share it
};

inline constexpr int32_t kBits = 32;

// SOBOL: 40 built-in dimensions; the caller's tables are shared (chunk 9), the point of that path
// private (chunk 13). NIEDERR: 318; the caller's table is private (chunk 10), the point stays.
inline constexpr Family kSobol{40, 2924, 9, 13, true};
inline constexpr Family kNiederr{318, 21068, 10, 0, false};

// Whether a SOBOL or NIEDERR record (current or legacy identifier) can be generated from: a
// dimension its tables hold, the coordinate -1 or below the dimension, the position below it and
// the counter at least 1. Loaders of saved images refuse records that fail it.
bool state_fits(StreamRecord* stream);

// Fresh fields, a zero point and the built-in table of dimension d (dimension j's 32 direction
// numbers at cols + 32j), dropping any user table.
void start_builtin(StreamRecord* stream, const Family& f, int32_t d, const uint32_t* cols);
// The user-table path: replaces the stream's table chunks by `rows` (32 x d words from
// zok_serv_allocate, handed over on success and freed on failure) and starts afresh. 0, -4, or the
// chunk operations' status; a failure leaves the stream at dimension 1, whose numbers both
// generators share.
int32_t start_user(StreamRecord* stream, const Family& f, int32_t d, uint32_t* rows);
// The user-table path from column(j, col), which writes dimension j's 32 numbers to col.
template <class Column>
int32_t start_columns(StreamRecord* stream, const Family& f, int32_t d, Column column);
// Kind 4: 32 direction numbers per dimension, dimension 1 first.
int32_t start_table(StreamRecord* stream, const Family& f, int32_t d, const uint32_t* cols);
// init_stream: seeding by the generator's own seed(stream, n, params), the rest shared.
int32_t init(const Family& f, int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params,
             int32_t (*seed)(StreamRecord*, int32_t, const uint32_t*));
// Method 1 and 2 of init_stream.
int32_t leapfrog(StreamRecord* stream, const Family& f, int32_t nstreams, uint32_t k);
int32_t skip(StreamRecord* stream, const Family& f, uint64_t s);

int32_t generate(StreamRecord* stream, const Family& f, int32_t n, uint32_t* r);
int32_t generate(StreamRecord* stream, const Family& f, int32_t n, double* r, double a, double b);
int32_t generate(StreamRecord* stream, const Family& f, int32_t n, float* r, double a, double b);

// Dimension j's 32 direction numbers col into the 32 x d rows.
inline void put_column(const uint32_t* col, int32_t d, int32_t j, uint32_t* rows) {
  for (int32_t b = 0; b < kBits; ++b) rows[static_cast<int64_t>(b) * d + j] = col[b];
}
// A user table of 32 x d rows from zok_serv_allocate (null when it cannot be had).
uint32_t* allocate_rows(int32_t d);

// The generate operations of a generator with state S, for ZOK_GENERATOR_ENTRIES.
template <const Family& F, class S>
struct Operations {
  using State = S;
  static int32_t ints(StreamRecord* stream, int32_t n, uint32_t* r) { return generate(stream, F, n, r); }
  template <class T>
  static int32_t reals(StreamRecord* stream, int32_t n, T* r, double a, double b) {
    return generate(stream, F, n, r, a, b);
  }
};

template <class Column>
int32_t start_columns(StreamRecord* stream, const Family& f, int32_t d, Column column) {
  uint32_t* rows = allocate_rows(d);
  if (rows == nullptr) return ZOK_RNG_ERROR_MEMORY;
  for (int32_t j = 0; j < d; ++j) {
    uint32_t col[kBits];
    column(j, col);
    put_column(col, d, j, rows);
  }
  return start_user(stream, f, d, rows);
}

// Reads a seed word as a count for length tests, which run in 64 bits so huge words cannot wrap.
inline int64_t word(const uint32_t* params, int64_t i) {
  return static_cast<int64_t>(params[i]);
}
// Position of the highest set bit (the degree of a polynomial word), -1 for 0.
inline int32_t degree(uint32_t p) {
  return p == 0 ? -1 : 31 - __builtin_clz(p);
}

}  // namespace zok::rng::quasi
