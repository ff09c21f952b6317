// zok rng: the generator registry as a table, numbers drawn from a built-in generator, stream images
// saved, loaded and shown; the random-stream tour stop (registry rows, MCG31M1 draws, the twisted
// registers, a registered generator, chunks, images).
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "apps/zok/commands.h"
#include "streams/registry.h"
#include "streams/shared_data.h"
#include "zok/core_services.h"
#include "zok/random.h"

namespace {

using zok::rng::has_placeholder_operations;
using zok::rng::member_count;
using zok::rng::row_name;

void print_row_heading() {
  std::printf("  %4s  %-10s  %-18s %6s %6s %5s %5s %5s %8s  %s\n", "row", "identifier", "name", "state",
              "seeds", "word", "bits", "zero", "members", "operations");
}

void print_row(int32_t index) {
  const GeneratorProperties& row = __RegBrngsNew[index];
  std::printf("  %4d  0x%-8X  %-18s %6d %6d %5d %5d %5s %8d  %s\n", index,
              static_cast<unsigned>((index + 1) * ZOK_RNG_ID_STEP), row_name(index), row.state_size,
              row.seed_count, row.word_size, row.bit_count, row.includes_zero ? "yes" : "no",
              member_count(index), has_placeholder_operations(row) ? "not built yet" : "available");
}

int list_registry() {
  const int32_t rows = __qorGetNumRegBrngs();
  std::printf(
      "generator registry: %d of %d rows in use (state: bytes of a stream record, header "
      "included; word: bytes per integer output)\n",
      rows, zok::rng::kUsableRows);
  print_row_heading();
  for (int32_t i = 0; i < rows; ++i) print_row(i);
  std::printf("legacy identifiers: 0-3 rows 0-3; 4-276 WH members 0-272; 277 SOBOL; 278 NIEDERR\n");
  return 0;
}

constexpr const char* kUsage =
    "usage: zok rng list\n"
    "       zok rng gen NAME[:MEMBER] [--seed S[,S...]] [--skip S] -n N [--double a,b | --float a,b]\n"
    "       zok rng gen NAME ... -n N --bernoulli P | --geometric P | --binomial NTRIAL,P |\n"
    "                   --hypergeometric L,S,M | --poisson LAMBDA[,METHOD] | --poissonv L1,L2,... |\n"
    "                   --negbinomial A,P [--summary]   discrete variates, or their mean and variance\n"
    "       zok rng save NAME[:MEMBER] [--seed S[,S...]] [--skip S] FILE\n"
    "       zok rng load FILE -n N [--double a,b | --float a,b]\n"
    "       zok rng show FILE\n"
    "       zok rng gen NAME [--seed S] -n N DIST [--float]   variates of a distribution, DIST one of\n"
    "                   --gaussian mu,sigma [--method bm1|bm2|icdf]   --uniform a,b [--accurate]\n"
    "                   --int a,b   --bits32 | --bits64   --lognormal a,sigma,b,beta [--method bm2|icdf]\n"
    "                   --mvn MEANS --factor T [--storage full|packed|diag] [--method ...] (a vector a "
    "line)\n"
    "       zok rng abstract [--kind d|s|i] [--buffer N] --from FILE|- -n N (--uniform a,b | --bits)\n"
    "                   --exponential|--laplace|--cauchy|--rayleigh|--gumbel A,BETA   --weibull "
    "ALPHA,A,BETA\n"
    "                   --gamma ALPHA,A,BETA   --beta P,Q,A,BETA   (--single: the float forms;\n"
    "                   --summary: count, mean, variance, min and max instead of the values)\n"
    "       zok rng gen SOBOL|NIEDERR [--dim D] [--table FILE] [--coordinate K] [--skip S] -n N\n"
    "                   [--int | --double a,b | --float a,b]\n"
    "       (NAME: the name of `zok rng list`, or TRNG for the non-deterministic generator; the\n"
    "       quasi-random generators print N points of D coordinates, one per line, as doubles on\n"
    "       [0, 1) unless told otherwise, or coordinate K alone; FILE holds 32 direction numbers per\n"
    "       dimension; S counts lines; save takes the same quasi-random options)\n";

// Each row also answers to its name in the generator list ("TRNG" for the non-deterministic row).
constexpr const char* kListNames[] = {
#define ZOK_GENERATOR(N, ...) #N,
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR
};

// "WH:5" names member 5 of the WH family; a name alone is member 0. Returns the identifier or -1.
int32_t find_generator(const char* text) {
  std::string name = text;
  int32_t member = 0;
  if (const size_t colon = name.find(':'); colon != std::string::npos) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(name.c_str() + colon + 1, &end, 10);
    // A member past int32 must not wrap around onto a real one.
    if (*end != '\0' || end == name.c_str() + colon + 1 || errno != 0 || value < 0 || value > INT32_MAX)
      return -1;
    member = static_cast<int32_t>(value);
    name.resize(colon);
  }
  for (int32_t index = 0; index < zok::rng::kBuiltinRows; ++index)
    if ((strcasecmp(name.c_str(), row_name(index)) == 0 ||
         strcasecmp(name.c_str(), kListNames[index]) == 0) &&
        member < member_count(index))
      return (index + 1) * ZOK_RNG_ID_STEP + member;
  return -1;
}

