/* zok random streams: the generator registry, stream records and their chunks, the table of
 * shared read-only data blocks, and the distribution generators. */
#ifndef ZOK_RANDOM_H
#define ZOK_RANDOM_H

#include <stddef.h>
#include <stdint.h>

#if defined(ZOK_BUILDING_KERNEL)
#define ZOK_RNG_API __attribute__((visibility("default")))
#else
#define ZOK_RNG_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- status codes ---- */

#define ZOK_RNG_STATUS_OK 0
/* -5 also answers a request to an abstract stream that has no buffer; -1001 also a request for
 * outputs of a type that an abstract stream's slot does not make (doubles from the integer kind). */
#define ZOK_RNG_ERROR_METHOD (-2)            /* init_stream method other than 0, 1, 2 */
#define ZOK_RNG_ERROR_BAD_ARGUMENT (-3)      /* chunk size negative, or positive with a null block */
#define ZOK_RNG_ERROR_MEMORY (-4)            /* an allocation failed */
#define ZOK_RNG_ERROR_NULL_POINTER (-5)      /* a registration record or one of its operations is null */
#define ZOK_RNG_ERROR_BAD_BRNG (-1000)       /* generator identifier or member out of range */
#define ZOK_RNG_ERROR_UNAVAILABLE (-1001)    /* the generator's operations are not part of this build */
#define ZOK_RNG_ERROR_NO_LEAPFROG (-1002)    /* the generator has no leapfrog */
#define ZOK_RNG_ERROR_NO_SKIP_AHEAD (-1003)  /* the generator has no skip-ahead */
#define ZOK_RNG_ERROR_REGISTRY_FULL (-1004)  /* all 512 usable registry rows are taken */
#define ZOK_RNG_ERROR_STATE_SIZE (-1008)     /* negative state_size */
#define ZOK_RNG_ERROR_WORD_SIZE (-1009)      /* word_size not 4, 8 or 16 */
#define ZOK_RNG_ERROR_SEED_COUNT (-1010)     /* seed_count below 1 */
#define ZOK_RNG_ERROR_BIT_COUNT (-1011)      /* bit_count below 1 */
#define ZOK_RNG_ERROR_COUNTER_LIMIT (-1012)  /* a quasi-random request would pass point 2^32 - 2 */
#define ZOK_RNG_ERROR_LEAPFROG_COUNT (-1013) /* leapfrog count below 1, or index outside 0..count-1 */
#define ZOK_RNG_ERROR_NO_BITS (-1014)        /* the generator has no 32-bit or 64-bit word form */
#define ZOK_RNG_ERROR_FILE_CLOSE (-1100)     /* a stream file could not be closed */
#define ZOK_RNG_ERROR_FILE_OPEN (-1101)      /* a stream file could not be opened */
#define ZOK_RNG_ERROR_FILE_WRITE (-1102)     /* a write to a stream file fell short */
#define ZOK_RNG_ERROR_FILE_READ (-1103)      /* an image ended early, or a chunk record is malformed */
#define ZOK_RNG_ERROR_IMAGE_SIZE (-1104)     /* over 65535 chunks or 2^31 - 1 bytes in an image */
#define ZOK_RNG_ERROR_FILE_HEADER (-1110)    /* a file image's header or state is not accepted */
#define ZOK_RNG_ERROR_ABSTRACT_COUNT (-1120) /* an abstract refill counted below 0 or above N */
#define ZOK_RNG_ERROR_ABSTRACT_EMPTY (-1121) /* an abstract refill returned 0 */
#define ZOK_RNG_ERROR_NO_RDRAND (-1130)      /* the processor has no hardware random-number instruction */
#define ZOK_RNG_ERROR_RDRAND_FAILED (-1131)  /* a hardware draw failed as often as the retry limit allows */
#define ZOK_RNG_ERROR_NO_AES (-1140)         /* the processor has no AES instructions */
#define ZOK_RNG_ERROR_MEMORY_HEADER (-1200)  /* a memory image's header or state is not accepted */
#define ZOK_RNG_ERROR_SHARED_KEY (-3000)     /* shared key null, zero or not held */
#define ZOK_RNG_ERROR_SHARED_FULL (-3001)    /* shared data table full */

/* ---- generator identifiers ---- */

/* Row r of the current table is reached by (r + 1) * ZOK_RNG_ID_STEP, member m of its family by
 * adding m. Identifiers below ZOK_RNG_ID_STEP are legacy identifiers. */
#define ZOK_RNG_ID_STEP 0x100000
#define ZOK_RNG_MEMBER_MASK 0xFFFFF
#define ZOK_RNG_MCG31M1 0x100000
#define ZOK_RNG_R250 0x200000
#define ZOK_RNG_MRG32K3A 0x300000
#define ZOK_RNG_MCG59 0x400000
#define ZOK_RNG_WH 0x500000
#define ZOK_RNG_SOBOL 0x600000
#define ZOK_RNG_NIEDERR 0x700000
#define ZOK_RNG_MT19937 0x800000
#define ZOK_RNG_MT2203 0x900000
#define ZOK_RNG_IABSTRACT 0xA00000
#define ZOK_RNG_DABSTRACT 0xB00000
#define ZOK_RNG_SABSTRACT 0xC00000
#define ZOK_RNG_SFMT19937 0xD00000
#define ZOK_RNG_TRNG 0xE00000 /* the non-deterministic generator */
#define ZOK_RNG_NONDETERM ZOK_RNG_TRNG
#define ZOK_RNG_ARS5 0xF00000
#define ZOK_RNG_PHILOX4X32X10 0x1000000

