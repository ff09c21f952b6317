// MT2203: a family of 69-word twisted shift registers with period 2^2203 - 1, the members differing
// in their twist constant and tempering masks; seeded by init-by-array, regenerated eight words a
// round on AVX2.
#include <cstddef>
#include <cstdint>

#include "streams/generators/generator_common.h"
#include "streams/generators/mt2203_members.h"
#include "streams/generators/twister.h"
#include "zok/random.h"

namespace zok::rng {

namespace {

using Mt = Twister<69, 34, 0xFFFFFFE0u>;
constexpr int N = Mt::N;

struct Mt2203State {
  uint32_t mt[N];
  uint32_t index;  // the next word to deliver; N when the block is used up
  uint32_t a;      // twist constant of the member
  uint32_t b, c;   // tempering masks of the member
  uint32_t unused;
};
static_assert(offsetof(Mt2203State, index) == 276 && offsetof(Mt2203State, a) == 280 &&
              offsetof(Mt2203State, c) == 288 && sizeof(Mt2203State) == 296);

// The member named by the record's identifier: -1000 beyond the family, -1001 for a member whose
// constants this build does not have yet.
int32_t member_status(const StreamRecord* stream, int32_t& member) {
  member = stream->brng & ZOK_RNG_MEMBER_MASK;
  if (member >= kMt2203MemberCount) return ZOK_RNG_ERROR_BAD_BRNG;
  return kMt2203Members[member][0] == 0 ? ZOK_RNG_ERROR_UNAVAILABLE : ZOK_RNG_STATUS_OK;
}

struct Mt2203 {
  using State = Mt2203State;
  template <class Out>
  static int32_t run(StreamRecord* stream, int32_t n, const Out out) {
    int32_t member = 0;
    const int32_t status = member_status(stream, member);
    if (status != ZOK_RNG_STATUS_OK) return status;
    State& st = state_of<State>(stream);
    twister_generate<Mt>(st.mt, st.index, st.a, Tempering{12, st.b, st.c}, n, out);
    return ZOK_RNG_STATUS_OK;
  }
  static int32_t ints(StreamRecord* stream, int32_t n, uint32_t* r) { return run(stream, n, IntOut{r}); }
  static int32_t reals(StreamRecord* stream, int32_t n, float* r, double a, double b) {
    return run(stream, n, signed_real_out(r, a, b));
  }
  // Doubles convert whole buffers of words at once, not a block of 69 words at a time.
  static int32_t reals(StreamRecord* stream, int32_t n, double* r, double a, double b) {
    int32_t member = 0;
    const int32_t status = member_status(stream, member);
    if (status != ZOK_RNG_STATUS_OK) return status;
    State& st = state_of<State>(stream);
    const SignedRealOut<double> form = signed_real_out(r, a, b);
    twister_doubles<Mt>(
        st.mt, st.index, st.a, Tempering{12, st.b, st.c}, n, r,
        [=](const uint32_t* w, int64_t m, double* out) { signed_to_real(w, m, out, form.scale, form.mid); });
    return ZOK_RNG_STATUS_OK;
  }
};

}  // namespace

}  // namespace zok::rng

using namespace zok::rng;

extern "C" int32_t __qorBRngMT2203InitStream(int32_t method, StreamRecord* stream, int32_t n,
                                             const uint32_t* params) {
  if (method == ZOK_RNG_METHOD_LEAPFROG) return ZOK_RNG_ERROR_NO_LEAPFROG;
  if (method == ZOK_RNG_METHOD_SKIP) return ZOK_RNG_ERROR_NO_SKIP_AHEAD;
  if (method != ZOK_RNG_METHOD_SEED) return ZOK_RNG_ERROR_METHOD;
  int32_t member = 0;
  const int32_t status = member_status(stream, member);
  if (status != ZOK_RNG_STATUS_OK) return status;
  Mt2203State& st = state_of<Mt2203State>(stream);
  twister_seed<N>(st.mt, n, params);
  st.index = N;
  st.a = kMt2203Members[member][0];
  st.b = kMt2203Members[member][1];
  st.c = kMt2203Members[member][2];
  st.unused = 0;
  return ZOK_RNG_STATUS_OK;
}

ZOK_GENERATOR_ENTRIES(MT2203, Mt2203)