bool parse_u32_list(const char* text, std::vector<uint32_t>* out) {
  for (const char* p = text; *p != '\0';) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(p, &end, 0);
    if (end == p || v > 0xFFFFFFFFull || *p == '-') return false;
    out->push_back(static_cast<uint32_t>(v));
    if (*end == '\0') break;
    if (*end != ',') return false;
    p = end + 1;
  }
  return !out->empty();
}

bool parse_interval(const char* text, double* a, double* b) {
  char* end = nullptr;
  *a = std::strtod(text, &end);
  if (end == text || *end != ',') return false;
  const char* second = end + 1;
  *b = std::strtod(second, &end);
  return end != second && *end == '\0';
}

// Prints n lines of `per_line` numbers of stream s (a quasi-random point to a line), in pieces so
// that any n runs in bounded memory.
int32_t print_draws(StreamRecord* s, const char* command, int64_t n, char form, double a, double b,
                    int32_t per_line) {
  const GeneratorProperties& row = *zok::rng::operations_row(s->brng);
  n *= per_line;
  const int32_t kPiece = per_line * std::max(1, 4096 / per_line);
  std::vector<uint32_t> words(static_cast<size_t>(kPiece) * row.word_size / 4);
  std::vector<double> reals(kPiece);
  std::vector<float> floats(kPiece);
  const bool progress = n >= 10000000;
  int32_t status = 0;
  for (int64_t done = 0; status == 0 && done < n;) {
    const int32_t count = static_cast<int32_t>(n - done < kPiece ? n - done : kPiece);
    if (form == 'd') {
      status = row.generate_d(s, count, reals.data(), a, b);
      for (int32_t i = 0; status == 0 && i < count; ++i)
        std::printf("%.17g%c", reals[i], (done + i + 1) % per_line ? ' ' : '\n');
    } else if (form == 'f') {
      status = row.generate_s(s, count, floats.data(), static_cast<float>(a), static_cast<float>(b));
      for (int32_t i = 0; status == 0 && i < count; ++i)
        std::printf("%.9g%c", static_cast<double>(floats[i]), (done + i + 1) % per_line ? ' ' : '\n');
    } else {
      status = row.generate_i(s, count, words.data());
      for (int32_t i = 0; status == 0 && i < count; ++i) {
        const uint32_t* w = &words[static_cast<size_t>(i) * row.word_size / 4];
        if (row.word_size == 8)
          std::printf("%" PRIu64 "\n", w[0] | static_cast<uint64_t>(w[1]) << 32);
        else if (row.word_size == 16)
          std::printf("%u %u %u %u\n", w[0], w[1], w[2], w[3]);
        else
          std::printf("%u%c", w[0], (done + i + 1) % per_line ? ' ' : '\n');
      }
    }
    const int64_t before = done;
    done += count;
    if (progress && done * 10 / n != before * 10 / n)
      std::fprintf(stderr, "zok rng %s: %" PRId64 " of %" PRId64 "\n", command, done, n);
  }
  return status;
}

