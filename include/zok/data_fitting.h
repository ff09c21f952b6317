/* zok data fitting: task records over a one-dimensional partition, their editors and queries, cell
 * search in every kind and index width, spline construction, interpolation and integration. */
#ifndef ZOK_DATA_FITTING_H
#define ZOK_DATA_FITTING_H

#include <stdint.h>

#include "zok/core_services.h"

#if defined(ZOK_BUILDING_KERNEL)
#define ZOK_DF_API __attribute__((visibility("default")))
#else
#define ZOK_DF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A task: partition, function values and spline settings. Made by the NewTask1D operations and
 * freed only by zok_df_kernel_DeleteTask; it keeps the caller's pointers and never copies arrays. */
typedef struct DfTask DfTask;

/* ---- status codes (0 is success) ---- */
#define ZOK_DF_ERR_NULL_TASK (-1000)
#define ZOK_DF_ERR_MEMORY (-1001)
#define ZOK_DF_ERR_METHOD (-1002)
#define ZOK_DF_ERR_NX (-1004)
#define ZOK_DF_ERR_X (-1005)
#define ZOK_DF_ERR_X_HINT (-1006)
#define ZOK_DF_ERR_NY (-1007)
#define ZOK_DF_ERR_Y (-1008)
#define ZOK_DF_ERR_Y_HINT (-1009)
#define ZOK_DF_ERR_SPLINE_ORDER (-1010)
#define ZOK_DF_ERR_SPLINE_TYPE (-1011)
#define ZOK_DF_ERR_IC_TYPE (-1012)
#define ZOK_DF_ERR_IC (-1013)
#define ZOK_DF_ERR_BC_TYPE (-1014)
#define ZOK_DF_ERR_BC (-1015)
#define ZOK_DF_ERR_COEFF (-1016)
#define ZOK_DF_ERR_COEFF_HINT (-1017)
#define ZOK_DF_ERR_PERIODIC_VALUES (-1018)
#define ZOK_DF_ERR_ATTRIBUTE (-1019)
#define ZOK_DF_ERR_INDEX (-1020)
#define ZOK_DF_ERR_SITE_NOT_NODE (-1022)
#define ZOK_DF_ERR_LOOKUP_ORDER_COUNT (-1024)
#define ZOK_DF_ERR_LOOKUP_VALUE (-1025)
#define ZOK_DF_ERR_DATA_HINT (-1026)
#define ZOK_DF_ERR_RESULT_HINT (-1028)
#define ZOK_DF_ERR_INTEGRAL_HINT (-1034)
#define ZOK_DF_ERR_FLAG_VALUE (-1036)
#define ZOK_DF_ERR_NULL_RESULT (-1037)
#define ZOK_DF_ERR_SOLVER (-1500)

/* ---- attribute identifiers of the edit and query operations ---- */
#define ZOK_DF_ATTR_X 1
#define ZOK_DF_ATTR_Y 2
#define ZOK_DF_ATTR_IC 3
#define ZOK_DF_ATTR_BC 4
#define ZOK_DF_ATTR_SCOEFF 5
#define ZOK_DF_ATTR_NX 14
#define ZOK_DF_ATTR_XHINT 15
#define ZOK_DF_ATTR_NY 16
#define ZOK_DF_ATTR_YHINT 17
#define ZOK_DF_ATTR_SPLINE_ORDER 18
#define ZOK_DF_ATTR_SPLINE_TYPE 19
#define ZOK_DF_ATTR_IC_TYPE 20
#define ZOK_DF_ATTR_BC_TYPE 21
#define ZOK_DF_ATTR_SCOEFFHINT 22
#define ZOK_DF_ATTR_CALLER_FLAG 23

/* ---- hints ---- */
/* partition (xhint): with UNIFORM, x holds only the two ends and the nx points are evenly spaced */
#define ZOK_DF_PARTITION_ANY 0
#define ZOK_DF_PARTITION_NON_UNIFORM 1
#define ZOK_DF_PARTITION_QUASI_UNIFORM 2
#define ZOK_DF_PARTITION_UNIFORM 4
/* value storage (yhint): function f at node j is y[f*nx + j] by rows, y[j*ny + f] by columns;
 * FIRST_ONLY gives function 0 by rows and leaves the other functions to the indexed pointer edit */
#define ZOK_DF_VALUES_BY_ROWS 16
#define ZOK_DF_VALUES_BY_COLUMNS 32
#define ZOK_DF_VALUES_FIRST_ONLY 128
/* coefficient storage (scoeffhint): FIRST_ONLY sets only the pointer of function 0 */
#define ZOK_DF_COEFF_FIRST_ONLY 128
/* sites of a search: UNIFORM means site[0] and site[1] are the ends of nsite evenly spaced sites;
 * SORTED means the sites ascend */