/* init_stream methods */
#define ZOK_RNG_METHOD_SEED 0     /* n seed words at params */
#define ZOK_RNG_METHOD_LEAPFROG 1 /* n streams; params points to the 32-bit index of this one */
#define ZOK_RNG_METHOD_SKIP 2     /* n is 2; params points to a 64-bit count of elements to skip */

/* ---- records ---- */

typedef struct StreamChunk StreamChunk;

/* A caller-owned stream. The generator's state follows this 16-byte header; its offsets are part of
 * the saved image format. */
typedef struct StreamRecord {
  int32_t brng;        /* the identifier the stream was created with */
  int32_t created;     /* 1 once the record exists */
  StreamChunk* chunks; /* head of the chunk list, null when empty */
} StreamRecord;

/* A data block attached to a stream. A non-zero key names a block shared through the table below;
 * {0, 0} means the block belongs to this chunk alone. */
struct StreamChunk {
  int32_t id;
  int32_t size; /* bytes in the block */
  void* data;
  StreamChunk* next;
  uint64_t key[2];
};

typedef int32_t (*ZokRngInitStream)(int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params);
typedef int32_t (*ZokRngGenerateS)(StreamRecord* stream, int32_t n, float* r, float a, float b);
typedef int32_t (*ZokRngGenerateD)(StreamRecord* stream, int32_t n, double* r, double a, double b);
/* Writes n elements of word_size bytes each. */
typedef int32_t (*ZokRngGenerateI)(StreamRecord* stream, int32_t n, uint32_t* r);

/* One registry row, exchanged in this layout: five 32-bit integers, then four pointers. */
typedef struct GeneratorProperties {
  int32_t state_size;    /* bytes of a whole stream record, its 16-byte header included */
  int32_t seed_count;    /* words of word_size bytes in the core state */
  int32_t includes_zero; /* 1 when an integer output can be 0 */
  int32_t word_size;     /* bytes per integer output: 4, 8 or 16 */
  int32_t bit_count;     /* significant bits per integer output */
  ZokRngInitStream init_stream;
  ZokRngGenerateS generate_s;
  ZokRngGenerateD generate_d;
  ZokRngGenerateI generate_i;
} GeneratorProperties;

/* One live entry of the shared data table. */
typedef struct GlobalRODataEntry {
  uint64_t key[2];
  int32_t refcount;
  void* data;
} GlobalRODataEntry;

/* ---- registry ---- */

/* The current table: 16 built-in rows, then registered ones. At most 512 of its 532 rows are used. */
ZOK_RNG_API extern GeneratorProperties __RegBrngsNew[532];
/* The legacy table: rows 0-3 the first four generators, 4-276 the 273 WH members, 277 SOBOL,
 * 278 NIEDERR, 279-280 empty. */
ZOK_RNG_API extern const GeneratorProperties __RegBrngs[281];

/* Maps an identifier to its table, row index and member (legacy 4..276 are WH members 0..272). */
ZOK_RNG_API const GeneratorProperties* __qorGetBrngBaseOffset(int32_t id, int32_t* index, int32_t* member);
/* 0 when (index, member) names a usable row of `table`, else -1000. Negative values, the empty legacy
 * rows 279 and 280 and unused rows of the current table are refused. */
ZOK_RNG_API int32_t __qorIsBrngValid(const GeneratorProperties* table, int32_t index, int32_t member);
/* Copies the row of `id` into *properties; -1000 leaves it untouched. */
ZOK_RNG_API int32_t __qorGetBrngProperties(int32_t id, GeneratorProperties* properties);
ZOK_RNG_API int32_t __qorGetNumRegBrngs(void);
/* Appends a generator and returns its identifier, or a negative status (-1008, -1009, -1010, -1011,
 * -5 in that order of testing, then -1004 when the table is full). Not safe to call while another
 * thread registers or resolves identifiers. The row is taken as given: operations that read or
 * write more than state_size bytes of a record are the registrant's inconsistency, which no stream
 * operation can detect. */
ZOK_RNG_API int32_t __qorRegisterBrng(const GeneratorProperties* properties);

/* ---- streams ----
 * The stream and chunk entry points below trust their pointer arguments: a null or dangling stream,
 * source, destination or output pointer is the caller's error and is not detected here (the core
 * library checks arguments before it calls in). */

/* Creates a stream and initialises it from n seed words. When initialisation fails the record is
 * still stored in *stream and must be deleted by the caller. The abstract identifiers give -1000. */
