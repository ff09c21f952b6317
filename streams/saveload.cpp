// Stream images: saving a stream with its chunks to a file or a memory buffer and loading it back.
// Files and buffers go through one procedure; only the channel that moves the bytes differs.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "streams/generators/abstract.h"
#include "streams/generators/hardware.h"
#include "streams/generators/quasi.h"
#include "streams/registry.h"
#include "zok/core_services.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

constexpr int kAlignment = 128;
constexpr size_t kImageHeader = 20;
constexpr size_t kChunkHead = 24;  // id, key and size of a version-1 chunk record
constexpr uint32_t kMaxChunks = 0xFFFF;
constexpr uint64_t kMaxImage = 0x7FFFFFFF;

uint32_t get16(const unsigned char* p) {
  return p[0] | static_cast<uint32_t>(p[1]) << 8;
}
uint32_t get32(const unsigned char* p) {
  return get16(p) | get16(p + 2) << 16;
}
void put16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

// Moves blocks to or from a file or a buffer and never past `limit` bytes in all. A buffer whose
// length the caller did not give has no limit: the header and chunk sizes alone decide what is read.
class Channel {
 public:
  static Channel file(FILE* f, size_t limit) { return Channel(f, nullptr, limit); }
  static Channel memory(void* buffer, size_t limit) {
    return Channel(nullptr, static_cast<unsigned char*>(buffer), limit);
  }
  bool is_file() const { return file_ != nullptr; }
  size_t left() const { return limit_ - offset_; }
  bool read(void* dst, size_t n) {
    if (n > left()) return false;
    if (n == 0) return true;
    if (file_ != nullptr) {
      if (std::fread(dst, 1, n, file_) != n) return false;
    } else {
      std::memcpy(dst, bytes_ + offset_, n);
    }
    offset_ += n;
    return true;
  }
  bool write(const void* src, size_t n) {
    if (n > left()) return false;
    if (n == 0) return true;
    if (file_ != nullptr) {
      if (std::fwrite(src, 1, n, file_) != n) return false;
    } else {
      std::memcpy(bytes_ + offset_, src, n);
    }
    offset_ += n;
    return true;
  }

 private:
  Channel(FILE* f, unsigned char* bytes, size_t limit) : file_(f), bytes_(bytes), limit_(limit) {}
  FILE* file_;
  unsigned char* bytes_;
  size_t offset_ = 0;
  size_t limit_;
};

unsigned char* state_bytes(StreamRecord* s) {
  return reinterpret_cast<unsigned char*>(s) + kHeaderBytes;
}
size_t state_length(const GeneratorProperties& row) {
  return static_cast<size_t>(record_bytes(row) - kHeaderBytes);
}

// The image size of a stream of `row`, or ZOK_RNG_ERROR_IMAGE_SIZE when the format's 16-bit
// chunk count or a 32-bit signed size cannot describe it.
int32_t image_size(const StreamRecord* s, const GeneratorProperties& row) {
  uint64_t total = kImageHeader + state_length(row);
  uint32_t count = 0;
  for (const StreamChunk* c = s->chunks; c != nullptr; c = c->next) {
    if (++count > kMaxChunks) return ZOK_RNG_ERROR_IMAGE_SIZE;
    total += kChunkHead + static_cast<uint32_t>(c->size);
    if (total > kMaxImage) return ZOK_RNG_ERROR_IMAGE_SIZE;
  }
  return static_cast<int32_t>(total);
}

const GeneratorProperties* valid_row(int32_t brng, const GeneratorProperties** table, int32_t* index,
                                     int32_t* member) {
  *table = __qorGetBrngBaseOffset(brng, index, member);
  return __qorIsBrngValid(*table, *index, *member) == ZOK_RNG_STATUS_OK ? &(*table)[*index] : nullptr;
}