// What gen, save and load take: generator options and the arguments that are not options. The
// quasi-random options (dimension, table file, one coordinate alone, --int) are -1/null/false when
// not given; a quasi-random stream prints doubles unless a form is given.
struct Options {
  std::vector<uint32_t> seeds;
  int64_t n = -1;
  uint64_t skip = 0;
  char form = 'i';
  bool form_given = false;
  double a = 0.0, b = 1.0;
  int64_t dim = -1, coordinate = -1;
  const char* table = nullptr;
  std::vector<const char*> operands;
  int32_t per_line = 1;  // numbers to a printed line: a quasi-random point's coordinates
  zok::app::DistOptions dist;
  bool quasi_options() const { return dim >= 0 || coordinate >= 0 || table != nullptr; }
};

bool parse_options(const char* command, int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    bool ok = has_value;
    if (argv[i][0] != '-' || argv[i][1] == '\0') {
      o->operands.push_back(argv[i]);
      continue;
    }
    if (std::strcmp(argv[i], "--seed") == 0 && has_value) {
      ok = parse_u32_list(argv[++i], &o->seeds);
    } else if (std::strcmp(argv[i], "-n") == 0 && has_value) {
      const char* text = argv[++i];
      char* end = nullptr;
      errno = 0;
      o->n = std::strtoll(text, &end, 10);
      ok = end != text && *end == '\0' && errno == 0 && o->n >= 0;
    } else if (std::strcmp(argv[i], "--skip") == 0 && has_value) {
      const char* text = argv[++i];
      char* end = nullptr;
      errno = 0;
      o->skip = std::strtoull(text, &end, 0);
      ok = end != text && *end == '\0' && errno == 0 && *text != '-';
    } else if ((std::strcmp(argv[i], "--dim") == 0 || std::strcmp(argv[i], "--coordinate") == 0) &&
               has_value) {
      int64_t& value = argv[i][2] == 'd' ? o->dim : o->coordinate;
      const char* text = argv[++i];
      char* end = nullptr;
      errno = 0;
      value = std::strtoll(text, &end, 10);
      ok = end != text && *end == '\0' && errno == 0 && value >= 0 && value <= INT32_MAX;
    } else if (std::strcmp(argv[i], "--table") == 0 && has_value) {
      o->table = argv[++i];
    } else if (zok::app::parse_distribution_option(argc, argv, &i, &o->dist, &ok)) {
    } else if (std::strcmp(argv[i], "--int") == 0) {
      o->form = 'i';
      o->form_given = ok = true;
    } else if ((std::strcmp(argv[i], "--double") == 0 || std::strcmp(argv[i], "--float") == 0) && has_value) {
      o->form = argv[i][2];
      o->form_given = true;
      ok = parse_interval(argv[++i], &o->a, &o->b);
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "zok rng %s: cannot use %s\n%s", command, argv[i], kUsage);
      return false;
    }
  }
  return true;
}

// A file of direction numbers, any whitespace between them.
bool read_words(const char* path, std::vector<uint32_t>* out) {
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) return false;
  bool ok = true;
  for (unsigned long long v; ok;) {
    const int got = std::fscanf(f, "%llu", &v);
    if (got != 1) {
      ok = got == EOF;
      break;
    }
    ok = v <= 0xFFFFFFFFull;
    out->push_back(static_cast<uint32_t>(v));
  }
  std::fclose(f);
  return ok && !out->empty();
}

// SOBOL and NIEDERR seeds from --table (the file's dimension unless --dim is given) or --dim.
bool quasi_seeds(const char* command, Options& o) {
  if (o.table != nullptr) {
    std::vector<uint32_t> words;
    if (!read_words(o.table, &words) || words.size() % 32 != 0) {
      std::fprintf(stderr, "zok rng %s: %s does not hold 32 direction numbers per dimension\n", command,
                   o.table);
      return false;
    }
    if (o.dim < 0) o.dim = static_cast<int64_t>(words.size() / 32);
    o.seeds = {static_cast<uint32_t>(o.dim), 1, 4};
    o.seeds.insert(o.seeds.end(), words.begin(), words.end());
  } else if (o.dim >= 0 && o.seeds.empty()) {
    o.seeds = {static_cast<uint32_t>(o.dim)};
  }
  return true;
}

