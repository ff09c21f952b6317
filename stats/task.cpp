// Summary-statistics tasks: creation with its checks, the parameter-identifier table, the single- and
// multi-field editors, and deletion with its cleanup list.
#include "stats/task.h"

#include <cstring>
#include <initializer_list>

#include "zok/core_services.h"

namespace zok::ss {

namespace {

constexpr uint16_t off(size_t o) {
  return static_cast<uint16_t>(o);
}
#define ZOK_SS_AT(f) off(offsetof(SSTask, f))
#define ZOK_SS_AT_I(f, i) off(offsetof(SSTask, f) + (i) * sizeof(void*))
constexpr Kind I = Kind::kInt;
constexpr Kind R = Kind::kReal;

}  // namespace

const Param kParams[ZOK_SS_ID_COUNT + 1] = {
    {Kind::kNone, 0, 0},
    {I, ZOK_SS_AT(p), -4001},                     // 1
    {I, ZOK_SS_AT(n), -4002},                     // 2
    {R, ZOK_SS_AT(x), -4032},                     // 3
    {I, ZOK_SS_AT(x_storage), -4044},             // 4
    {I, ZOK_SS_AT(indices), -4004},               // 5
    {R, ZOK_SS_AT(weights), -4005},               // 6
    {R, ZOK_SS_AT(mean), -4006},                  // 7
    {R, ZOK_SS_AT_I(raw, 0), -4007},              // 8
    {R, ZOK_SS_AT_I(raw, 1), -4008},              // 9
    {R, ZOK_SS_AT_I(raw, 2), -4009},              // 10
    {R, ZOK_SS_AT_I(central, 0), -4010},          // 11
    {R, ZOK_SS_AT_I(central, 1), -4011},          // 12
    {R, ZOK_SS_AT_I(central, 2), -4012},          // 13
    {R, ZOK_SS_AT(kurtosis), -4013},              // 14
    {R, ZOK_SS_AT(skewness), -4014},              // 15
    {R, ZOK_SS_AT(min), -4015},                   // 16
    {R, ZOK_SS_AT(max), -4016},                   // 17
    {R, ZOK_SS_AT(variation), -4017},             // 18
    {R, ZOK_SS_AT(cov), -4018},                   // 19
    {I, ZOK_SS_AT(cov_storage), -4044},           // 20
    {R, ZOK_SS_AT(cor), -4019},                   // 21
    {I, ZOK_SS_AT(cor_storage), -4044},           // 22
    {R, ZOK_SS_AT(accum_weights), -4020},         // 23
    {I, ZOK_SS_AT(quantile_order_count), -4022},  // 24
    {R, ZOK_SS_AT(quantile_orders), -4021},       // 25
    {R, ZOK_SS_AT(quantiles), -4023},             // 26
    {R, ZOK_SS_AT(order_stats), -4024},           // 27
    {I, ZOK_SS_AT(group_index), -4038},           // 28
    {I, ZOK_SS_AT(pooled_cov_storage), -4044},    // 29
    {R, ZOK_SS_AT(pooled_mean), -4035},           // 30
    {R, ZOK_SS_AT(pooled_cov), -4034},            // 31
    {I, ZOK_SS_AT(group_selection), -4038},       // 32
    {R, ZOK_SS_AT(group_means), -4037},           // 33
    {I, ZOK_SS_AT(group_cov_storage), -4044},     // 34
    {R, ZOK_SS_AT(group_cov), -4036},             // 35
    {I, ZOK_SS_AT(robust_cov_storage), -4044},    // 36
    {I, ZOK_SS_AT(robust_param_count), -4043},    // 37
    {R, ZOK_SS_AT(robust_params), -4042},         // 38
    {R, ZOK_SS_AT(robust_mean), -4028},           // 39
    {R, ZOK_SS_AT(robust_cov), -4027},            // 40
    {I, ZOK_SS_AT(outlier_param_count), -4040},   // 41
    {R, ZOK_SS_AT(outlier_params), -4039},        // 42
    {R, ZOK_SS_AT(outlier_weights), -4041},       // 43
    {I, ZOK_SS_AT(order_stats_storage), -4044},   // 44
    {I, ZOK_SS_AT(partial_selection), -4045},     // 45
    {R, ZOK_SS_AT(partial_cov), -4046},           // 46
    {I, ZOK_SS_AT(partial_cov_storage), -4044},   // 47
    {R, ZOK_SS_AT(partial_cor), -4047},           // 48
    {I, ZOK_SS_AT(partial_cor_storage), -4044},   // 49
    {I, ZOK_SS_AT(missing_param_count), -4049},   // 50
    {R, ZOK_SS_AT(missing_params), -4048},        // 51
    {I, ZOK_SS_AT(init_count), -4052},            // 52
    {R, ZOK_SS_AT(init_estimates), -4053},        // 53
    {I, ZOK_SS_AT(simul_count), -4055},           // 54
    {R, ZOK_SS_AT(simul_values), -4054},          // 55
    {I, ZOK_SS_AT(estimate_count), -4056},        // 56
    {R, ZOK_SS_AT(estimates), -4057},             // 57
    {I, ZOK_SS_AT(prior_count), -4061},           // 58
    {R, ZOK_SS_AT(prior_params), -4062},          // 59
    {R, ZOK_SS_AT(param_cor), -4071},             // 60
    {I, ZOK_SS_AT(param_cor_storage), -4044},     // 61
    {I, ZOK_SS_AT(stream_param_count), -4066},    // 62
    {R, ZOK_SS_AT(stream_params), -4065},         // 63
    {I, ZOK_SS_AT(stream_order_count), -4069},    // 64
    {R, ZOK_SS_AT(stream_orders), -4068},         // 65
    {R, ZOK_SS_AT(stream_quantiles), -4070},      // 66
    {R, ZOK_SS_AT(sum), -4074},                   // 67
    {R, ZOK_SS_AT_I(raw_sum, 0), -4075},          // 68
    {R, ZOK_SS_AT_I(raw_sum, 1), -4076},          // 69
    {R, ZOK_SS_AT_I(raw_sum, 2), -4077},          // 70
    {R, ZOK_SS_AT_I(central_sum, 0), -4078},      // 71
    {R, ZOK_SS_AT_I(central_sum, 1), -4079},      // 72
    {R, ZOK_SS_AT_I(central_sum, 2), -4080},      // 73
    {R, ZOK_SS_AT(cp), -4081},                    // 74
    {I, ZOK_SS_AT(cp_storage), -4044},            // 75
    {R, ZOK_SS_AT(median_abs_dev), -4082},        // 76
    {R, ZOK_SS_AT(mean_abs_dev), -4083},          // 77
    {R, ZOK_SS_AT(sorted), -4084},                // 78
    {I, ZOK_SS_AT(sorted_storage), -4044},        // 79
};
#undef ZOK_SS_AT
#undef ZOK_SS_AT_I

bool add_cleanup(SSTask* task, void (*routine)(SSTask*)) {
  constexpr int32_t kSlots = sizeof task->cleanup / sizeof task->cleanup[0];
  if (task->cleanup_count >= kSlots) return false;
  task->cleanup[task->cleanup_count++] = routine;
  return true;
}

namespace {

template <class T>
int32_t new_task(SSTask** task_out, const void* p, const void* n, const void* x_storage, const T* x,
                 const T* w, const void* indices, int32_t int64_flag, int32_t precision) {
  // The integer checks read through a scratch record that carries only the width.
  SSTask probe{};
  probe.int_width = int64_flag;
  if (p == nullptr || read_int(probe, p) < 1) return ErrP;
  if (x != nullptr) {
    if (x_storage == nullptr) return ErrStoragePtr;
    const int64_t storage = read_int(probe, x_storage);
    if (storage != ZOK_SS_STORAGE_ROWS && storage != ZOK_SS_STORAGE_COLUMNS) return ErrStorage;
    if (n == nullptr || read_int(probe, n) < 1) return ErrN;
  }
  // Without somewhere to put the task it could never be deleted.
  if (task_out == nullptr) return ErrNullTask;
  auto* task = static_cast<SSTask*>(zok_serv_allocate(sizeof(SSTask), kAlignment));
  if (task == nullptr) return ErrMemory;
  std::memset(static_cast<void*>(task), 0, sizeof(SSTask));
  task->int_width = int64_flag;
  task->kind = 2;
  task->precision = precision;
  task->p = p;
  task->n = n;
  task->x_storage = x_storage;
  task->x = x;
  task->weights = w;
  task->indices = indices;
  *task_out = task;
  return kOk;
}

int32_t edit_one(SSTask* task, int64_t id, const void* pointer, Kind kind) {
  if (task == nullptr) return ErrNullTask;
  if (id < 1 || id > ZOK_SS_ID_COUNT || kParams[id].kind != kind) return ErrBadId;
  if (pointer == nullptr) return kParams[id].null_status;
  field(task, id) = pointer;
  return kOk;
}

// The multi-field editors: argument i goes to identifier ids[i]; null arguments keep their field.
int32_t edit_many(SSTask* task, std::initializer_list<int> ids, std::initializer_list<const void*> pointers) {
  if (task == nullptr) return ErrNullTask;
  auto p = pointers.begin();
  for (int id : ids) {
    if (*p != nullptr) field(task, id) = *p;
    ++p;
  }
  return kOk;
}

}  // namespace
}  // namespace zok::ss

