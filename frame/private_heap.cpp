// The record heap: chunks from the core allocator carved into 32-byte cells on a free list.
#include "frame/private_heap.h"

#include <new>

#include "zok/core_services.h"

namespace zok::vm {

namespace {

struct Chunk {
  Chunk* next;
  size_t cells;
};

union Cell {
  Cell* next;
  unsigned char bytes[kHeapCellSize];
};

// Cells start one cell behind the chunk header so that every cell keeps the chunk's alignment.
static_assert(sizeof(Chunk) <= sizeof(Cell));

}  // namespace

struct PrivateHeap {
  int lock = 0;
  Chunk* chunks = nullptr;
  Cell* free_list = nullptr;
  size_t next_cells = 1;
  size_t live = 0;
};

namespace {

bool grow(PrivateHeap* h) {
  const size_t cells = h->next_cells;
  void* mem = zok_serv_allocate(sizeof(Cell) * (cells + 1), 128);
  if (mem == nullptr) return false;
  Chunk* chunk = new (mem) Chunk{h->chunks, cells};
  h->chunks = chunk;
  Cell* first = reinterpret_cast<Cell*>(mem) + 1;
  for (size_t i = 0; i < cells; ++i) {
    Cell* c = new (first + i) Cell;
    c->next = h->free_list;
    h->free_list = c;
  }
  // Doubling keeps the number of chunks logarithmic in the number of threads ever alive at once.
  h->next_cells = cells * 2;
  return true;
}

}  // namespace

PrivateHeap* heap_create(size_t initial_bytes) {
  void* mem = zok_serv_allocate(sizeof(PrivateHeap), 128);
  if (mem == nullptr) return nullptr;
  PrivateHeap* h = new (mem) PrivateHeap;
  const size_t cells = (initial_bytes + kHeapCellSize - 1) / kHeapCellSize;
  h->next_cells = cells == 0 ? 1 : cells;
  return h;
}

void* heap_alloc(PrivateHeap* h, size_t size) {
  if (h == nullptr || size > kHeapCellSize) return nullptr;
  zok_serv_lock(&h->lock);
  if (h->free_list == nullptr && !grow(h)) {
    zok_serv_unlock(&h->lock);
    return nullptr;
  }
  Cell* c = h->free_list;
  h->free_list = c->next;
  ++h->live;
  zok_serv_unlock(&h->lock);
  return c;
}

void heap_free(PrivateHeap* h, void* p) {
  if (h == nullptr || p == nullptr) return;
  zok_serv_lock(&h->lock);
  Cell* c = static_cast<Cell*>(p);
  c->next = h->free_list;
  h->free_list = c;
  --h->live;
  zok_serv_unlock(&h->lock);
}

void heap_destroy(PrivateHeap* h) {
  if (h == nullptr) return;
  for (Chunk* c = h->chunks; c != nullptr;) {
    Chunk* next = c->next;
    zok_serv_deallocate(c);
    c = next;
  }
  h->~PrivateHeap();
  zok_serv_deallocate(h);
}

size_t heap_live_cells(const PrivateHeap* h) {
  return h == nullptr ? 0 : h->live;
}

}  // namespace zok::vm