#define ZOK_DF_SITES_UNIFORM 4
#define ZOK_DF_SITES_SORTED 64
/* data-hint array (doubles): element 1 is its kind, 0.0 or PEAK; with PEAK element 4 is the most
 * likely cell, from 0 to nx */
#define ZOK_DF_DATA_HINT_PEAK 1.0
/* form flag of the general search kernels: both bits give 64-bit cells, WIDTH_SET alone 32-bit
 * cells, WIDTH_SET clear 64-bit cells */
#define ZOK_DF_FORM_WIDTH_SET 2
#define ZOK_DF_FORM_WIDE 1

/* ---- task, edit, query ---- */

/* Checks, in order: task address null -1000; nx below 2 -1004; x null -1005; xhint not 0, 1, 2, 4
 * -1006; ny negative, or ny 0 with y given, -1007; ny above 0 with y null -1008; yhint not 0, 16,
 * 32, 128 -1009. int_width_flag 0 means the caller's integers (integer queries, cells of a task
 * search) are 32-bit, anything else 64-bit. After an allocation failure (-1001) the partly built
 * task is left in *task for zok_df_kernel_DeleteTask. */
ZOK_DF_API int32_t zok_df_kernel_dNewTask1D(DfTask** task, int64_t nx, const double* x, int64_t xhint,
                                            int64_t ny, const double* y, int64_t yhint,
                                            int32_t int_width_flag);
ZOK_DF_API int32_t zok_df_kernel_sNewTask1D(DfTask** task, int64_t nx, const float* x, int64_t xhint,
                                            int64_t ny, const float* y, int64_t yhint,
                                            int32_t int_width_flag);

/* Spline settings; stores each setting as soon as its check passes. When scoeff is given, the
 * coefficient pointers are laid out from it with the s_order and s_type given here. */
ZOK_DF_API int32_t zok_df_kernel_dEditPPSpline1D(DfTask* task, int64_t s_order, int64_t s_type,
                                                 int64_t bc_type, const double* bc, int64_t ic_type,
                                                 const double* ic, double* scoeff, int64_t scoeffhint);
ZOK_DF_API int32_t zok_df_kernel_sEditPPSpline1D(DfTask* task, int64_t s_order, int64_t s_type,
                                                 int64_t bc_type, const float* bc, int64_t ic_type,
                                                 const float* ic, float* scoeff, int64_t scoeffhint);

/* Replaces the array of attribute 1 to 5. Setting x does not rebuild the bucket index: set xhint
 * to 1 for that. */
ZOK_DF_API int32_t zok_df_kernel_dEditPtr(DfTask* task, int32_t attribute, const double* ptr);
ZOK_DF_API int32_t zok_df_kernel_sEditPtr(DfTask* task, int32_t attribute, const float* ptr);
/* Sets the value (2) or coefficient (5) pointer of function `index`. */
ZOK_DF_API int32_t zok_df_kernel_dEditIdxPtr(DfTask* task, int32_t attribute, int64_t index, const void* ptr);
ZOK_DF_API int32_t zok_df_kernel_sEditIdxPtr(DfTask* task, int32_t attribute, int64_t index, const void* ptr);
/* Sets an integer attribute, 14 to 23. */
ZOK_DF_API int32_t zok_df_kernel_iEditVal(DfTask* task, int32_t attribute, int64_t value);

/* Writes an integer attribute to *result: 4 bytes in a task of 32-bit integers, else 8. */
ZOK_DF_API int32_t zok_df_kernel_iQueryVal(const DfTask* task, int32_t attribute, void* result);
/* Writes a pointer (void*) to *result: x, the first value pointer, ic, bc, the first coefficient
 * pointer. */
ZOK_DF_API int32_t zok_df_kernel_dQueryPtr(const DfTask* task, int32_t attribute, void* result);
ZOK_DF_API int32_t zok_df_kernel_sQueryPtr(const DfTask* task, int32_t attribute, void* result);
/* Writes the value (2) or coefficient (5) pointer of function `index` (void*) to *result. */
ZOK_DF_API int32_t zok_df_kernel_dQueryIdxPtr(const DfTask* task, int32_t attribute, int64_t index,
                                              void* result);
ZOK_DF_API int32_t zok_df_kernel_sQueryIdxPtr(const DfTask* task, int32_t attribute, int64_t index,
                                              void* result);

