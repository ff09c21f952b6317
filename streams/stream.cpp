// Stream records: creation, copying and deletion, the copy of one stream's state into another, and
// the leapfrog and skip-ahead requests passed to the generator's row.
#include <cstddef>
#include <cstring>

#include "streams/registry.h"
#include "zok/core_services.h"
#include "zok/random.h"

namespace zok::rng {

// Every generator's state begins right after this header; saved images depend on it.
static_assert(sizeof(StreamRecord) == kHeaderBytes);
static_assert(offsetof(StreamRecord, created) == 4);
static_assert(offsetof(StreamRecord, chunks) == 8);

namespace {

constexpr int kAlignment = 128;

// A record with its header filled and its state zeroed, or null.
StreamRecord* new_record(const GeneratorProperties& row, int32_t brng) {
  const size_t bytes = static_cast<size_t>(record_bytes(row));
  auto* stream = static_cast<StreamRecord*>(zok_serv_allocate(bytes, kAlignment));
  if (stream == nullptr) return nullptr;
  std::memset(static_cast<void*>(stream), 0, bytes);
  stream->brng = brng;
  stream->created = 1;
  return stream;
}

// The row of a valid identifier, or null.
const GeneratorProperties* checked_row(int32_t brng) {
  int32_t index = 0, member = 0;
  const GeneratorProperties* table = __qorGetBrngBaseOffset(brng, &index, &member);
  return __qorIsBrngValid(table, index, member) == ZOK_RNG_STATUS_OK ? &table[index] : nullptr;
}

unsigned char* state_of(StreamRecord* stream) {
  return reinterpret_cast<unsigned char*>(stream) + kHeaderBytes;
}
const unsigned char* state_of(const StreamRecord* stream) {
  return reinterpret_cast<const unsigned char*>(stream) + kHeaderBytes;
}

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qorNewStreamEx(StreamRecord** stream, int32_t brng, int32_t n, const uint32_t* params) {
  // Abstract streams have constructors of their own that set up their buffers.
  if (brng == ZOK_RNG_IABSTRACT || brng == ZOK_RNG_DABSTRACT || brng == ZOK_RNG_SABSTRACT)
    return ZOK_RNG_ERROR_BAD_BRNG;
  const GeneratorProperties* row = checked_row(brng);
  if (row == nullptr) return ZOK_RNG_ERROR_BAD_BRNG;
  StreamRecord* created = new_record(*row, brng);
  *stream = created;
  if (created == nullptr) return ZOK_RNG_ERROR_MEMORY;
  return row->init_stream(ZOK_RNG_METHOD_SEED, created, n, params);
}

int32_t __qorAllocateStream(StreamRecord** stream, const GeneratorProperties* table, int32_t brng,
                            int32_t index, int32_t member) {
  const int32_t status = __qorIsBrngValid(table, index, member);
  if (status != ZOK_RNG_STATUS_OK) return status;
  StreamRecord* created = new_record(table[index], brng);
  *stream = created;
  return created != nullptr ? ZOK_RNG_STATUS_OK : ZOK_RNG_ERROR_MEMORY;
}

int32_t __qorCopyStream(StreamRecord** new_stream, const StreamRecord* source) {
  const GeneratorProperties* row = checked_row(source->brng);
  if (row == nullptr) return ZOK_RNG_ERROR_BAD_BRNG;
  const size_t bytes = static_cast<size_t>(record_bytes(*row));
  auto* copy = static_cast<StreamRecord*>(zok_serv_allocate(bytes, kAlignment));
  *new_stream = nullptr;
  if (copy == nullptr) return ZOK_RNG_ERROR_MEMORY;
  zok_serv_memcpy_s(copy, bytes, source, bytes);
  copy->chunks = nullptr;
  // A half-made copy is not handed out: the caller could not tell it from a whole one.
  const int32_t status = __qorCopyChunks(copy, source);
  if (status != ZOK_RNG_STATUS_OK) {
    zok_serv_deallocate(copy);
    return status;
  }
  *new_stream = copy;
  return ZOK_RNG_STATUS_OK;
}

int32_t __qorCopyStreamState(StreamRecord* dest, const StreamRecord* source) {
  if (dest == source) return ZOK_RNG_STATUS_OK;
  const GeneratorProperties* from = operations_row(source->brng);
  const GeneratorProperties* to = operations_row(dest->brng);
  if (from == nullptr || to == nullptr) return ZOK_RNG_ERROR_BAD_BRNG;
  // The core state is seed_count words, but a WH row counts 4 words of 16 bytes while its state
  // region holds 32 bytes; no copy may pass the end of either record. The counter-based generators
  // keep unread words beside key and counter, past what their seed_count covers: a copy without
  // them would go on with stale words, so their whole region is copied.
  int64_t bytes = static_cast<int64_t>(from->word_size) * from->seed_count;
  // Counter-based generators keep buffered words, and SFMT19937 its output position 28 bytes past its
  // 625 words, beyond word_size x seed_count: without them the destination would go on from stale
  // words or from the source's words at its own position. Their states are copied whole.
  if (from->init_stream == __qorBRngPHILOX4X32X10InitStream || from->init_stream == __qorBRngARS5InitStream ||
      from->init_stream == __qorBRngSFMT19937InitStream)
    bytes = record_bytes(*from) - kHeaderBytes;
  if (bytes > record_bytes(*from) - kHeaderBytes) bytes = record_bytes(*from) - kHeaderBytes;
  if (bytes > record_bytes(*to) - kHeaderBytes) bytes = record_bytes(*to) - kHeaderBytes;
  // The copies are made before dest changes at all, so a failed copy leaves dest as it was.
  StreamRecord copies{};
  const int32_t status = __qorCopyChunks(&copies, source);
  if (status != ZOK_RNG_STATUS_OK) return status;
  if (bytes > 0) std::memcpy(state_of(dest), state_of(source), static_cast<size_t>(bytes));
  __qorDeleteChunks(dest);
  dest->chunks = copies.chunks;
  return ZOK_RNG_STATUS_OK;
}

int32_t __qorDeleteStream(StreamRecord** stream) {
  if (stream == nullptr || *stream == nullptr) return ZOK_RNG_STATUS_OK;
  __qorDeleteChunks(*stream);
  zok_serv_deallocate(*stream);
  *stream = nullptr;
  return ZOK_RNG_STATUS_OK;
}

int32_t __qorLeapfrogStream(StreamRecord* stream, int32_t k, int32_t nstreams) {
  // No generator can split a sequence into zero streams or deliver a stream beyond the last one.
  if (nstreams <= 0 || k < 0 || k >= nstreams) return ZOK_RNG_ERROR_LEAPFROG_COUNT;
  const GeneratorProperties* row = operations_row(stream->brng);
  if (row == nullptr) return ZOK_RNG_ERROR_BAD_BRNG;
  const uint32_t index = static_cast<uint32_t>(k);
  return row->init_stream(ZOK_RNG_METHOD_LEAPFROG, stream, nstreams, &index);
}

int32_t __qorSkipAheadStream(StreamRecord* stream, uint64_t nskip) {
  const GeneratorProperties* row = operations_row(stream->brng);
  if (row == nullptr) return ZOK_RNG_ERROR_BAD_BRNG;
  // The count travels as two 32-bit words, low word first.
  alignas(8) uint32_t words[2];
  std::memcpy(words, &nskip, sizeof words);
  return row->init_stream(ZOK_RNG_METHOD_SKIP, stream, 2, words);
}

int32_t __qorGetStreamStateBrng(const StreamRecord* stream) {
  return stream->brng;
}

}  // extern "C"