// A stream of the generator named by `name`, seeded and moved on as the options say, or null after
// a message and with *exit_code set (2 for an unknown name, else 1).
StreamRecord* open_stream(const char* command, const char* name, Options& o, int* exit_code) {
  const int32_t id = find_generator(name);
  *exit_code = id < 0 ? 2 : 1;
  if (id < 0) {
    std::fprintf(stderr, "zok rng %s: no built-in generator or member %s (see zok rng list)\n", command,
                 name);
    return nullptr;
  }
  if (has_placeholder_operations(__RegBrngsNew[(id >> 20) - 1])) {
    std::fprintf(stderr, "zok rng %s: %s is not built yet\n", command, row_name((id >> 20) - 1));
    return nullptr;
  }
  if (id == ZOK_RNG_IABSTRACT || id == ZOK_RNG_DABSTRACT || id == ZOK_RNG_SABSTRACT) {
    std::fprintf(stderr, "zok rng %s: %s streams take the caller's numbers: see zok rng abstract\n", command,
                 row_name((id >> 20) - 1));
    *exit_code = 2;
    return nullptr;
  }
  const bool quasi = id == ZOK_RNG_SOBOL || id == ZOK_RNG_NIEDERR;
  if (!quasi && (o.quasi_options() || (o.form == 'i' && o.form_given))) {
    std::fprintf(stderr, "zok rng %s: --dim, --table, --coordinate and --int are for SOBOL and NIEDERR\n%s",
                 command, kUsage);
    *exit_code = 2;
    return nullptr;
  }
  if (quasi && !quasi_seeds(command, o)) {
    *exit_code = 2;
    return nullptr;
  }
  StreamRecord* s = nullptr;
  int32_t status = __qorNewStreamEx(&s, id, static_cast<int32_t>(o.seeds.size()), o.seeds.data());
  if (status == 0 && quasi) {
    // The dimension field follows the point counter behind the 16-byte header.
    const int32_t got = reinterpret_cast<const int32_t*>(s)[5];
    if (o.dim >= 0 && got != o.dim)
      std::fprintf(stderr, "zok rng %s: %" PRId64 " dimensions cannot be had here: falling back to %d\n",
                   command, o.dim, got);
    if (!o.form_given) o.form = 'd';
    if (o.coordinate >= 0) {
      status = __qorLeapfrogStream(s, static_cast<int32_t>(o.coordinate), 0x7FFFFFFF);
    } else {
      o.per_line = got;
    }
  }
  if (status == 0 && o.skip != 0)
    status = __qorSkipAheadStream(s, o.skip * static_cast<uint64_t>(o.per_line));
  if (status != 0) {
    std::fprintf(stderr, "zok rng %s: status %d\n", command, status);
    __qorDeleteStream(&s);
  }
  return s;
}

// Prints the draws of s and deletes it; 0, or 1 after a message.
int draw_and_delete(StreamRecord* s, const char* command, const Options& o) {
  const int32_t status = print_draws(s, command, o.n, o.form, o.a, o.b, o.per_line);
  __qorDeleteStream(&s);
  if (status != 0) {
    std::fprintf(stderr, "zok rng %s: status %d\n", command, status);
    return 1;
  }
  return 0;
}

int run_gen(int argc, char** argv) {
  Options o;
  zok::app::DiscreteRequest discrete;
  if (!zok::app::take_discrete_options(&argc, argv, &discrete)) return 2;
  if (!parse_options("gen", argc, argv, &o)) return 2;
  if (o.operands.size() != 1 || o.n < 0) {
    std::fprintf(stderr, "zok rng gen: NAME and -n N are required\n%s", kUsage);
    return 2;
  }
  if (const char* problem = zok::app::check_distribution(o.dist)) {
    std::fprintf(stderr, "zok rng gen: %s\n%s", problem, kUsage);
    return 2;
  }
  int exit_code = 0;
  StreamRecord* s = open_stream("gen", o.operands[0], o, &exit_code);
  if (s != nullptr && discrete.kind >= 0) {
    exit_code = zok::app::print_discrete(s, o.n, discrete);
    __qorDeleteStream(&s);
    return exit_code;
  }
  if (s == nullptr || o.dist.kind == 0) return s != nullptr ? draw_and_delete(s, "gen", o) : exit_code;
  const int32_t status = zok::app::print_distribution(s, o.dist, o.n);
  __qorDeleteStream(&s);
  if (status == 0) return 0;
  std::fprintf(stderr, "zok rng gen: status %d\n", status);
  return 1;
}