ZOK_RNG_API int32_t __qorNewStreamEx(StreamRecord** stream, int32_t brng, int32_t n, const uint32_t* params);
/* Creates a stream of row `index` of `table` with its header filled and its state zeroed. */
ZOK_RNG_API int32_t __qorAllocateStream(StreamRecord** stream, const GeneratorProperties* table, int32_t brng,
                                        int32_t index, int32_t member);
/* On failure *new_stream is null and nothing is left allocated. */
ZOK_RNG_API int32_t __qorCopyStream(StreamRecord** new_stream, const StreamRecord* source);
/* Copies the core state (seed_count words) and replaces dest's chunks by copies of source's. On
 * failure (-4) dest is unchanged: its state, its chunks and their shared references. */
ZOK_RNG_API int32_t __qorCopyStreamState(StreamRecord* dest, const StreamRecord* source);
/* Releases the chunks and the record and nulls *stream; a null *stream is accepted. */
ZOK_RNG_API int32_t __qorDeleteStream(StreamRecord** stream);
/* Makes the stream deliver every nstreams-th element starting with the k-th. nstreams below 1 or k
 * outside 0..nstreams-1 gives -1013 before the generator is asked. */
ZOK_RNG_API int32_t __qorLeapfrogStream(StreamRecord* stream, int32_t k, int32_t nstreams);
ZOK_RNG_API int32_t __qorSkipAheadStream(StreamRecord* stream, uint64_t nskip);
ZOK_RNG_API int32_t __qorGetStreamStateBrng(const StreamRecord* stream);

/* ---- chunks ----
 * A block handed to __qorAddChunk comes from zok_serv_allocate and passes to the library, except when
 * its key is already shared: then the chunk points at the shared block and the caller keeps its own.
 * On failure (-4) the caller keeps its block. A negative size, or a null block with a positive
 * size, gives -3 before anything changes; a null block of size 0 is a chunk without data. */
ZOK_RNG_API int32_t __qorAddChunk(StreamRecord* stream, int32_t id, const uint64_t* key, void* data,
                                  int32_t size);
ZOK_RNG_API void* __qorSearchChunk(const StreamRecord* stream, int32_t id);
ZOK_RNG_API int32_t __qorGetNumChunks(const StreamRecord* stream);
ZOK_RNG_API int32_t __qorDeleteChunksById(StreamRecord* stream, int32_t id);
ZOK_RNG_API int32_t __qorDeleteChunks(StreamRecord* stream);
/* Puts copies of source's chunks at the head of dest's list (so in reverse order). On failure (-4)
 * dest's list is as it was before the call. */
ZOK_RNG_API int32_t __qorCopyChunks(StreamRecord* dest, const StreamRecord* source);

/* ---- stream images ----
 * An image is, little-endian: a 20-byte header (version 1 at byte 0, "RNG" at 4-6, header size 20 at
 * 8-9, the low 16 bits of state_size - 16 at 10-11, the chunk count at 12-13, the identifier at
 * 16-19, zeros elsewhere); the stream record from byte 16 to its end; then per chunk, from the head
 * of the list, its id (4 bytes), key (16), size (4) and data. A loader accepts "RNG" at 4-6 or else
 * at 0-2, a valid identifier whose state size agrees, a header size of at least 20 (nothing beyond
 * byte 20 is skipped), version 1 chunk records with keys or version 0 ones without (the key is then
 * zero), and position fields that the generator can produce. Loaded chunks come out in reverse
 * order. On any failure a loader leaves *stream null and nothing allocated.
 * Statuses: -1100 close, -1101 open, -1102 short write, -1103 short read, negative chunk size or
 * unknown chunk version, -1104 a stream no image can describe, -1110 (file) or -1200 (memory) header
 * refused, -1130 or -1140 a TRNG or ARS5 image on a processor without the instruction it needs, -4,
 * -1000 for a stream of an invalid identifier, and the statuses of __qorAllocateStream and
 * __qorAddChunk. */

/* Writes the image to the file of the first name_length bytes of name, or of the zero-terminated
 * name when name_length is negative. */
ZOK_RNG_API int32_t __qorSaveStreamF(const StreamRecord* stream, const char* name, int32_t name_length);
ZOK_RNG_API int32_t __qorLoadStreamF(StreamRecord** stream, const char* name, int32_t name_length);
/* Writes __qorGetStreamSize(stream) bytes to buffer. */
ZOK_RNG_API int32_t __qorSaveStreamM(const StreamRecord* stream, void* buffer);
/* For a buffer known to hold a whole image: reads exactly what its header and chunk sizes promise,
 * however many bytes that is. Use __qorLoadStreamMEx for a buffer of untrusted content. */
ZOK_RNG_API int32_t __qorLoadStreamM(StreamRecord** stream, const void* buffer);
/* Reads no more than `length` bytes; an image that promises more gives -1103, before any block
 * larger than the bytes left is allocated. */
ZOK_RNG_API int32_t __qorLoadStreamMEx(StreamRecord** stream, const void* buffer, size_t length);
/* The image size in bytes: state_size + 4 + the sum over chunks of 24 + size, or -1104, or -1000. */
ZOK_RNG_API int32_t __qorGetStreamSize(const StreamRecord* stream);

/* ---- shared data table (128 entries, process-wide, under a spin lock) ---- */

