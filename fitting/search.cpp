// The exported cell-search kernels: every kind in the general, 32, 64 and 64Pack forms, for single
// and double precision, each an instance of the search templates.
#include "fitting/search_kinds.h"
#include "zok/data_fitting.h"

namespace zok::df {
namespace {

template <class T>
SearchArgs<T> args(int64_t nx, const T* x, int64_t nsite, const T* site, void* aux, double param) {
  return SearchArgs<T>{nx, x, nsite, site, aux, param};
}

// Form flag of the general kernels: only WIDTH_SET without WIDE asks for 32-bit cells.
inline bool general_cells_narrow(int32_t form) {
  return (form & ZOK_DF_FORM_WIDTH_SET) != 0 && (form & ZOK_DF_FORM_WIDE) == 0;
}

template <SearchMode M, class T>
int32_t general_form(const SearchArgs<T>& a, void* cell, int32_t form, SearchCallback<T> cb,
                     const void* params, int32_t* flag) {
  if (general_cells_narrow(form)) return search_cells<M, T>(a, static_cast<int32_t*>(cell), cb, params, flag);
  return search_cells<M, T>(a, static_cast<int64_t*>(cell), cb, params, flag);
}

}  // namespace
}  // namespace zok::df

using zok::df::args;
using zok::df::general_form;
using zok::df::search_cells;
using zok::df::search_range;
using zok::df::SearchMode;

#define ZOK_DF_ARGS nx, x, nsite, site, aux, param

#define ZOK_DF_DEFINE_SEARCH(t, T, Kind)                                                                   \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D(ZOK_DF_SEARCH_PARAMS(T), void* cell,            \
                                                           int32_t form) {                                 \
    return general_form<SearchMode::Kind, T>(args(ZOK_DF_ARGS), cell, form, nullptr, nullptr, nullptr);    \
  }                                                                                                        \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D32(ZOK_DF_SEARCH_PARAMS(T), int32_t* cell) {     \
    return search_cells<SearchMode::Kind, T>(args(ZOK_DF_ARGS), cell, nullptr, nullptr, nullptr);          \
  }                                                                                                        \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D64(ZOK_DF_SEARCH_PARAMS(T), int64_t* cell) {     \
    return search_range<SearchMode::Kind, T, int64_t>(args(ZOK_DF_ARGS), cell, nullptr, nullptr, nullptr); \
  }                                                                                                        \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D64Pack(ZOK_DF_SEARCH_PARAMS(T), int64_t* cell) { \
    return search_cells<SearchMode::Kind, T>(args(ZOK_DF_ARGS), cell, nullptr, nullptr, nullptr);          \
  }

#define ZOK_DF_DEFINE_CALLBACK_SEARCH(t, T, Kind, Callback)                                                  \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D(ZOK_DF_SEARCH_PARAMS(T), void* cell,              \
                                                           int32_t form, Callback search_cb,                 \
                                                           const void* search_params, int32_t* flag) {       \
    return general_form<SearchMode::Kind, T>(args(ZOK_DF_ARGS), cell, form, search_cb, search_params, flag); \
  }                                                                                                          \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D32(ZOK_DF_SEARCH_PARAMS(T), int32_t* cell,         \
                                                             Callback search_cb, const void* search_params,  \
                                                             int32_t* flag) {                                \
    return search_cells<SearchMode::Kind, T>(args(ZOK_DF_ARGS), cell, search_cb, search_params, flag);       \
  }                                                                                                          \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D64(ZOK_DF_SEARCH_PARAMS(T), int64_t* cell,         \
                                                             Callback search_cb, const void* search_params,  \
                                                             int32_t* flag) {                                \
    return search_range<SearchMode::Kind, T, int64_t>(args(ZOK_DF_ARGS), cell, search_cb, search_params,     \
                                                      flag);                                                 \
  }                                                                                                          \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D64Pack(ZOK_DF_SEARCH_PARAMS(T), int64_t* cell,     \
                                                                 Callback search_cb,                         \
                                                                 const void* search_params, int32_t* flag) { \
    return search_cells<SearchMode::Kind, T>(args(ZOK_DF_ARGS), cell, search_cb, search_params, flag);       \
  }

#define ZOK_DF_DEFINE_SEARCHES(t, T, Callback)           \
  ZOK_DF_DEFINE_SEARCH(t, T, Uniform)                    \
  ZOK_DF_DEFINE_SEARCH(t, T, QuasiUniform)               \
  ZOK_DF_DEFINE_SEARCH(t, T, Sorted)                     \
  ZOK_DF_DEFINE_SEARCH(t, T, Peak)                       \
  ZOK_DF_DEFINE_SEARCH(t, T, Hybrid)                     \
  ZOK_DF_DEFINE_CALLBACK_SEARCH(t, T, UserDef, Callback) \
  ZOK_DF_DEFINE_CALLBACK_SEARCH(t, T, UniUserDef, Callback)

extern "C" {
// The three trailing arguments of every kernel are part of the interface but carry nothing here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
ZOK_DF_DEFINE_SEARCHES(d, double, ZokDfdSearchCallback)
ZOK_DF_DEFINE_SEARCHES(s, float, ZokDfsSearchCallback)
#pragma GCC diagnostic pop
}  // extern "C"