int run_save(int argc, char** argv) {
  Options o;
  if (!parse_options("save", argc, argv, &o)) return 2;
  if (o.operands.size() != 2 || o.n >= 0 || o.form != 'i') {
    std::fprintf(stderr, "zok rng save: NAME and FILE are required\n%s", kUsage);
    return 2;
  }
  int exit_code = 0;
  StreamRecord* s = open_stream("save", o.operands[0], o, &exit_code);
  if (s == nullptr) return exit_code;
  const int32_t size = __qorGetStreamSize(s);
  const int32_t status = __qorSaveStreamF(s, o.operands[1], -1);
  __qorDeleteStream(&s);
  if (status != 0) {
    std::fprintf(stderr, "zok rng save: status %d\n", status);
    return 1;
  }
  std::printf("saved a %d-byte image to %s\n", size, o.operands[1]);
  return 0;
}

int run_load(int argc, char** argv) {
  Options o;
  if (!parse_options("load", argc, argv, &o)) return 2;
  if (o.operands.size() != 1 || o.n < 0 || !o.seeds.empty() || o.skip != 0) {
    std::fprintf(stderr, "zok rng load: FILE and -n N are required\n%s", kUsage);
    return 2;
  }
  StreamRecord* s = nullptr;
  if (const int32_t status = __qorLoadStreamF(&s, o.operands[0], -1); status != 0) {
    std::fprintf(stderr, "zok rng load: status %d\n", status);
    return 1;
  }
  // A quasi-random stream prints whole points, as doubles unless told otherwise.
  const int32_t id = s->brng;
  if (id == ZOK_RNG_SOBOL || id == ZOK_RNG_NIEDERR || id == 277 || id == 278) {
    const int32_t* fields = reinterpret_cast<const int32_t*>(s + 1);  // counter, dimension, coordinate
    if (fields[2] < 0) o.per_line = fields[1];
    if (!o.form_given) o.form = 'd';
  }
  return draw_and_delete(s, "load", o);
}

uint32_t le(const std::vector<unsigned char>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int k = bytes - 1; k >= 0; --k) v = v << 8 | b[at + static_cast<size_t>(k)];
  return v;
}

// The header and chunk records of an image file, once the loader has accepted it.
int run_show(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  StreamRecord* s = nullptr;
  const int32_t status = __qorLoadStreamF(&s, argv[1], -1);
  if (status != 0) {
    std::printf("%s: refused with status %d\n", argv[1], status);
    return 1;
  }
  const int32_t id = s->brng;
  __qorDeleteStream(&s);
  std::vector<unsigned char> b;
  if (FILE* f = std::fopen(argv[1], "rb"); f != nullptr) {
    for (int c; (c = std::fgetc(f)) != EOF;) b.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
  }
  if (b.size() < 20) return 1;  // the file changed since it was loaded
  const GeneratorProperties* row = zok::rng::operations_row(id);
  const int32_t index = id >= ZOK_RNG_ID_STEP ? (id >> 20) - 1 : id >= 4 && id <= 276 ? 4 : id;
  std::printf("%s: version %u, magic at %d, header %u bytes, state %u bytes, %u chunks\n", argv[1], b[0],
              std::memcmp(&b[4], "RNG", 3) == 0 ? 4 : 0, le(b, 8, 2), le(b, 10, 2), le(b, 12, 2));
  std::printf("  generator 0x%X: %s%s, member %d\n", static_cast<unsigned>(id), row_name(index),
              id < ZOK_RNG_ID_STEP ? " (legacy identifier)" : "",
              id >= ZOK_RNG_ID_STEP  ? id & ZOK_RNG_MEMBER_MASK
              : id >= 4 && id <= 276 ? id - 4
                                     : 0);
  size_t at = 20 + static_cast<size_t>(row->state_size > 16 ? row->state_size - 16 : 0);
  for (uint32_t k = 0, count = le(b, 12, 2); k < count && at + 8 <= b.size(); ++k) {
    const size_t key_bytes = b[0] == 1 ? 16 : 0;
    const uint32_t size = le(b, at + 4 + key_bytes, 4);
    std::printf("  chunk %u: id %d, size %u", k, static_cast<int32_t>(le(b, at, 4)), size);
    if (key_bytes != 0)
      std::printf(", key %08X%08X %08X%08X", le(b, at + 8, 4), le(b, at + 4, 4), le(b, at + 16, 4),
                  le(b, at + 12, 4));
    std::printf("\n");
    at += 8 + key_bytes + size;
  }
  return 0;
}