ZOK_RNG_API int32_t __qorFindGlobRODataTableEntry(GlobalRODataEntry** entry, const uint64_t* key);
/* Enters {key, 1, data}; -3000 for a null or zero key, -3001 when the table is full. The block comes
 * from zok_serv_allocate and is freed with the last reference. */
ZOK_RNG_API int32_t __qorCreateGlobRODataTableEntry(GlobalRODataEntry** entry, const uint64_t* key,
                                                    void* data);
/* When the key is held, counts one more reference and stores its block in the second pointer slot of
 * holder; otherwise (-3000) leaves holder untouched. */
ZOK_RNG_API int32_t __qorRegisterGlobRODataReference(void* holder, const uint64_t* key);
/* Drops one reference; the last frees the block. -3000 when the key is not held. */
ZOK_RNG_API int32_t __qorUnregisterGlobRODataReference(const uint64_t* key);
/* key = {time-stamp counter, tag}, re-read until no live entry holds it. */
ZOK_RNG_API int32_t __qorGenerateNewGlobalRODataTableEntryId(uint64_t* key, uint64_t tag);

/* ---- basic generators ----
 * The four registry operations of every built generator of include/zok/rng_generators.def: the
 * congruential MCG31M1, R250, MRG32K3A, MCG59 and WH, the twisted shift registers MT19937, MT2203
 * and SFMT19937, the counter-based ARS5 and PHILOX4X32X10 and the hardware generator TRNG. Generate
 * operations write n elements and return 0; init_stream returns 0, -2 (unknown method), -1002 (no
 * leapfrog: R250, MRG32K3A, MT19937, MT2203, SFMT19937, TRNG, ARS5, PHILOX4X32X10) or -1003 (no
 * skip-ahead: R250, MT2203, TRNG). MT2203 streams of a member whose constants are not generated yet
 * get -1001 from every operation.
 * ARS5 needs the AES instructions: its generate operations and skip-ahead return -1140 without them.
 * TRNG reads the hardware random-number instruction: its generate operations return -1130 without it,
 * and -1131 when a draw still fails after as many further attempts as the stream's retry limit (seed
 * word 1 when at least two seed words are given and it is non-zero, else 10), leaving the elements
 * drawn before it in place.
 *
 * Twisted-register state, offsets from the start of the record (saved images carry them):
 *   MT19937    words at 16 (624), next word to deliver at 2512 (624: block used up)
 *   MT2203     words at 16 (69), next word at 292 (69: used up), the member's twist constant at 296
 *              and tempering masks at 300 and 304
 *   SFMT19937  words at 16 (156 of 128 bits), zero bytes at 2512..2527, at 2528 the number of words
 *              of the block not yet delivered (0 after seeding: the next request regenerates), at
 *              2532 the ring position the jump engine uses on its working copies (0 in a stream)
 * Skip-ahead of MT19937 and SFMT19937 equals discarding s outputs and returns -4 when the jump
 * engine cannot allocate its work space (the stream is then unchanged). MT19937's doubles are
 * x·(b - a)·2^-32 + a with x the unsigned output (floats computed in float); MT2203 and SFMT19937
 * map the output read as signed: s·(b - a)·2^-32 + (a + b)/2 in double, rounded once for floats.
 *
 * Quasi-random SOBOL (40 built-in dimensions) and NIEDERR (318): elements are the coordinates of
 * points 1, 2, ... one after another (the zero point is left out); doubles and floats are
 * a + (b - a)·(x >> 1)·2^-31 for the coordinate word x. Seed words: dimension, 1 when the caller's
 * data follow, their kind, the data. SOBOL kinds: 1 polynomials of dimensions 2..d (d <= 40, initial
 * values 1), 2 a row length w and w initial values per dimension 2..d for the built-in polynomials,
 * 3 polynomials, w and the rows, 4 32 direction numbers per dimension, 11 polynomials of all d
 * dimensions (1: all ones), a row length and the rows. NIEDERR kinds: 1 irreducible polynomials,
 * 4 as SOBOL. Data too short for their kind give the built-in tables of word 0's dimension, or of
 * dimension 1 when that is out of range. A polynomial of no degree (0, or 1 for NIEDERR), a SOBOL
 * polynomial above degree 8 or fewer initial values than its degree gives -3. Leapfrog takes only
 * nstreams 0x7FFFFFFF and k below the dimension (coordinate k of the points not yet begun), else
 * -1002; skip-ahead counts elements (points after leapfrog). A request or skip that would pass point
 * 2^32 - 2 gives -1012 and changes nothing; a record whose fields do not fit its tables gives -3.
 *
 * Quasi-random state, offsets from the start of the record: point counter at 16, dimension at 20,
 * coordinate (-1: whole points) at 24, coordinates of the current point delivered at 28; then the
 * point (one word per dimension) and 32 rows of direction numbers, one word per dimension each. */
