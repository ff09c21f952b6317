// The chunk list of a stream: attaching, finding, counting, removing and copying data blocks, and
// giving each released block back to its owner, the chunk or the shared data table.
#include <cstddef>
#include <cstring>

#include "streams/shared_data.h"
#include "zok/core_services.h"
#include "zok/random.h"

namespace zok::rng {

// Saved images and the core library see chunks in this layout.
static_assert(offsetof(StreamChunk, size) == 4);
static_assert(offsetof(StreamChunk, data) == 8);
static_assert(offsetof(StreamChunk, next) == 16);
static_assert(offsetof(StreamChunk, key) == 24);
static_assert(sizeof(StreamChunk) == 40);

namespace {

constexpr int kAlignment = 128;

StreamChunk* new_chunk(int32_t id, int32_t size, void* data) {
  auto* chunk = static_cast<StreamChunk*>(zok_serv_allocate(sizeof(StreamChunk), kAlignment));
  if (chunk != nullptr) *chunk = StreamChunk{id, size, data, nullptr, {0, 0}};
  return chunk;
}

void release_chunk(StreamChunk* chunk) {
  // A chunk whose key the table holds only references the table's block.
  if (!release_shared(chunk->key)) zok_serv_deallocate(chunk->data);
  zok_serv_deallocate(chunk);
}

void release_list(StreamChunk* head, const StreamChunk* stop) {
  while (head != stop) {
    StreamChunk* next = head->next;
    release_chunk(head);
    head = next;
  }
}

// A copy of one chunk, or null when an allocation fails, in which case nothing stays taken.
StreamChunk* copy_chunk(const StreamChunk& source) {
  StreamChunk* chunk = new_chunk(source.id, source.size, nullptr);
  if (chunk == nullptr) return nullptr;
  chunk->key[0] = source.key[0];
  chunk->key[1] = source.key[1];
  if (acquire_shared(chunk->key, &chunk->data)) return chunk;

  void* copy = nullptr;
  if (source.data != nullptr) {
    const size_t bytes = static_cast<uint32_t>(source.size);
    copy = zok_serv_allocate(bytes, kAlignment);
    if (copy == nullptr) {
      zok_serv_deallocate(chunk);
      return nullptr;
    }
    if (bytes > 0) std::memcpy(copy, source.data, bytes);
  }
  chunk->data = copy;
  if (key_is_zero(chunk->key)) return chunk;
  switch (share_block(chunk->key, copy, source.size, &chunk->data)) {
    case Sharing::kShared:  // another thread entered the key after the lookup above
      zok_serv_deallocate(copy);
      break;
    case Sharing::kEntered:
      break;
    case Sharing::kPrivate:
    case Sharing::kMismatch:  // entered meanwhile with a block of another size: the copy stays private
      chunk->key[0] = chunk->key[1] = 0;
      break;
  }
  return chunk;
}

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" {

int32_t __qorAddChunk(StreamRecord* stream, int32_t id, const uint64_t* key, void* data, int32_t size) {
  // Copies read `size` bytes from the block, so a size the block cannot back is refused before the
  // chunk exists.
  if (size < 0 || (data == nullptr && size > 0)) return ZOK_RNG_ERROR_BAD_ARGUMENT;
  StreamChunk* chunk = new_chunk(id, size, data);
  if (chunk == nullptr) return ZOK_RNG_ERROR_MEMORY;
  if (!key_is_zero(key)) {
    chunk->key[0] = key[0];
    chunk->key[1] = key[1];
    // When the key is already shared the chunk points at the shared block and the caller's block
    // stays the caller's. A key held for a block of another size is refused: the chunk's size
    // would overstate or understate the block it points at.
    const Sharing sharing = share_block(key, data, size, &chunk->data);
    if (sharing == Sharing::kMismatch) {
      zok_serv_deallocate(chunk);
      return ZOK_RNG_ERROR_BAD_ARGUMENT;
    }
    if (sharing == Sharing::kPrivate) chunk->key[0] = chunk->key[1] = 0;
  }
  chunk->next = stream->chunks;
  stream->chunks = chunk;
  return ZOK_RNG_STATUS_OK;
}

void* __qorSearchChunk(const StreamRecord* stream, int32_t id) {
  for (const StreamChunk* c = stream->chunks; c != nullptr; c = c->next)
    if (c->id == id) return c->data;
  return nullptr;
}

int32_t __qorGetNumChunks(const StreamRecord* stream) {
  int32_t count = 0;
  for (const StreamChunk* c = stream->chunks; c != nullptr; c = c->next) ++count;
  return count;
}

int32_t __qorDeleteChunksById(StreamRecord* stream, int32_t id) {
  StreamChunk** link = &stream->chunks;
  while (*link != nullptr) {
    StreamChunk* chunk = *link;
    if (chunk->id == id) {
      *link = chunk->next;
      release_chunk(chunk);
    } else {
      link = &chunk->next;
    }
  }
  return ZOK_RNG_STATUS_OK;
}

int32_t __qorDeleteChunks(StreamRecord* stream) {
  release_list(stream->chunks, nullptr);
  stream->chunks = nullptr;
  return ZOK_RNG_STATUS_OK;
}

int32_t __qorCopyChunks(StreamRecord* dest, const StreamRecord* source) {
  // The copies are linked in front of dest's old list but published only when all exist, so a
  // failure can give back exactly what this call took; dest may also be source.
  StreamChunk* const old_head = dest->chunks;
  StreamChunk* head = old_head;
  for (const StreamChunk* c = source->chunks; c != nullptr; c = c->next) {
    StreamChunk* copy = copy_chunk(*c);
    if (copy == nullptr) {
      release_list(head, old_head);
      dest->chunks = old_head;
      return ZOK_RNG_ERROR_MEMORY;
    }
    copy->next = head;
    head = copy;
  }
  dest->chunks = head;
  return ZOK_RNG_STATUS_OK;
}

}  // extern "C"
