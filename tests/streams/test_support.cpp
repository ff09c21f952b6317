// The counter generator the stream tests register.
#include "tests/streams/test_support.h"

#include <cstring>

#include "streams/shared_data.h"
#include "zok/core_services.h"

namespace zok::test {

void StreamTest::SetUp() {
  brng_ = counter_brng();
  ASSERT_GT(brng_, 0);
  blocks_ = outstanding_blocks();
  entries_ = rng::shared_table().entry_count;
}

void StreamTest::TearDown() {
  allow_allocations();
  EXPECT_EQ(outstanding_blocks(), blocks_) << "blocks leaked or freed twice";
  EXPECT_EQ(rng::shared_table().entry_count, entries_) << "shared entries left behind";
}

StreamRecord* StreamTest::make(uint32_t seed, uint32_t step) {
  const uint32_t params[2] = {seed, step};
  StreamRecord* s = nullptr;
  EXPECT_EQ(__qorNewStreamEx(&s, brng_, 2, params), 0);
  return s;
}

void* block(int32_t size, unsigned char fill) {
  void* p = zok_serv_allocate(static_cast<size_t>(size), 128);
  std::memset(p, fill, static_cast<size_t>(size));
  return p;
}

std::vector<const StreamChunk*> chunk_list(const StreamRecord* s) {
  std::vector<const StreamChunk*> out;
  for (const StreamChunk* c = s->chunks; c != nullptr; c = c->next) out.push_back(c);
  return out;
}

int32_t refcount(const uint64_t* key) {
  GlobalRODataEntry* e = nullptr;
  return __qorFindGlobRODataTableEntry(&e, key) == 0 ? e->refcount : -1;
}

InitLog& init_log() {
  thread_local InitLog log{};
  return log;
}

namespace {

int32_t counter_init(int32_t method, StreamRecord* stream, int32_t n, const uint32_t* params) {
  InitLog& log = init_log();
  ++log.calls;
  log.method = method;
  log.n = n;
  log.first_param = params != nullptr ? params[0] : 0;
  CounterState* st = counter_state(stream);
  switch (method) {
    case ZOK_RNG_METHOD_SEED:
      st->value = n >= 1 ? params[0] : 1;
      st->step = n >= 2 ? params[1] : 1;
      return st->value == kFailingSeed ? kFailingStatus : 0;
    case ZOK_RNG_METHOD_LEAPFROG:
      st->leap_index = params[0];
      st->leap_count = static_cast<uint32_t>(n);
      return 0;
    case ZOK_RNG_METHOD_SKIP:
      std::memcpy(&log.skip, params, sizeof log.skip);
      st->skipped = log.skip;
      return 0;
    default:
      return ZOK_RNG_ERROR_METHOD;
  }
}

int32_t counter_i(StreamRecord* stream, int32_t n, uint32_t* r) {
  CounterState* st = counter_state(stream);
  for (int32_t i = 0; i < n; ++i, st->value += st->step) r[i] = st->value;
  return 0;
}

int32_t counter_d(StreamRecord* stream, int32_t n, double* r, double a, double b) {
  CounterState* st = counter_state(stream);
  for (int32_t i = 0; i < n; ++i, st->value += st->step) r[i] = a + (b - a) * (st->value * 0x1p-32);
  return 0;
}

int32_t counter_s(StreamRecord* stream, int32_t n, float* r, float a, float b) {
  CounterState* st = counter_state(stream);
  for (int32_t i = 0; i < n; ++i, st->value += st->step)
    r[i] = a + (b - a) * static_cast<float>(st->value * 0x1p-32);
  return 0;
}

}  // namespace

int32_t counter_brng() {
  static const int32_t id = [] {
    const GeneratorProperties row{kCounterStateSize, 2,         1,         4,        32,
                                  counter_init,      counter_s, counter_d, counter_i};
    return __qorRegisterBrng(&row);
  }();
  return id;
}

}  // namespace zok::test
