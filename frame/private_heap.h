// A small private heap of fixed-size cells for the per-thread vector-math records.
#pragma once

#include <cstddef>

namespace zok::vm {

struct PrivateHeap;

// Cells are this many bytes; larger requests are refused.
inline constexpr size_t kHeapCellSize = 32;

// Creates a heap whose first chunk holds initial_bytes (at least one cell); it grows without bound.
PrivateHeap* heap_create(size_t initial_bytes);
// Returns a cell of at least `size` bytes, or null when size is too large or memory is exhausted.
void* heap_alloc(PrivateHeap* heap, size_t size);
void heap_free(PrivateHeap* heap, void* cell);
// Gives every chunk back to the core allocator.
void heap_destroy(PrivateHeap* heap);
// Cells handed out and not yet freed.
size_t heap_live_cells(const PrivateHeap* heap);

}  // namespace zok::vm
