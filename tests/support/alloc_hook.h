// The core allocator as test programs see it: counts live blocks, puts a guard zone behind each
// one (checked when it comes back) and fails on request, then forwards to the real allocator.
#pragma once

namespace zok::test {

// Blocks handed out by zok_serv_allocate and not yet given back.
long outstanding_blocks();
// Makes only the k-th allocation from now on fail (k >= 1); 0 lets all through.
void fail_allocation(long k);
// After `successes` more allocations every one fails, until allow_allocations().
void fail_allocations_after(long successes);
void allow_allocations();
// Allocations asked for since the last fail_allocation().
long allocations_since_armed();

}  // namespace zok::test