/* SOBOL and NIEDERR name their operations in mixed case; the list names reach them through these. */
#define __qorBRngSOBOLInitStream __qorBRngSobolInitStream
#define __qorsBRngSOBOL __qorsBRngSobol
#define __qordBRngSOBOL __qordBRngSobol
#define __qoriBRngSOBOL __qoriBRngSobol
#define __qorBRngNIEDERRInitStream __qorBRngNiederrInitStream
#define __qorsBRngNIEDERR __qorsBRngNiederr
#define __qordBRngNIEDERR __qordBRngNiederr
#define __qoriBRngNIEDERR __qoriBRngNiederr
/* The abstract rows' operations: each row's own init_stream and generator in its own type's slot,
 * and in the other two slots the shared empty generator, exported under six names. */
#define __qorBRngIABSTRACTInitStream __qorBRngiAbstractInitStream
#define __qorsBRngIABSTRACT __qorsBRngiAbstract
#define __qordBRngIABSTRACT __qordBRngiAbstract
#define __qoriBRngIABSTRACT __qoriBRngiAbstract
#define __qorBRngDABSTRACTInitStream __qorBRngdAbstractInitStream
#define __qorsBRngDABSTRACT __qorsBRngdAbstract
#define __qordBRngDABSTRACT __qordBRngdAbstract
#define __qoriBRngDABSTRACT __qoriBRngdAbstract
#define __qorBRngSABSTRACTInitStream __qorBRngsAbstractInitStream
#define __qorsBRngSABSTRACT __qorsBRngsAbstract
#define __qordBRngSABSTRACT __qordBRngsAbstract
#define __qoriBRngSABSTRACT __qoriBRngsAbstract
#define ZOK_RNG_DECLARE_BUILT(N)                                                                     \
  ZOK_RNG_API int32_t __qorBRng##N##InitStream(int32_t method, StreamRecord* stream, int32_t n,      \
                                               const uint32_t* params);                              \
  ZOK_RNG_API int32_t __qorsBRng##N(StreamRecord* stream, int32_t n, float* r, float a, float b);    \
  ZOK_RNG_API int32_t __qordBRng##N(StreamRecord* stream, int32_t n, double* r, double a, double b); \
  ZOK_RNG_API int32_t __qoriBRng##N(StreamRecord* stream, int32_t n, uint32_t* r);
#define ZOK_RNG_DECLARE_NOT_BUILT(N)
#define ZOK_RNG_DECLARE_ABSTRACT(N) ZOK_RNG_DECLARE_BUILT(N)
#define ZOK_GENERATOR(N, label, state, seeds, zero, word, bits, members, status) ZOK_RNG_DECLARE_##status(N)
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR
#undef ZOK_RNG_DECLARE_BUILT
#undef ZOK_RNG_DECLARE_NOT_BUILT
#undef ZOK_RNG_DECLARE_ABSTRACT

/* 1 when the processor has the AES round instructions (CPUID leaf 1, ECX bit 25), else 0. */
ZOK_RNG_API int32_t __qorCPUisAES(void);
/* 1 when the processor has the hardware random-number instruction (CPUID leaf 1, ECX bit 30), else 0. */
ZOK_RNG_API int32_t __qorCPUisRDRAND(void);

/* a^n mod m by binary exponentiation; n = 0 gives 1, m = 0 gives 0. */
ZOK_RNG_API uint32_t __qoriPowMod(uint32_t a, uint64_t n, uint32_t m);
/* a^n mod 2^31 - 1. */
ZOK_RNG_API uint32_t __qoriPowMod2P31M1(uint32_t a, uint64_t n);
/* a^n mod 2^59. */
ZOK_RNG_API uint64_t __qoriPowMod2P59(uint64_t a, uint64_t n);
/* v (three residues, oldest first) becomes M^n·v mod m, where M has rows (0, 1, 0), (0, 0, 1) and
 * (coeff[2], coeff[1], coeff[0]): coeff holds the multipliers of the newest, middle and oldest element
 * as residues mod m. m = 0 leaves v unchanged. */
ZOK_RNG_API void __qoriVect3PowMod(uint32_t* v, const uint32_t* coeff, uint32_t m, uint64_t n);

/* ---- jump engine of the shift-register generators (MT19937, SFMT19937) ----
 * A generator state is a vector over GF(2) and one step of its recurrence a linear map T on it.
 * Advancing a state by s steps is applying g(T) with g = x^s mod phi, phi the characteristic
 * polynomial of T. Polynomials are bit arrays of (degree + 64) / 64 64-bit words, bit e the
 * coefficient of x^e. */

/* Advances the state (state_size bytes, a working copy is taken for each state the method needs)
 * by one step. */
typedef void (*ZokJumpStep)(void* state);
/* dst = dst + src over GF(2): the sum of two states of the same generator. */
typedef void (*ZokJumpAdd)(void* dst, const void* src);

/* g = x^s mod phi, where phi has degree `degree` and coefficient 1 exactly at the nterms ascending
 * `exponents` (the last is the degree, the one before it at most degree - 64). Returns 0, -3 when
 * phi is not of that form, or -4 when the work space cannot be allocated. */
ZOK_RNG_API int32_t __qorPolyRem(uint64_t s, int32_t degree, int32_t nterms, const int32_t* exponents,
                                 uint64_t* g);