int32_t save(const StreamRecord* s, Channel& out) {
  const GeneratorProperties* table = nullptr;
  int32_t index = 0, member = 0;
  const GeneratorProperties* row = valid_row(s->brng, &table, &index, &member);
  if (row == nullptr) return ZOK_RNG_ERROR_BAD_BRNG;
  if (const int32_t size = image_size(s, *row); size < 0) return size;
  // Only a file write can fall short: a buffer is sized by the caller.
  const int32_t failed = ZOK_RNG_ERROR_FILE_WRITE;

  // Bytes that carry no value are written as zeros, so equal streams give equal images.
  unsigned char header[kImageHeader] = {1, 0, 0, 0, 'R', 'N', 'G', 0};
  put16(header + 8, kImageHeader);
  // Only the low 16 bits of a state size fit the field (the largest generators exceed them); the
  // loader compares those and takes the rest of the size from the generator's row.
  put16(header + 10, static_cast<uint32_t>(row->state_size - kHeaderBytes) & 0xFFFF);
  put16(header + 12, static_cast<uint32_t>(__qorGetNumChunks(s)));
  put32(header + 16, static_cast<uint32_t>(s->brng));
  if (!out.write(header, sizeof header)) return failed;
  if (!out.write(reinterpret_cast<const unsigned char*>(s) + kHeaderBytes, state_length(*row))) return failed;
  for (const StreamChunk* c = s->chunks; c != nullptr; c = c->next) {
    unsigned char id[4], key[16], size[4];
    put32(id, static_cast<uint32_t>(c->id));
    for (int w = 0; w < 2; ++w) {
      put32(key + 8 * w, static_cast<uint32_t>(c->key[w]));
      put32(key + 8 * w + 4, static_cast<uint32_t>(c->key[w] >> 32));
    }
    put32(size, static_cast<uint32_t>(c->size));
    if (!out.write(id, 4) || !out.write(key, 16) || !out.write(size, 4) ||
        !out.write(c->data, static_cast<uint32_t>(c->size)))
      return failed;
  }
  return ZOK_RNG_STATUS_OK;
}

// Generators index their state with these fields, so a loaded value outside what the generator
// itself can produce would send it outside the record. The offsets are those of the generators'
// states (see random.h); a registered row reusing an operation with a smaller record is skipped.
struct FieldBound {
  ZokRngInitStream init;
  size_t offset;  // from the start of the state
  uint32_t most;
};
const FieldBound kFieldBounds[] = {
    {__qorBRngR250InitStream, 1000, 249},      {__qorBRngR250InitStream, 1004, 249},
    {__qorBRngPHILOX4X32X10InitStream, 24, 4}, {__qorBRngARS5InitStream, 32, 4},
    {__qorBRngMT19937InitStream, 2496, 624},   {__qorBRngMT2203InitStream, 276, 69},
    {__qorBRngSFMT19937InitStream, 2512, 624}, {__qorBRngSFMT19937InitStream, 2516, 0},
};

bool state_in_range(const GeneratorProperties& row, const unsigned char* state) {
  for (const FieldBound& f : kFieldBounds) {
    if (f.init != row.init_stream || f.offset + 4 > state_length(row)) continue;
    uint32_t v = 0;
    std::memcpy(&v, state + f.offset, 4);
    if (v > f.most) return false;
  }
  // R250 keeps its two lags 103 places apart on the ring of 250 words.
  if (row.init_stream == __qorBRngR250InitStream && state_length(row) >= 1008) {
    uint32_t i = 0, j = 0;
    std::memcpy(&i, state + 1000, 4);
    std::memcpy(&j, state + 1004, 4);
    if (j != (i + 103) % 250) return false;
  }
  return true;
}