/* Frees the task and sets *task to null; the caller's arrays are untouched. */
ZOK_DF_API int32_t zok_df_kernel_DeleteTask(DfTask** task);

/* ---- cell search ----
 * The cell of site t in x[0] < ... < x[nx-1]: 0 below x[0], j for x[j-1] <= t < x[j], nx-1 at
 * x[nx-1] exactly, nx above x[nx-1] and for a NaN site. Every kind and form gives these cells. */

/* A user search routine: *n sites (an integer of the cell width), cells of the cell width. It sets
 * flag[i] non-zero for every cell it has written; the library computes the rest. It returns a
 * negative status to stop, 1000 when it has written every cell, else any other status. Searches
 * may call it from several threads at once, on disjoint groups of sites. */
typedef int32_t (*ZokDfdSearchCallback)(void* n, const double* site, void* cell, int32_t* flag,
                                        const void* params);
typedef int32_t (*ZokDfsSearchCallback)(void* n, const float* site, void* cell, int32_t* flag,
                                        const void* params);

/* Cell search of a task: the kind follows the callback, the partition hint, the site hint and the
 * data hint; cells are written at the task's integer width; large searches are split over the
 * threads of `threading` (null means the calling thread alone). `method` is not read. Returns 0,
 * -1000, -1001, -1026 for a bad data hint, or the callback's negative status. */
ZOK_DF_API int32_t zok_df_kernel_dDFSearch1D(const DfTask* task, int32_t method, int64_t nsite,
                                             const double* site, int64_t sitehint, const double* datahint,
                                             void* cell, ZokDfdSearchCallback search_cb,
                                             const void* search_params, const ThreadingServices* threading);
ZOK_DF_API int32_t zok_df_kernel_sDFSearch1D(const DfTask* task, int32_t method, int64_t nsite,
                                             const float* site, int64_t sitehint, const double* datahint,
                                             void* cell, ZokDfsSearchCallback search_cb,
                                             const void* search_params, const ThreadingServices* threading);

/* Kind kernels. Arguments: nx, x, nsite, site, aux, param, three arguments that are not read, cell
 * (the general form then takes its form flag), and for UserDef and UniUserDef the search routine,
 * its params and a flags array of nsite entries (null: the routine is called per 128 sites).
 *   Uniform, UniUserDef  x = {first, last point}; param = (nx-1)/(x[1]-x[0]); aux unused
 *   QuasiUniform         param = (nx-1)/(x[nx-1]-x[0]); aux unused
 *   Sorted               aux = the starting position, read and written back (an integer of the cell
 *                        width; may be null); made for ascending sites, it places others right too,
 *                        only more slowly
 *   Peak                 param = the most likely cell; aux unused
 *   Hybrid               aux = the task's bucket table, param = its inverse bucket width; a null
 *                        table bisects the whole partition
 *   UserDef              aux unused
 * Forms: 32 writes 32-bit cells, 64 and 64Pack 64-bit cells. Index arithmetic is 64-bit in the 64
 * form and from nx = 2^31-1 on, else 32-bit. The kernels return 0, the callback kinds the
 * routine's status (0 for 1000). */
#define ZOK_DF_SEARCH_PARAMS(T)                                                                       \
  int64_t nx, const T *x, int64_t nsite, const T *site, void *aux, double param, const void *unused1, \
      const void *unused2, const void *unused3
#define ZOK_DF_DECLARE_SEARCH(t, T, Kind)                                                             \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D(ZOK_DF_SEARCH_PARAMS(T), void* cell,       \
                                                           int32_t form);                             \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D32(ZOK_DF_SEARCH_PARAMS(T), int32_t* cell); \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D64(ZOK_DF_SEARCH_PARAMS(T), int64_t* cell); \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D64Pack(ZOK_DF_SEARCH_PARAMS(T), int64_t* cell);
#define ZOK_DF_DECLARE_CALLBACK_SEARCH(t, T, Kind, Callback)                                                 \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D(ZOK_DF_SEARCH_PARAMS(T), void* cell,              \
                                                           int32_t form, Callback search_cb,                 \
                                                           const void* search_params, int32_t* flag);        \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D32(                                                \
      ZOK_DF_SEARCH_PARAMS(T), int32_t* cell, Callback search_cb, const void* search_params, int32_t* flag); \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D64(                                                \
      ZOK_DF_SEARCH_PARAMS(T), int64_t* cell, Callback search_cb, const void* search_params, int32_t* flag); \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Kind##Search1D64Pack(                                            \
      ZOK_DF_SEARCH_PARAMS(T), int64_t* cell, Callback search_cb, const void* search_params, int32_t* flag);