/* state = g(T)·state by Horner's rule, g of degree below `degree`: one step per coefficient below
 * the leading one, one addition per set coefficient. 0, or -4 with the state unchanged. */
ZOK_RNG_API int32_t __qor_SkipAheadHorner(void* state, int32_t state_size, const uint64_t* g, int32_t degree,
                                          ZokJumpStep step, ZokJumpAdd add);
/* The same result through windows of 7 coefficients and a table of p(T)·state for the 127 non-zero
 * p of degree below 7: as many steps, about a seventh of the additions, 128 states of work space.
 * 0, or -4 with the state unchanged and everything given back. */
ZOK_RNG_API int32_t __qor_SkipAheadSWin(void* state, int32_t state_size, const uint64_t* g, int32_t degree,
                                        ZokJumpStep step, ZokJumpAdd add);

/* ---- abstract streams ----
 * Streams that hand out numbers the caller supplies: N elements in a caller buffer, used as a ring,
 * and a refill callback the stream calls whenever every buffered element has been delivered. Kinds:
 * integer (0xA00000, 32-bit words), double (0xB00000) and single (0xC00000), the last two with the
 * interval [a, b) their numbers lie in; a request for [c, d) maps each number u to
 * c + (u - a)·((d - c)/(b - a)), the factor computed once per request and in the kind's own type.
 *
 * A refill is called as callback(stream, &N, buffer, &nmin, &nmax, &idx) with nmax = N the free room,
 * nmin = min(N, elements the request still needs) and idx the buffer place where the new elements
 * start (they wrap at N). It writes between 1 and nmax elements from idx on and returns how many. The
 * four integers are copies: what the callback writes to them changes nothing. A count that is
 * negative or above nmax gives -1120, a count of 0 gives -1121; both are checked before anything is
 * copied, the elements already delivered stay in the output and are consumed, and the next request
 * calls the callback again.
 *
 * State, offsets from the start of the record (saved images carry them):
 *   integer  N at 16, start index of the unread part at 20, elements consumed from the current filling
 *            at 24 (N after creation: the first request refills), buffer at 32, callback at 40
 *   double   N, start, consumed as above; a at 32, b at 40, buffer at 48, callback at 56
 *   single   N, start, consumed as above; a at 28, b at 32, buffer at 40, callback at 48
 * A loaded stream has neither buffer nor callback (the addresses an image carries belonged to another
 * time or process), so its generator answers -5. An image whose N is below 1, start index outside
 * 0..N-1 or consumed count outside 0..N is refused.
 *
 * The caller owns buffer and callback and keeps both alive and unchanged in meaning for the stream's
 * whole life. A copy (__qorCopyStream) reads and refills the same caller buffer: two streams over one
 * buffer see each other's refills. Leapfrog gives -1002, skip-ahead -1003. */
typedef int32_t (*ZokRngAbstractCallbackI)(StreamRecord* stream, int32_t* n, uint32_t* buffer, int32_t* nmin,
                                           int32_t* nmax, int32_t* idx);
typedef int32_t (*ZokRngAbstractCallbackD)(StreamRecord* stream, int32_t* n, double* buffer, int32_t* nmin,
                                           int32_t* nmax, int32_t* idx);
typedef int32_t (*ZokRngAbstractCallbackS)(StreamRecord* stream, int32_t* n, float* buffer, int32_t* nmin,
                                           int32_t* nmax, int32_t* idx);

/* The block the constructors pass to their row's init_stream (method 0, n = 6): the addresses of N,
 * of the buffer and of the callback, then of a and b (double or float; null for the integer kind). */
typedef struct ZokRngAbstractParams {
  const int32_t* n;
  void* buffer;
  void (*callback)(void);
  const void* a;
  const void* b;
} ZokRngAbstractParams;

/* Constructors. N below 1, a null buffer or callback, or (continuous kinds) a not below b, NaN
 * included, gives -3; then -1000 when the row is not usable, -4 when the record cannot be allocated
 * (*stream is then null). Otherwise the row's init_stream result is returned and the stream is in
 * *stream (kept there, to be deleted by the caller, should initialisation fail). */
ZOK_RNG_API int32_t __qoriNewAbstractStream(StreamRecord** stream, int32_t n, uint32_t* buffer,
                                            ZokRngAbstractCallbackI callback);
ZOK_RNG_API int32_t __qordNewAbstractStream(StreamRecord** stream, int32_t n, double* buffer, double a,
                                            double b, ZokRngAbstractCallbackD callback);
ZOK_RNG_API int32_t __qorsNewAbstractStream(StreamRecord** stream, int32_t n, float* buffer, float a, float b,
                                            ZokRngAbstractCallbackS callback);

/* ---- distributions ----
 * Operations (method, stream, n, r, parameters...) that turn a stream's uniform output into variates.
 * Each returns 0 or the first negative status of a call it makes (the generator, a nested
 * distribution, an allocation), at once, leaving r partly written. n <= 0 writes nothing. */

/* Uniform method bit: results clamped into [a, b] after drawing. */
#define ZOK_RNG_UNIFORM_ACCURATE 0x40000000
/* Gaussian methods: Box-Muller with one variate per pair, with both (the second one kept on the
 * stream for the next call), and the inverse of the distribution function. */