using zok::ss::edit_many;
using zok::ss::Kind;

extern "C" {

ZOK_SS_API int32_t __qordSSNewTask(SSTask** task_out, const void* p, const void* n, const void* x_storage,
                                   const double* x, const double* w, const void* indices,
                                   int32_t int64_flag) {
  return zok::ss::new_task(task_out, p, n, x_storage, x, w, indices, int64_flag, 1);
}
ZOK_SS_API int32_t __qorsSSNewTask(SSTask** task_out, const void* p, const void* n, const void* x_storage,
                                   const float* x, const float* w, const void* indices, int32_t int64_flag) {
  return zok::ss::new_task(task_out, p, n, x_storage, x, w, indices, int64_flag, 0);
}

ZOK_SS_API int32_t __qoriSSEditTask(SSTask* task, int64_t id, const void* pointer) {
  return zok::ss::edit_one(task, id, pointer, Kind::kInt);
}
ZOK_SS_API int32_t __qordSSEditTask(SSTask* task, int64_t id, const double* pointer) {
  return zok::ss::edit_one(task, id, pointer, Kind::kReal);
}
ZOK_SS_API int32_t __qorsSSEditTask(SSTask* task, int64_t id, const float* pointer) {
  return zok::ss::edit_one(task, id, pointer, Kind::kReal);
}

#define ZOK_SS_DEFINE_EDITORS(T, t)                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditMoments(SSTask* task, const T* mean, const T* raw2, const T* raw3,      \
                                             const T* raw4, const T* central2, const T* central3,            \
                                             const T* central4) {                                            \
    return edit_many(task, {7, 8, 9, 10, 11, 12, 13},                                                        \
                     {mean, raw2, raw3, raw4, central2, central3, central4});                                \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditSums(SSTask* task, const T* sum, const T* raw_sum2, const T* raw_sum3,  \
                                          const T* raw_sum4, const T* central_sum2, const T* central_sum3,   \
                                          const T* central_sum4) {                                           \
    return edit_many(task, {67, 68, 69, 70, 71, 72, 73},                                                     \
                     {sum, raw_sum2, raw_sum3, raw_sum4, central_sum2, central_sum3, central_sum4});         \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditCovCor(SSTask* task, const T* mean, const T* cov,                       \
                                            const void* cov_storage, const T* cor,                           \
                                            const void* cor_storage) {                                       \
    return edit_many(task, {7, 19, 20, 21, 22}, {mean, cov, cov_storage, cor, cor_storage});                 \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditCP(SSTask* task, const T* mean, const T* sum, const T* cp,              \
                                        const void* cp_storage) {                                            \
    return edit_many(task, {7, 67, 74, 75}, {mean, sum, cp, cp_storage});                                    \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditMtxParametrz(SSTask* task, const T* cor, const void* cor_storage,       \
                                                  const T* param_cor, const void* param_cor_storage) {       \
    return edit_many(task, {21, 22, 60, 61}, {cor, cor_storage, param_cor, param_cor_storage});              \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditPartialCovCor(                                                          \
      SSTask* task, const void* selection, const T* cov, const void* cov_storage, const T* cor,              \
      const void* cor_storage, const T* partial_cov, const void* partial_cov_storage, const T* partial_cor,  \
      const void* partial_cor_storage) {                                                                     \
    return edit_many(task, {45, 19, 20, 21, 22, 46, 47, 48, 49},                                             \
                     {selection, cov, cov_storage, cor, cor_storage, partial_cov, partial_cov_storage,       \
                      partial_cor, partial_cor_storage});                                                    \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditQuantiles(SSTask* task, const void* order_count, const T* orders,       \
                                               const T* quantiles, const T* order_stats,                     \
                                               const void* order_stats_storage) {                            \
    return edit_many(task, {24, 25, 26, 27, 44},                                                             \
                     {order_count, orders, quantiles, order_stats, order_stats_storage});                    \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditStreamQuantiles(SSTask* task, const void* order_count, const T* orders, \
                                                     const T* quantiles, const void* param_count,            \
                                                     const T* params) {                                      \
    return edit_many(task, {64, 65, 66, 62, 63}, {order_count, orders, quantiles, param_count, params});     \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditPooledCovariance(                                                       \
      SSTask* task, const void* group_index, const T* pooled_mean, const T* pooled_cov,                      \
      const void* group_selection, const T* group_means, const T* group_cov) {                               \
    return edit_many(task, {28, 30, 31, 32, 33, 35},                                                         \
                     {group_index, pooled_mean, pooled_cov, group_selection, group_means, group_cov});       \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditRCov(SSTask* task, const void* rcov_storage, const void* param_count,   \
                                          const T* params, const T* robust_mean, const T* robust_cov) {      \
    return edit_many(task, {36, 37, 38, 39, 40},                                                             \
                     {rcov_storage, param_count, params, robust_mean, robust_cov});                          \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditOutDetect(SSTask* task, const void* param_count, const T* params,       \
                                               const T* weights) {                                           \
    return edit_many(task, {41, 42, 43}, {param_count, params, weights});                                    \
  }                                                                                                          \
  ZOK_SS_API int32_t __qor##t##SSEditMissingVals(                                                            \
      SSTask* task, const void* param_count, const T* params, const void* init_count, const T* init,         \
      const void* prior_count, const T* prior, const void* simul_count, const T* simul,                      \
      const void* estimate_count, const T* estimates) {                                                      \
    return edit_many(task, {50, 51, 52, 53, 58, 59, 54, 55, 56, 57},                                         \
                     {param_count, params, init_count, init, prior_count, prior, simul_count, simul,         \
                      estimate_count, estimates});                                                           \
  }

ZOK_SS_DEFINE_EDITORS(double, d)
ZOK_SS_DEFINE_EDITORS(float, s)
#undef ZOK_SS_DEFINE_EDITORS

ZOK_SS_API int32_t __qorSSDeleteTask(SSTask** task_ptr) {
  if (task_ptr == nullptr) return zok::ss::ErrNullTask;
  SSTask* task = *task_ptr;
  // A handle already cleared by an earlier deletion has nothing left to free.
  if (task == nullptr) return zok::ss::ErrNullTask;
  if (task->kept_means != nullptr) {
    zok_serv_deallocate(task->kept_means);
    task->kept_means = nullptr;
  }
  for (int32_t i = 0; i < task->cleanup_count; ++i) task->cleanup[i](task);
  zok_serv_deallocate(task);
  *task_ptr = nullptr;
  return zok::ss::kOk;
}

}  // extern "C"