#define ZOK_DF_DECLARE_SEARCHES(t, T, Callback)           \
  ZOK_DF_DECLARE_SEARCH(t, T, Uniform)                    \
  ZOK_DF_DECLARE_SEARCH(t, T, QuasiUniform)               \
  ZOK_DF_DECLARE_SEARCH(t, T, Sorted)                     \
  ZOK_DF_DECLARE_SEARCH(t, T, Peak)                       \
  ZOK_DF_DECLARE_SEARCH(t, T, Hybrid)                     \
  ZOK_DF_DECLARE_CALLBACK_SEARCH(t, T, UserDef, Callback) \
  ZOK_DF_DECLARE_CALLBACK_SEARCH(t, T, UniUserDef, Callback)

ZOK_DF_DECLARE_SEARCHES(d, double, ZokDfdSearchCallback)
ZOK_DF_DECLARE_SEARCHES(s, float, ZokDfsSearchCallback)

/* ---- spline construction ----
 * Builds the task's spline of every function into its coefficient pointers: cell i (x[i] to x[i+1])
 * holds c0 .. c(s-1) of c0 + c1*t + ... in t = site - x[i], s = 2 linear, 3 quadratic, 4 cubic; the
 * quadratic of type 1 has nx cells between its knots, cell k written in t = site - t_k. The task's
 * s_order must be the entry's. Cubic ends follow bc_type: 1 not-a-knot, 2 free (second derivative 0),
 * 12 first derivatives bc[0], bc[1], 36 first left and second right, 24 second left and first right,
 * 48 second derivatives, 64 periodic, 0 the Akima end rule (Akima only). Linear and natural cubic
 * accept method 0 only. Work may be split over the threads of `threading` (null means the calling
 * thread alone); the coefficients do not depend on the thread count. Returns 0 or a status code. */
#define ZOK_DF_DECLARE_SPLINE(t, Name)                      \
  ZOK_DF_API int32_t zok_df_kernel_##t##DF##Name##Spline1D( \
      const DfTask* task, const void* unused, int32_t method, const ThreadingServices* threading);
#define ZOK_DF_DECLARE_SPLINES(t)        \
  ZOK_DF_DECLARE_SPLINE(t, Linear)       \
  ZOK_DF_DECLARE_SPLINE(t, Quadratic)    \
  ZOK_DF_DECLARE_SPLINE(t, NaturalCubic) \
  ZOK_DF_DECLARE_SPLINE(t, BesselCubic)  \
  ZOK_DF_DECLARE_SPLINE(t, AkimaCubic)   \
  ZOK_DF_DECLARE_SPLINE(t, HermiteCubic) \
  ZOK_DF_DECLARE_SPLINE(t, DefaultCubic)

ZOK_DF_DECLARE_SPLINES(d)
ZOK_DF_DECLARE_SPLINES(s)

/* ---- interpolation and integration ----
 * Evaluation kind from s_order and s_type: 2 linear; 3 with type 0 quadratic at the nodes, type 1
 * quadratic with knots between the nodes; 4 with type 0, 2 .. 5 cubic; above 4 a piecewise
 * polynomial of that order; 0 with type 8 a step function continuous from the left (y[k] on
 * (x[k], x[k+1]]), 7 one continuous from the right (y[k] on [x[k], x[k+1])), 6 a lookup of node
 * values (interpolation only), any other type evaluated by the three region routines alone. A site
 * in cell j uses the polynomial of cell max(j-1, 0), cell nx that of cell nx-2: beyond the ends the
 * end polynomials are extended unless a region routine is given; step functions hold y[0] and
 * y[nx-1] there. A task with ny 0 has one function. */

/* A region routine: *n sites or intervals (an integer of the task's width), their cells (task
 * width), the sites, and the results it writes. The left routine gets the sites of cell 0, the right
 * one those of cell nx (NaN included), the inside one the rest. In interpolation it writes the
 * results of its n sites laid out as the call would lay them out for n sites; in integration it gets
 * n intervals as 2n sites (lo, hi) with lo <= hi and the cells of every lo, and writes the integral of
 * function f over interval i at r[f*n + i]. A negative status ends the call with that status; calls
 * may come from several threads at once. */
typedef int32_t (*ZokDfdRegionCallback)(void* n, const void* cell, const double* site, double* r,
                                        const void* params);
typedef int32_t (*ZokDfsRegionCallback)(void* n, const void* cell, const float* site, float* r,
                                        const void* params);

/* interpolation type: CELLS also writes the cell of every site; USER_CELLS (the whole value) reads
 * the cells from the cell array instead of searching */