#define ZOK_RNG_GAUSSIAN_BOXMULLER 0
#define ZOK_RNG_GAUSSIAN_BOXMULLER2 1
#define ZOK_RNG_GAUSSIAN_ICDF 2
/* GaussianMV storage of the factor t: full (lower triangle row by row in a dimen x dimen array),
 * packed (lower triangle by columns), diagonal (dimen values). */
#define ZOK_RNG_MV_FULL 0
#define ZOK_RNG_MV_PACKED 1
#define ZOK_RNG_MV_DIAGONAL 2
/* The pending pair of method 1 lives in a private chunk of this id: two doubles, or two floats. */
#define ZOK_RNG_CHUNK_GAUSSIAN_PAIR_D 2
#define ZOK_RNG_CHUNK_GAUSSIAN_PAIR_S 1

/* r[k] in [a, b) from the generator's continuous output; with ZOK_RNG_UNIFORM_ACCURATE in method,
 * clamped into [a, b] (a + (b - a)·u may round past b). */
ZOK_RNG_API int32_t _qorsRngUniform(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                    float b);
ZOK_RNG_API int32_t _qordRngUniform(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                    double b);
/* Integers in [a, b) (a < b): floor of doubles drawn on [(double)a, (double)b), b - 1 where the
 * double rounded to b. The method is ignored. */
ZOK_RNG_API int32_t _qoriRngUniform(int32_t method, StreamRecord* stream, int32_t n, int32_t* r, int32_t a,
                                    int32_t b);
/* n raw generator words of word_size bytes each. */
ZOK_RNG_API int32_t _qoriRngUniformBits(int32_t method, StreamRecord* stream, int32_t n, uint32_t* r);
/* n uniform 32-bit or 64-bit words, for MT19937, MT2203, SFMT19937, TRNG, ARS5, PHILOX4X32X10 (their
 * words; a 64-bit word is two of them, the first in the low half) and MCG59 (the top 32 of each
 * 59-bit output, paired the same way). Other generators give -1014 and nothing is written. */
ZOK_RNG_API int32_t _qoriRngUniformBits32(int32_t method, StreamRecord* stream, int32_t n, uint32_t* r);
ZOK_RNG_API int32_t _qoriRngUniformBits64(int32_t method, StreamRecord* stream, int32_t n, uint64_t* r);

/* Normal variates of mean a and standard deviation sigma by method ZOK_RNG_GAUSSIAN_* (another
 * method gives -2 and writes nothing). Logarithms of zero and erfinv(-1) inside are repaired to
 * finite values; the caller's mode word, error callback and error status are as they were on return.
 * Method 1 keeps the second variate of a pair on the stream, so calls of any sizes together give
 * the sequence of one call; its first call may give -4 (no memory for that chunk). */
ZOK_RNG_API int32_t _qorsRngGaussian(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                     float sigma);
ZOK_RNG_API int32_t _qordRngGaussian(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                     double sigma);
/* n vectors of dimen elements, one after the other in r: standard normals by the Gaussian method,
 * times the lower-triangular factor t (storage ZOK_RNG_MV_*), plus the mean. dimen 1 is the Gaussian
 * of mean[0] and sigma t[0] whatever the storage; an unknown storage leaves the standard normals. */
ZOK_RNG_API int32_t _qorsRngGaussianMV(int32_t method, StreamRecord* stream, int32_t n, float* r,
                                       int32_t dimen, int32_t mstorage, const float* mean, const float* t);
ZOK_RNG_API int32_t _qordRngGaussianMV(int32_t method, StreamRecord* stream, int32_t n, double* r,
                                       int32_t dimen, int32_t mstorage, const double* mean, const double* t);
/* max(b, exp(x)·beta + b) for x normal of mean a and deviation sigma (Gaussian method 1 for method 0,
 * method 2 otherwise). The exponential reports overflow under the caller's own error mode. */
ZOK_RNG_API int32_t _qorsRngLognormal(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                      float sigma, float b, float beta);
ZOK_RNG_API int32_t _qordRngLognormal(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                      double sigma, double b, double beta);

/* Discrete variates, written as unsigned 32-bit words (a count that reaches 2^32 or cannot be
 * computed, as in a geometric with 1 - p rounding to 1, gives 4294967295). Set-ups are kept on the
 * stream in private chunks 3 (Poisson method 0), 4 (negative binomial), 5 (binomial) and
 * 6 (hypergeometric), rebuilt when the parameters change; copies and saved images carry them. The
 * method argument is ignored except by the Poisson (0 or 1). Statuses: 0, -4 when a set-up chunk
 * cannot be allocated, or the first negative status of a draw or of __qorAddChunk. */
#define ZOK_RNG_CHUNK_POISSON 3
#define ZOK_RNG_CHUNK_NEGBINOMIAL 4
#define ZOK_RNG_CHUNK_BINOMIAL 5
#define ZOK_RNG_CHUNK_HYPERGEOMETRIC 6
/* 1 with probability p (a uniform below p as floats), else 0. */
ZOK_RNG_API int32_t _qoriRngBernoulli(int32_t method, StreamRecord* stream, int32_t n, uint32_t* r, double p);
/* Failures before the first success. The caller's mode word, error callback and error status are as
 * they were on return. */