int run_rng(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "list") == 0) return list_registry();
  if (argc >= 2 && std::strcmp(argv[1], "gen") == 0) return run_gen(argc - 1, argv + 1);
  if (argc >= 2 && std::strcmp(argv[1], "save") == 0) return run_save(argc - 1, argv + 1);
  if (argc >= 2 && std::strcmp(argv[1], "load") == 0) return run_load(argc - 1, argv + 1);
  if (argc >= 2 && std::strcmp(argv[1], "show") == 0) return run_show(argc - 1, argv + 1);
  if (argc >= 2 && std::strcmp(argv[1], "abstract") == 0) return zok::app::rng_abstract(argc - 1, argv + 1);
  std::fprintf(stderr, "%s", kUsage);
  return 2;
}

// A 32-bit xorshift generator that the tour registers as a user generator; its state is one word
// right after the stream header.
uint32_t& xorshift_word(StreamRecord* s) {
  return *reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(s) + zok::rng::kHeaderBytes);
}
uint32_t xorshift_next(StreamRecord* s) {
  uint32_t x = xorshift_word(s);
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return xorshift_word(s) = x;
}
int32_t xorshift_init(int32_t method, StreamRecord* s, int32_t n, const uint32_t* params) {
  if (method != ZOK_RNG_METHOD_SEED) return ZOK_RNG_ERROR_METHOD;
  // Zero is the one state xorshift never leaves.
  xorshift_word(s) = n >= 1 && params[0] != 0 ? params[0] : 2463534242u;
  return 0;
}
int32_t xorshift_i(StreamRecord* s, int32_t n, uint32_t* r) {
  for (int32_t i = 0; i < n; ++i) r[i] = xorshift_next(s);
  return 0;
}
int32_t xorshift_d(StreamRecord* s, int32_t n, double* r, double a, double b) {
  for (int32_t i = 0; i < n; ++i) r[i] = a + (b - a) * (xorshift_next(s) * 0x1p-32);
  return 0;
}
int32_t xorshift_s(StreamRecord* s, int32_t n, float* r, float a, float b) {
  for (int32_t i = 0; i < n; ++i) r[i] = a + (b - a) * static_cast<float>(xorshift_next(s) * 0x1p-32);
  return 0;
}

void show_chunks(const char* what, const StreamRecord* s) {
  std::printf("  %s: %d chunks, ids from the head:", what, __qorGetNumChunks(s));
  for (const StreamChunk* c = s->chunks; c != nullptr; c = c->next)
    std::printf(" %d%s", c->id, c->key[0] | c->key[1] ? " (shared)" : "");
  std::printf("\n");
}