int32_t load_chunks(StreamRecord* s, Channel& in, uint32_t count, unsigned version) {
  for (uint32_t k = 0; k < count; ++k) {
    unsigned char id[4], key_bytes[16] = {}, size_bytes[4];
    if (!in.read(id, 4)) return ZOK_RNG_ERROR_FILE_READ;
    if (version > 1 || (version == 1 && !in.read(key_bytes, 16)) || !in.read(size_bytes, 4))
      return ZOK_RNG_ERROR_FILE_READ;
    const int32_t size = static_cast<int32_t>(get32(size_bytes));
    // A size the image cannot hold is refused before a block of that size is asked for.
    if (size < 0 || static_cast<size_t>(size) > in.left()) return ZOK_RNG_ERROR_FILE_READ;
    void* block = zok_serv_allocate(static_cast<size_t>(size), kAlignment);
    if (block == nullptr) return ZOK_RNG_ERROR_MEMORY;
    if (!in.read(block, static_cast<size_t>(size))) {
      zok_serv_deallocate(block);
      return ZOK_RNG_ERROR_FILE_READ;
    }
    const uint64_t key[2] = {get32(key_bytes) | static_cast<uint64_t>(get32(key_bytes + 4)) << 32,
                             get32(key_bytes + 8) | static_cast<uint64_t>(get32(key_bytes + 12)) << 32};
    if (const int32_t status = __qorAddChunk(s, static_cast<int32_t>(get32(id)), key, block, size);
        status != ZOK_RNG_STATUS_OK) {
      zok_serv_deallocate(block);
      // A key that is already shared for a block of another size: the image contradicts itself or
      // a live stream.
      return status == ZOK_RNG_ERROR_BAD_ARGUMENT ? ZOK_RNG_ERROR_FILE_READ : status;
    }
    // A key already shared points the chunk at the shared block; the loaded copy is nobody's.
    if (s->chunks->data != block) zok_serv_deallocate(block);
  }
  return ZOK_RNG_STATUS_OK;
}

int32_t load_into(StreamRecord** stream, Channel& in) {
  unsigned char h[kImageHeader];
  if (!in.read(h, sizeof h)) return ZOK_RNG_ERROR_FILE_READ;
  const int32_t refused = in.is_file() ? ZOK_RNG_ERROR_FILE_HEADER : ZOK_RNG_ERROR_MEMORY_HEADER;
  // Images of an older writer carry the magic at the start.
  const bool magic = std::memcmp(h + 4, "RNG", 3) == 0 || std::memcmp(h, "RNG", 3) == 0;
  const int32_t brng = static_cast<int32_t>(get32(h + 16));
  const GeneratorProperties* table = nullptr;
  int32_t index = 0, member = 0;
  const GeneratorProperties* row = magic ? valid_row(brng, &table, &index, &member) : nullptr;
  // A header longer than 20 bytes is accepted, and its extra bytes are not skipped: stored images
  // may rely on the state following at byte 20.
  if (row == nullptr || get16(h + 10) != (static_cast<uint32_t>(row->state_size - kHeaderBytes) & 0xFFFF) ||
      get16(h + 8) < kImageHeader)
    return refused;

  if (const int32_t status = __qorAllocateStream(stream, table, brng, index, member);
      status != ZOK_RNG_STATUS_OK)
    return status;
  if (!in.read(state_bytes(*stream), state_length(*row))) return ZOK_RNG_ERROR_FILE_READ;
  if (!state_in_range(*row, state_bytes(*stream))) return refused;
  // An abstract stream's image carries buffer and callback addresses of the process that saved it:
  // they are dropped (the stream then answers -5), and the ring fields checked.
  if (!abstract_state_loaded(*row, *stream)) return refused;
  if (row->init_stream == __qorBRngTRNGInitStream && !has_rdrand()) return ZOK_RNG_ERROR_NO_RDRAND;
  if (row->init_stream == __qorBRngARS5InitStream && !has_aes()) return ZOK_RNG_ERROR_NO_AES;
  if (const int32_t status = load_chunks(*stream, in, get16(h + 12), h[0]); status != ZOK_RNG_STATUS_OK)
    return status;
  // The quasi-random generators index their tables (in the state or in chunks) by their fields.
  const bool quasi =
      row->init_stream == __qorBRngSobolInitStream || row->init_stream == __qorBRngNiederrInitStream;
  return quasi && !zok::rng::quasi::state_fits(*stream) ? refused : ZOK_RNG_STATUS_OK;
}