ZOK_RNG_API int32_t _qoriRngGeometric(int32_t method, StreamRecord* stream, int32_t n, uint32_t* r, double p);
/* Successes in ntrial trials (ntrial >= 0). */
ZOK_RNG_API int32_t _qoriRngBinomial(int32_t method, StreamRecord* stream, int32_t n, uint32_t* r,
                                     int32_t ntrial, double p);
/* Marked elements in a sample of s drawn without replacement from a lot of l holding m marked
 * (0 <= s, m <= l). */
ZOK_RNG_API int32_t _qoriRngHypergeometric(int32_t method, StreamRecord* stream, int32_t n, uint32_t* r,
                                           int32_t l, int32_t s, int32_t m);
/* Poisson variates of mean lambda > 0 by method 0 (table and transformed rejection) or 1. */
ZOK_RNG_API int32_t _qoriRngPoisson(int32_t method, StreamRecord* stream, int32_t n, uint32_t* r,
                                    double lambda);
/* r[k] of mean lambda[k] >= 0 (0 gives 0). */
ZOK_RNG_API int32_t _qoriRngPoissonV(int32_t method, StreamRecord* stream, int32_t n, uint32_t* r,
                                     const double* lambda);
/* Failures before the a-th success (a > 0, 0 < p <= 1). */
ZOK_RNG_API int32_t _qoriRngNegbinomial(int32_t method, StreamRecord* stream, int32_t n, uint32_t* r,
                                        double a, double p);
/* Continuous distributions, method 0 only. Exponential, Laplace, Weibull, Rayleigh, Gumbel, gamma
 * and beta take logarithms of uniforms: a zero uniform stands for the smallest positive denormal
 * (ln 0 = -744.4400719213812, single -103.27893), so every result is finite; the caller's mode word,
 * error callback and error status are as they were on return and the callback is never called.
 * Exponential, Weibull, Rayleigh and gamma never return a value below a; beta stays in
 * [a, a + beta]. The gamma of shape above 1 keeps the second half of a normal pair in a private chunk
 * of the stream (id 7, two doubles; id 8, two floats), so calls in pieces give one sequence; -4 when
 * that chunk cannot be made. */
#define ZOK_RNG_CHUNK_GAMMA_PAIR_D 7
#define ZOK_RNG_CHUNK_GAMMA_PAIR_S 8
/* max(a, a - beta·ln U) */
ZOK_RNG_API int32_t _qorsRngExponential(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                        float beta);
ZOK_RNG_API int32_t _qordRngExponential(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                        double beta);
/* a -/+ beta·ln u from pairs (u, w), the sign by w <= 0.5 */
ZOK_RNG_API int32_t _qorsRngLaplace(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                    float beta);
ZOK_RNG_API int32_t _qordRngLaplace(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                    double beta);
/* max(a, beta·(-ln U)^(1/alpha) + a) */
ZOK_RNG_API int32_t _qorsRngWeibull(int32_t method, StreamRecord* stream, int32_t n, float* r, float alpha,
                                    float a, float beta);
ZOK_RNG_API int32_t _qordRngWeibull(int32_t method, StreamRecord* stream, int32_t n, double* r, double alpha,
                                    double a, double beta);
/* a + beta·tan U, U on (-pi/2, pi/2) */
ZOK_RNG_API int32_t _qorsRngCauchy(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                   float beta);
ZOK_RNG_API int32_t _qordRngCauchy(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                   double beta);
/* max(a, beta·sqrt(-ln U) + a) */
ZOK_RNG_API int32_t _qorsRngRayleigh(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                     float beta);
ZOK_RNG_API int32_t _qordRngRayleigh(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                     double beta);
/* beta·ln E + a for E the exponential's (0, 1) variate: the smallest-extreme-value distribution */
ZOK_RNG_API int32_t _qorsRngGumbel(int32_t method, StreamRecord* stream, int32_t n, float* r, float a,
                                   float beta);
ZOK_RNG_API int32_t _qordRngGumbel(int32_t method, StreamRecord* stream, int32_t n, double* r, double a,
                                   double beta);
/* max(a, x·beta + a) for standard gamma variates x of shape alpha */
ZOK_RNG_API int32_t _qorsRngGamma(int32_t method, StreamRecord* stream, int32_t n, float* r, float alpha,
                                  float a, float beta);
ZOK_RNG_API int32_t _qordRngGamma(int32_t method, StreamRecord* stream, int32_t n, double* r, double alpha,
                                  double a, double beta);
/* a + beta·x for beta variates x of shapes p and q */
ZOK_RNG_API int32_t _qorsRngBeta(int32_t method, StreamRecord* stream, int32_t n, float* r, float p, float q,
                                 float a, float beta);
ZOK_RNG_API int32_t _qordRngBeta(int32_t method, StreamRecord* stream, int32_t n, double* r, double p,
                                 double q, double a, double beta);

#ifdef __cplusplus
}
#endif

#endif /* ZOK_RANDOM_H */