// MCG31M1 draws: integers, doubles, three leapfrog streams that share out the sequence, and speed.
void tour_mcg31m1() {
  StreamRecord* s = nullptr;
  const uint32_t seed = 7;
  if (__qorNewStreamEx(&s, ZOK_RNG_MCG31M1, 1, &seed) != 0) {
    __qorDeleteStream(&s);
    return;
  }
  uint32_t ints[6] = {};
  __qoriBRngMCG31M1(s, 6, ints);
  std::printf("  MCG31M1 seeded with 7 draws %u %u %u %u %u %u\n", ints[0], ints[1], ints[2], ints[3],
              ints[4], ints[5]);
  std::printf("  leapfrog into 3 streams, two draws each:");
  for (int32_t k = 0; k < 3; ++k) {
    StreamRecord* part = nullptr;
    uint32_t two[2] = {};
    if (__qorNewStreamEx(&part, ZOK_RNG_MCG31M1, 1, &seed) == 0 && __qorLeapfrogStream(part, k, 3) == 0) {
      __qoriBRngMCG31M1(part, 2, two);
      std::printf("  stream %d: %u %u", k, two[0], two[1]);
    }
    __qorDeleteStream(&part);
  }
  std::printf("\n");
  std::vector<double> u(1000000);
  __qordBRngMCG31M1(s, 5, u.data(), 0.0, 1.0);
  std::printf("  then doubles in [0, 1): %.9f %.9f %.9f %.9f %.9f\n", u[0], u[1], u[2], u[3], u[4]);
  const auto start = std::chrono::steady_clock::now();
  __qordBRngMCG31M1(s, static_cast<int32_t>(u.size()), u.data(), 0.0, 1.0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double sum = 0;
  for (double v : u) sum += v;
  std::printf("  a million doubles in %.2f ms (%.0f million per second), mean %.4f\n", seconds * 1e3,
              static_cast<double>(u.size()) / seconds / 1e6, sum / static_cast<double>(u.size()));
  __qorDeleteStream(&s);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The twisted shift registers: MT19937 draws and a far jump, MT2203 members as independent streams,
// and SFMT19937's speed beside the C++ library's mt19937.
void tour_twisters() {
  const uint32_t key[4] = {0x123, 0x234, 0x345, 0x456};
  StreamRecord* s = nullptr;
  uint32_t w[4] = {};
  if (__qorNewStreamEx(&s, ZOK_RNG_MT19937, 4, key) == 0 && __qoriBRngMT19937(s, 4, w) == 0)
    std::printf("  MT19937 keyed 0x123,0x234,0x345,0x456 draws %u %u %u %u\n", w[0], w[1], w[2], w[3]);
  auto start = std::chrono::steady_clock::now();
  if (__qorSkipAheadStream(s, uint64_t{1} << 40) == 0 && __qoriBRngMT19937(s, 2, w) == 0)
    std::printf("  jumped 2^40 words ahead in %.2f ms, then draws %u %u\n", seconds_since(start) * 1e3, w[0],
                w[1]);
  __qorDeleteStream(&s);
  std::printf("  MT2203 members seeded alike are independent streams:\n");
  for (int32_t member : {0, 1, 2, 6023}) {
    StreamRecord* m = nullptr;
    const int32_t status = __qorNewStreamEx(&m, ZOK_RNG_MT2203 + member, 1, key);
    if (status == 0 && __qoriBRngMT2203(m, 3, w) == 0)
      std::printf("    member %4d: %u %u %u\n", member, w[0], w[1], w[2]);
    else
      std::printf("    member %4d: status %d (its constants are not generated yet)\n", member, status);
    __qorDeleteStream(&m);
  }
  constexpr int32_t kCount = 1 << 20;
  std::vector<uint32_t> out(kCount);
  double ours = 1e30, theirs = 1e30;
  if (__qorNewStreamEx(&s, ZOK_RNG_SFMT19937, 4, key) == 0) {
    std::mt19937 reference(5489u);
    for (int round = 0; round < 5; ++round) {
      start = std::chrono::steady_clock::now();
      __qoriBRngSFMT19937(s, kCount, out.data());
      ours = std::min(ours, seconds_since(start));
      start = std::chrono::steady_clock::now();
      for (uint32_t& x : out) x = static_cast<uint32_t>(reference());
      theirs = std::min(theirs, seconds_since(start));
    }
    std::printf("  SFMT19937: %.2f ns per word, std::mt19937 %.2f ns (%.1fx)\n", ours * 1e9 / kCount,
                theirs * 1e9 / kCount, theirs / ours);
  }
  __qorDeleteStream(&s);
}

// An MT19937 stream saved to memory, five draws, the image loaded and the same five drawn again; a
// damaged header refused.
void tour_images() {
  const uint32_t key[4] = {0x123, 0x234, 0x345, 0x456};
  StreamRecord* s = nullptr;
  uint32_t w[5] = {}, again[5] = {};
  if (__qorNewStreamEx(&s, ZOK_RNG_MT19937, 4, key) != 0 || __qoriBRngMT19937(s, 3, w) != 0) {
    __qorDeleteStream(&s);
    return;
  }
  std::vector<unsigned char> image(static_cast<size_t>(__qorGetStreamSize(s)));
  const double save_ns = zok::app::ns_per_element(1, [&] { __qorSaveStreamM(s, image.data()); });
  __qoriBRngMT19937(s, 5, w);
  std::printf("  MT19937 saved to a %zu-byte image (%.1f us), then draws %u %u %u %u %u\n", image.size(),
              save_ns / 1e3, w[0], w[1], w[2], w[3], w[4]);
  StreamRecord* copy = nullptr;
  const double load_ns = zok::app::ns_per_element(1, [&] {
    __qorDeleteStream(&copy);
    __qorLoadStreamMEx(&copy, image.data(), image.size());
  });
  if (copy != nullptr && __qoriBRngMT19937(copy, 5, again) == 0)
    std::printf("  the image loaded (%.1f us) draws %u %u %u %u %u: %s\n", load_ns / 1e3, again[0], again[1],
                again[2], again[3], again[4],
                std::memcmp(w, again, sizeof w) == 0 ? "the same" : "DIFFERENT");
  __qorDeleteStream(&copy);
  image[5] = 'X';  // "RXG"
  std::printf("  with its magic damaged the image is refused with status %d\n",
              __qorLoadStreamMEx(&copy, image.data(), image.size()));
  __qorDeleteStream(&s);
}

void tour_rng() {
  zok::app::tour_heading("random streams: the generator registry");
  print_row_heading();
  for (int32_t index : {0, 4, 8, 15}) print_row(index);
  StreamRecord* s = nullptr;
  const uint32_t seed = 7;
  tour_mcg31m1();
  tour_twisters();
  tour_images();

  const GeneratorProperties row{
      zok::rng::kHeaderBytes + 8, 1, 0, 4, 32, xorshift_init, xorshift_s, xorshift_d, xorshift_i};
  const int32_t id = __qorRegisterBrng(&row);
  std::printf("  registered a 32-bit xorshift generator as 0x%X\n", static_cast<unsigned>(id));
  if (id < 0 || __qorNewStreamEx(&s, id, 1, &seed) != 0) return;
  uint32_t draws[4] = {};
  __RegBrngsNew[(id >> 20) - 1].generate_i(s, 4, draws);
  std::printf("  seeded with 7, it draws %u %u %u %u\n", draws[0], draws[1], draws[2], draws[3]);

  const uint64_t key[2] = {0x70757274, 1};
  void* table = zok_serv_allocate(64, 128);
  void* notes = zok_serv_allocate(16, 128);
  if (table != nullptr) std::memset(table, 0, 64);
  if (notes != nullptr) std::memset(notes, 0, 16);
  // A block stays the caller's when it could not be attached.
  if (__qorAddChunk(s, 1, key, table, 64) != 0) zok_serv_deallocate(table);
  if (__qorAddChunk(s, 2, nullptr, notes, 16) != 0) zok_serv_deallocate(notes);
  show_chunks("stream with a shared table (id 1) and private notes (id 2)", s);
  StreamRecord* copy = nullptr;
  if (__qorCopyStream(&copy, s) == 0) {
    show_chunks("its copy (the list comes out reversed)", copy);
    GlobalRODataEntry* entry = nullptr;
    if (__qorFindGlobRODataTableEntry(&entry, key) == 0)
      std::printf("  the shared block is held once, by %d chunks\n", entry->refcount);
    __RegBrngsNew[(id >> 20) - 1].generate_i(copy, 4, draws);
    std::printf("  the copy continues the sequence: %u %u %u %u\n", draws[0], draws[1], draws[2], draws[3]);
  }
  __qorDeleteStream(&s);
  __qorDeleteStream(&copy);
  std::printf("  both deleted: %d shared entries remain\n", zok::rng::shared_table().entry_count);
}

const bool kRegistered = zok::app::register_command(
    {"rng",
     "rng list      the generator registry: identifiers, names, sizes, members\n"
     "  rng gen NAME [--seed S] [--skip S] -n N [--double a,b | --float a,b]   numbers from a built-in\n"
     "                generator, after skipping S of them\n"
     "  rng save NAME [--seed S] [--skip S] FILE   a stream's image; rng load FILE -n N   its next\n"
     "                numbers; rng show FILE   an image's header and chunk records\n"
     "  rng abstract [--kind d|s|i] --from FILE|- -n N (--uniform a,b | --bits)   a distribution drawn\n"
     "                from the numbers of FILE through an abstract stream",
     run_rng, tour_rng, 100});

}  // namespace