int32_t load(StreamRecord** stream, Channel& in) {
  *stream = nullptr;
  const int32_t status = load_into(stream, in);
  if (status != ZOK_RNG_STATUS_OK) __qorDeleteStream(stream);
  return status;
}

// The file name as the runtime wants it: a copy ended by a zero byte when a length is given, the
// caller's own string otherwise. *copy is what to free.
int32_t file_name(const char* name, int32_t length, char** copy, const char** path) {
  *copy = nullptr;
  *path = name;
  if (length < 0) return ZOK_RNG_STATUS_OK;
  *copy = static_cast<char*>(zok_serv_allocate(static_cast<size_t>(length) + 1, kAlignment));
  if (*copy == nullptr) return ZOK_RNG_ERROR_MEMORY;
  std::memcpy(*copy, name, static_cast<size_t>(length));
  (*copy)[length] = '\0';
  *path = *copy;
  return ZOK_RNG_STATUS_OK;
}

// Opens the named file, runs `body` on a channel over it, closes it and frees the name copy.
template <class Body>
int32_t with_file(const char* name, int32_t length, const char* mode, Body body) {
  char* copy = nullptr;
  const char* path = nullptr;
  int32_t status = file_name(name, length, &copy, &path);
  if (status != ZOK_RNG_STATUS_OK) return status;
  FILE* f = std::fopen(path, mode);
  zok_serv_deallocate(copy);
  if (f == nullptr) return ZOK_RNG_ERROR_FILE_OPEN;
  // A regular file's length bounds what a load may read, like a buffer's; a pipe has no length.
  struct stat info {};
  size_t limit = SIZE_MAX;
  if (mode[0] == 'r' && fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode))
    limit = static_cast<size_t>(info.st_size);
  Channel channel = Channel::file(f, limit);
  status = body(channel);
  if (std::fclose(f) != 0 && status == ZOK_RNG_STATUS_OK) status = ZOK_RNG_ERROR_FILE_CLOSE;
  return status;
}

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qorSaveStreamF(const StreamRecord* stream, const char* name, int32_t name_length) {
  const GeneratorProperties* table = nullptr;
  int32_t index = 0, member = 0;
  const GeneratorProperties* row = valid_row(stream->brng, &table, &index, &member);
  if (row == nullptr) return ZOK_RNG_ERROR_BAD_BRNG;
  // Refused before the file is opened, so an existing file is not emptied for nothing.
  if (const int32_t size = image_size(stream, *row); size < 0) return size;
  return with_file(name, name_length, "wb", [stream](Channel& out) { return save(stream, out); });
}

int32_t __qorLoadStreamF(StreamRecord** stream, const char* name, int32_t name_length) {
  *stream = nullptr;
  return with_file(name, name_length, "rb", [stream](Channel& in) { return load(stream, in); });
}

int32_t __qorSaveStreamM(const StreamRecord* stream, void* buffer) {
  Channel out = Channel::memory(buffer, SIZE_MAX);
  return save(stream, out);
}

int32_t __qorLoadStreamM(StreamRecord** stream, const void* buffer) {
  Channel in = Channel::memory(const_cast<void*>(buffer), SIZE_MAX);
  return load(stream, in);
}

int32_t __qorLoadStreamMEx(StreamRecord** stream, const void* buffer, size_t length) {
  Channel in = Channel::memory(const_cast<void*>(buffer), length);
  return load(stream, in);
}

int32_t __qorGetStreamSize(const StreamRecord* stream) {
  const GeneratorProperties* table = nullptr;
  int32_t index = 0, member = 0;
  const GeneratorProperties* row = valid_row(stream->brng, &table, &index, &member);
  return row != nullptr ? image_size(stream, *row) : ZOK_RNG_ERROR_BAD_BRNG;
}

}  // extern "C"