#define ZOK_DF_INTERP_CELLS 2
#define ZOK_DF_INTERP_USER_CELLS 4
/* result storage (rhint): BY_SITE puts the requested orders of one site together (16 or 128),
 * BY_ORDER all sites of one order (0 or 32); each function's results form one block */
#define ZOK_DF_RESULTS_BY_ORDER 0
#define ZOK_DF_RESULTS_BY_SITE 16

/* Values and derivatives of every function at nsite sites. dorder holds ndorder integers of the
 * task's width; a non-zero entry k asks for the k-th derivative (k = 0 the value); none, or
 * ndorder <= 0, asks for the value. With q requested orders the result of function f, site i and
 * the k-th requested order lies at f*nsite*q + i*q + k (BY_SITE) or f*nsite*q + k*nsite + i. Sites:
 * with sitehint bit 4 site = {a, b} and the sites are a + i*(b - a)/(nsite - 1); bit 64 says they
 * ascend. `method` is not read. Checks, in order: task null -1000; spline order and type -1011;
 * datahint -1026; rhint not 0, 16, 32, 128 -1028; nsite <= 0 returns 0. Then a lookup asked for
 * other than one order -1024, or for a derivative -1025; a coefficient pointer null -1016, a value
 * pointer null -1008 (unless all three region routines are given); r null, or a cell array that is
 * read or written null, -1037. While evaluating: a user cell outside 0 .. nx -1026, a lookup site
 * that is no node -1022, a routine's negative status. Large calls are split over the threads of
 * `threading`; the results do not depend on the thread count. */
ZOK_DF_API int32_t zok_df_kernel_dDFInterpolate1D(
    const DfTask* task, int64_t type, int32_t method, int64_t nsite, const double* site, int64_t sitehint,
    int64_t ndorder, const void* dorder, const double* datahint, double* r, int64_t rhint, void* cell,
    ZokDfdRegionCallback le_cb, const void* le_params, ZokDfdRegionCallback re_cb, const void* re_params,
    ZokDfdRegionCallback i_cb, const void* i_params, ZokDfdSearchCallback search_cb,
    const void* search_params, const ThreadingServices* threading);
ZOK_DF_API int32_t zok_df_kernel_sDFInterpolate1D(
    const DfTask* task, int64_t type, int32_t method, int64_t nsite, const float* site, int64_t sitehint,
    int64_t ndorder, const void* dorder, const double* datahint, float* r, int64_t rhint, void* cell,
    ZokDfsRegionCallback le_cb, const void* le_params, ZokDfsRegionCallback re_cb, const void* re_params,
    ZokDfsRegionCallback i_cb, const void* i_params, ZokDfsSearchCallback search_cb,
    const void* search_params, const ThreadingServices* threading);

/* Integrals of every function from llim[k] to rlim[k], k < nlim, written at r[f*nlim + k] (every
 * accepted rhint); a reversed interval gives minus the integral, an empty one 0, a NaN limit NaN.
 * Each side's limits are searched by their own hint (bit 64: ascending) and data hint. Checks as in
 * interpolation, with the lookup kind refused (-1011), ldatahint then rdatahint (-1026) and rhint
 * -1034; nlim <= 0 returns 0; then null pointers as in interpolation. */
ZOK_DF_API int32_t zok_df_kernel_dDFIntegrate1D(
    const DfTask* task, int32_t method, int64_t nlim, const double* llim, int64_t llimhint,
    const double* rlim, int64_t rlimhint, const double* ldatahint, const double* rdatahint, double* r,
    int64_t rhint, ZokDfdRegionCallback le_cb, const void* le_params, ZokDfdRegionCallback re_cb,
    const void* re_params, ZokDfdRegionCallback i_cb, const void* i_params, ZokDfdSearchCallback search_cb,
    const void* search_params, const ThreadingServices* threading);
ZOK_DF_API int32_t zok_df_kernel_sDFIntegrate1D(
    const DfTask* task, int32_t method, int64_t nlim, const float* llim, int64_t llimhint, const float* rlim,
    int64_t rlimhint, const double* ldatahint, const double* rdatahint, float* r, int64_t rhint,
    ZokDfsRegionCallback le_cb, const void* le_params, ZokDfsRegionCallback re_cb, const void* re_params,
    ZokDfsRegionCallback i_cb, const void* i_params, ZokDfsSearchCallback search_cb,
    const void* search_params, const ThreadingServices* threading);

#ifdef __cplusplus
}
#endif

#endif /* ZOK_DATA_FITTING_H */
