/* zok summary statistics: task records over a data matrix, their editors, the basic-statistics,
 * minimum/maximum and order-statistics estimators and the sorting helpers. */
#ifndef ZOK_SUMMARY_STATS_H
#define ZOK_SUMMARY_STATS_H

#include <stdint.h>

#include "zok/core_services.h"

#if defined(ZOK_BUILDING_KERNEL)
#define ZOK_SS_API __attribute__((visibility("default")))
#else
#define ZOK_SS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A task: pointers to the caller's data and output arrays. Made by the NewTask operations and freed
 * only by __qorSSDeleteTask; it never copies the caller's arrays. Pointers passed to the task
 * operations are the caller's responsibility: beyond the absent-pointer statuses below, a pointer to
 * too short or freed memory is not detected. */
typedef struct SSTask SSTask;

/* ---- storage codes ---- */
#define ZOK_SS_STORAGE_ROWS 0x10000    /* x[j*n + i]: variable j's observations are contiguous */
#define ZOK_SS_STORAGE_COLUMNS 0x20000 /* x[i*p + j]: observation i's values are contiguous */
#define ZOK_SS_MATRIX_FULL 0           /* p*p values, element (i, j) at i*p + j */
#define ZOK_SS_MATRIX_PACKED_LOWER 1   /* rows of the lower triangle: (0,0) (1,0) (1,1) (2,0) ... */
#define ZOK_SS_MATRIX_PACKED_UPPER 2   /* rows of the upper triangle: (0,0) (0,1) ... (1,1) ... */

/* ---- parameter identifiers of the editors ---- */
#define ZOK_SS_ID_P 1
#define ZOK_SS_ID_N 2
#define ZOK_SS_ID_X 3
#define ZOK_SS_ID_X_STORAGE 4
#define ZOK_SS_ID_INDICES 5
#define ZOK_SS_ID_WEIGHTS 6
#define ZOK_SS_ID_MEAN 7
#define ZOK_SS_ID_RAW2 8
#define ZOK_SS_ID_RAW3 9
#define ZOK_SS_ID_RAW4 10
#define ZOK_SS_ID_CENTRAL2 11
#define ZOK_SS_ID_CENTRAL3 12
#define ZOK_SS_ID_CENTRAL4 13
#define ZOK_SS_ID_KURTOSIS 14
#define ZOK_SS_ID_SKEWNESS 15
#define ZOK_SS_ID_MIN 16
#define ZOK_SS_ID_MAX 17
#define ZOK_SS_ID_VARIATION 18
#define ZOK_SS_ID_COV 19
#define ZOK_SS_ID_COV_STORAGE 20
#define ZOK_SS_ID_COR 21
#define ZOK_SS_ID_COR_STORAGE 22
#define ZOK_SS_ID_ACCUM_WEIGHTS 23
#define ZOK_SS_ID_QUANTILE_ORDER_COUNT 24
#define ZOK_SS_ID_QUANTILE_ORDERS 25
#define ZOK_SS_ID_QUANTILES 26
#define ZOK_SS_ID_ORDER_STATS 27
#define ZOK_SS_ID_ORDER_STATS_STORAGE 44
#define ZOK_SS_ID_STREAM_PARAM_COUNT 62
#define ZOK_SS_ID_STREAM_PARAMS 63
#define ZOK_SS_ID_STREAM_ORDER_COUNT 64
#define ZOK_SS_ID_STREAM_ORDERS 65
#define ZOK_SS_ID_STREAM_QUANTILES 66
#define ZOK_SS_ID_SUM 67
#define ZOK_SS_ID_RAW_SUM2 68
#define ZOK_SS_ID_RAW_SUM3 69
#define ZOK_SS_ID_RAW_SUM4 70
#define ZOK_SS_ID_CENTRAL_SUM2 71
#define ZOK_SS_ID_CENTRAL_SUM3 72
#define ZOK_SS_ID_CENTRAL_SUM4 73
#define ZOK_SS_ID_CP 74
#define ZOK_SS_ID_CP_STORAGE 75
#define ZOK_SS_ID_MEDIAN_ABS_DEV 76
#define ZOK_SS_ID_MEAN_ABS_DEV 77
#define ZOK_SS_ID_SORTED 78
#define ZOK_SS_ID_SORTED_STORAGE 79
#define ZOK_SS_ID_GROUP_INDEX 28
#define ZOK_SS_ID_POOLED_COV_STORAGE 29
#define ZOK_SS_ID_POOLED_MEAN 30
#define ZOK_SS_ID_POOLED_COV 31
#define ZOK_SS_ID_GROUP_SELECTION 32
#define ZOK_SS_ID_GROUP_MEANS 33
#define ZOK_SS_ID_GROUP_COV_STORAGE 34
#define ZOK_SS_ID_GROUP_COV 35
#define ZOK_SS_ID_PARTIAL_SELECTION 45
#define ZOK_SS_ID_PARTIAL_COV 46
#define ZOK_SS_ID_PARTIAL_COV_STORAGE 47
#define ZOK_SS_ID_PARTIAL_COR 48
#define ZOK_SS_ID_PARTIAL_COR_STORAGE 49
#define ZOK_SS_ID_PARAM_COR 60
#define ZOK_SS_ID_PARAM_COR_STORAGE 61
#define ZOK_SS_ID_COUNT 79 /* identifiers run from 1 to this */

/* ---- estimate mask bits ---- */
#define ZOK_SS_MEAN 0x1ULL
#define ZOK_SS_RAW2 0x2ULL
#define ZOK_SS_RAW3 0x4ULL
#define ZOK_SS_RAW4 0x8ULL
#define ZOK_SS_CENTRAL2 0x10ULL
#define ZOK_SS_CENTRAL3 0x20ULL
#define ZOK_SS_CENTRAL4 0x40ULL
#define ZOK_SS_KURTOSIS 0x80ULL
#define ZOK_SS_SKEWNESS 0x100ULL
#define ZOK_SS_VARIATION 0x200ULL
#define ZOK_SS_MIN 0x400ULL
#define ZOK_SS_MAX 0x800ULL
#define ZOK_SS_COV 0x1000ULL
#define ZOK_SS_COR 0x2000ULL
#define ZOK_SS_QUANTILES 0x10000ULL
#define ZOK_SS_ORDER_STATS 0x20000ULL
#define ZOK_SS_SUM 0x2000000ULL
#define ZOK_SS_RAW_SUM2 0x4000000ULL
#define ZOK_SS_RAW_SUM3 0x8000000ULL
#define ZOK_SS_RAW_SUM4 0x10000000ULL
#define ZOK_SS_CENTRAL_SUM2 0x20000000ULL
#define ZOK_SS_CENTRAL_SUM3 0x40000000ULL
#define ZOK_SS_CENTRAL_SUM4 0x80000000ULL
#define ZOK_SS_CP 0x100000000ULL
#define ZOK_SS_MEDIAN_ABS_DEV 0x200000000ULL
#define ZOK_SS_MEAN_ABS_DEV 0x400000000ULL
#define ZOK_SS_POOLED_COV 0x4000ULL
#define ZOK_SS_GROUP_COV 0x8000ULL
#define ZOK_SS_POOLED_MEAN 0x800000000ULL
#define ZOK_SS_GROUP_MEAN 0x1000000000ULL
#define ZOK_SS_PARTIAL_COV 0x100000ULL
#define ZOK_SS_PARTIAL_COR 0x200000ULL

/* ---- method bits of the basic statistics and minimum/maximum ---- */
#define ZOK_SS_METHOD_RAW 0x1ULL      /* moments from raw moments */
#define ZOK_SS_METHOD_ONEPASS 0x2ULL  /* one-pass central accumulation */
#define ZOK_SS_METHOD_KEPT 0x100ULL   /* one-pass, covariance about the means kept from the last call */
#define ZOK_SS_METHOD_SUMS 0x200ULL   /* moments from accumulated sums, no observations read */
#define ZOK_SS_METHOD_SUMS_2 0x400ULL /* the same as ZOK_SS_METHOD_SUMS */

/* ---- method bits of the order statistics ---- */
#define ZOK_SS_METHOD_EXACT 0x1ULL          /* exact quantiles, order statistics, absolute deviations */
#define ZOK_SS_METHOD_GIVEN_MEANS 0x100ULL  /* mean absolute deviation about the registered means */
#define ZOK_SS_METHOD_STREAM 0x40ULL        /* stream quantiles: take the portion and answer */
#define ZOK_SS_METHOD_STREAM_UPDATE 0x80ULL /* stream quantiles: take the portion only */
#define ZOK_SS_METHOD_SORT 0x100000ULL      /* sorted copies of the observations */
/* ---- method bits of the derived covariance estimates ---- */
#define ZOK_SS_METHOD_PARTIAL 0x1ULL /* partial covariance and correlation */
#define ZOK_SS_METHOD_POOLED 0x2ULL  /* pooled and group means and covariances */
#define ZOK_SS_METHOD_REPAIR 0x4ULL  /* nearest valid correlation by eigenvalue clipping */
/* ---- method bits of the robust estimators ---- */
#define ZOK_SS_METHOD_ROBUST_COV 0x8ULL /* translated-biweight S-estimate of mean and covariance */
#define ZOK_SS_METHOD_OUTLIERS 0x20ULL  /* outlier weights by a growing basic subset */
#define ZOK_SS_METHOD_MISSING 0x10ULL   /* multiple imputation of missing values */

/* ---- status codes (0 is success) ---- */
#define ZOK_SS_ERR_BAD_ID (-3)
#define ZOK_SS_ERR_MEMORY (-4000)
#define ZOK_SS_ERR_P (-4001)
#define ZOK_SS_ERR_N (-4002)
#define ZOK_SS_ERR_STORAGE (-4003)
#define ZOK_SS_ERR_INDICES (-4004)
#define ZOK_SS_ERR_WEIGHTS (-4005)
/* The weights parameter's code also refuses weights that cannot be used: the basic statistics return it
 * when a weight is negative or NaN, before any output is written. */
#define ZOK_SS_ERR_BAD_WEIGHT ZOK_SS_ERR_WEIGHTS
#define ZOK_SS_ERR_MEAN (-4006)
#define ZOK_SS_ERR_RAW2 (-4007)
#define ZOK_SS_ERR_RAW3 (-4008)
#define ZOK_SS_ERR_RAW4 (-4009)
#define ZOK_SS_ERR_CENTRAL2 (-4010)
#define ZOK_SS_ERR_CENTRAL3 (-4011)
#define ZOK_SS_ERR_CENTRAL4 (-4012)
#define ZOK_SS_ERR_KURTOSIS (-4013)
#define ZOK_SS_ERR_SKEWNESS (-4014)
#define ZOK_SS_ERR_MIN (-4015)
#define ZOK_SS_ERR_MAX (-4016)
#define ZOK_SS_ERR_VARIATION (-4017)
#define ZOK_SS_ERR_COV (-4018)
#define ZOK_SS_ERR_COR (-4019)
#define ZOK_SS_ERR_ACCUM_WEIGHTS (-4020)
#define ZOK_SS_ERR_ORDERS (-4021)
#define ZOK_SS_ERR_ORDER_COUNT (-4022) /* also an order outside [0, 1] or NaN */
#define ZOK_SS_ERR_QUANTILES (-4023)
#define ZOK_SS_ERR_ORDER_STATS (-4024)
#define ZOK_SS_ERR_ROBUST_FAILED (-4026) /* robust estimate degenerate, or too few inliers left */
#define ZOK_SS_ERR_ROBUST_COV (-4027)
#define ZOK_SS_ERR_ROBUST_MEAN (-4028)
#define ZOK_SS_ERR_METHOD (-4029)
#define ZOK_SS_ERR_GROUPS (-4030) /* group-index or group-selection array absent */
#define ZOK_SS_ERR_NULL_TASK (-4031)
#define ZOK_SS_ERR_X (-4032)
#define ZOK_SS_ERR_COV_RANK (-4033) /* rank test: not positive semi-definite, or no usable eigenvalue */
#define ZOK_SS_ERR_POOLED_COV (-4034)
#define ZOK_SS_ERR_POOLED_MEAN (-4035)
#define ZOK_SS_ERR_GROUP_COV (-4036)
#define ZOK_SS_ERR_GROUP_MEANS (-4037)
#define ZOK_SS_ERR_GROUP_VALUE (-4038) /* a negative group index or a selection element not 0 or 1 */
#define ZOK_SS_ERR_OUTLIER_WEIGHTS (-4041)
#define ZOK_SS_ERR_STORAGE_PTR (-4044)
#define ZOK_SS_ERR_MISSING_PARAMS (-4048)
#define ZOK_SS_ERR_MISSING_PARAM_COUNT (-4049)
#define ZOK_SS_ERR_MISSING_PARAM_COUNT_VALUE (-4050) /* the count is not 5 */
#define ZOK_SS_ERR_IMPUTATIONS (-4051)               /* fewer than 1 imputation or missing value */
#define ZOK_SS_ERR_SIMUL_VALUES (-4054)              /* a simulated-values count without the array */
#define ZOK_SS_ERR_SIMUL_COUNT (-4055)               /* simulated values without their count */
#define ZOK_SS_ERR_SIMUL_COUNT_VALUE (-4058)         /* not imputations x missing values */
#define ZOK_SS_ERR_ESTIMATE_COUNT (-4059)            /* absent, or not imputations x iterations x record */
#define ZOK_SS_ERR_NO_OUTPUT (-4060)                 /* neither simulated values nor estimates */
#define ZOK_SS_ERR_PRIOR_COUNT (-4061)               /* prior without a count, or not a valid prior */
#define ZOK_SS_ERR_PRIOR (-4062)                     /* a prior count without the prior */
#define ZOK_SS_ERR_MISSING_COUNT (-4063)             /* parameter 4 differs from the missing values found */
#define ZOK_SS_ERR_PARTIAL_SELECTION (-4045)
#define ZOK_SS_ERR_PARTIAL_COV (-4046)
#define ZOK_SS_ERR_PARTIAL_COR (-4047)
#define ZOK_SS_ERR_STREAM_PARAM_COUNT (-4064)
#define ZOK_SS_ERR_STREAM_PARAMS (-4065)
#define ZOK_SS_ERR_STREAM_PARAM_COUNT_VALUE (-4066) /* the parameter count is not 1 */
#define ZOK_SS_ERR_STREAM_EPS (-4067)               /* epsilon outside (0, 1] */
#define ZOK_SS_ERR_STREAM_ORDERS (-4068)
#define ZOK_SS_ERR_STREAM_ORDER_COUNT (-4069) /* also an order outside [0, 1] or NaN */
#define ZOK_SS_ERR_STREAM_QUANTILES (-4070)
#define ZOK_SS_ERR_PARAM_COR (-4071)
#define ZOK_SS_ERR_ALL_CLIPPED (-4072)  /* every eigenvalue of the correlation was clipped */
#define ZOK_SS_ERR_PARTIAL_SETS (-4073) /* p < 1, or no variable marked 1 or none marked -1 */
#define ZOK_SS_ERR_SUM (-4074)
#define ZOK_SS_ERR_CP (-4081)
#define ZOK_SS_ERR_MEDIAN_ABS_DEV (-4082)
#define ZOK_SS_ERR_MEAN_ABS_DEV (-4083)
#define ZOK_SS_ERR_SORTED (-4084)
#define ZOK_SS_ERR_SORT_SELECTION (-4085)  /* sorting in place with a variable selection */
#define ZOK_SS_ERR_PARTIAL_FACTOR (-5010)  /* conditioning block not positive definite (or not finite) */
#define ZOK_SS_ERR_PARTIAL_INVERSE (-5011) /* its inverse failed, or a partial variance vanished */
#define ZOK_SS_ERR_REPAIR_EIGEN (-5030)    /* eigen-decomposition failed, or a non-finite element */
#define ZOK_SS_ERR_RANK_EIGEN (-5040)      /* rank test: eigenvalues not found */
#define ZOK_SS_ERR_INV_FACTOR (-5041)      /* matrix to invert not positive definite */
#define ZOK_SS_ERR_INV_INVERSE (-5042)     /* inverse failed or not finite */

/* Merging partial results, an addition beyond the task interface: */
#define ZOK_SS_ERR_NOT_MERGEABLE (-4090)  /* an estimate that is no function of the parts' results */
#define ZOK_SS_ERR_MERGE_MISMATCH (-4091) /* the parts differ in p or precision */

/* ---- task creation, editing and deletion ----
 * Integers passed by pointer are 32-bit when the task's int64_flag is 0, 64-bit otherwise. */
#define ZOK_SS_NEW_TASK(T, name)                                                                  \
  ZOK_SS_API int32_t name(SSTask** task_out, const void* p, const void* n, const void* x_storage, \
                          const T* x, const T* w, const void* indices, int32_t int64_flag)
ZOK_SS_NEW_TASK(double, __qordSSNewTask);
ZOK_SS_NEW_TASK(float, __qorsSSNewTask);

ZOK_SS_API int32_t __qoriSSEditTask(SSTask* task, int64_t id, const void* pointer);
ZOK_SS_API int32_t __qordSSEditTask(SSTask* task, int64_t id, const double* pointer);
ZOK_SS_API int32_t __qorsSSEditTask(SSTask* task, int64_t id, const float* pointer);

/* Multi-field editors: a null argument leaves its field as it was. `const void*` arguments point to
 * integers, the others to reals of the task's precision. */
#define ZOK_SS_EDITORS(T, t)                                                                                 \
  ZOK_SS_API int32_t __qor##t##SSEditMoments(SSTask* task, const T* mean, const T* raw2, const T* raw3,      \
                                             const T* raw4, const T* central2, const T* central3,            \
                                             const T* central4);                                             \
  ZOK_SS_API int32_t __qor##t##SSEditSums(SSTask* task, const T* sum, const T* raw_sum2, const T* raw_sum3,  \
                                          const T* raw_sum4, const T* central_sum2, const T* central_sum3,   \
                                          const T* central_sum4);                                            \
  ZOK_SS_API int32_t __qor##t##SSEditCovCor(SSTask* task, const T* mean, const T* cov,                       \
                                            const void* cov_storage, const T* cor, const void* cor_storage); \
  ZOK_SS_API int32_t __qor##t##SSEditCP(SSTask* task, const T* mean, const T* sum, const T* cp,              \
                                        const void* cp_storage);                                             \
  ZOK_SS_API int32_t __qor##t##SSEditMtxParametrz(SSTask* task, const T* cor, const void* cor_storage,       \
                                                  const T* param_cor, const void* param_cor_storage);        \
  ZOK_SS_API int32_t __qor##t##SSEditPartialCovCor(                                                          \
      SSTask* task, const void* selection, const T* cov, const void* cov_storage, const T* cor,              \
      const void* cor_storage, const T* partial_cov, const void* partial_cov_storage, const T* partial_cor,  \
      const void* partial_cor_storage);                                                                      \
  ZOK_SS_API int32_t __qor##t##SSEditQuantiles(SSTask* task, const void* order_count, const T* orders,       \
                                               const T* quantiles, const T* order_stats,                     \
                                               const void* order_stats_storage);                             \
  ZOK_SS_API int32_t __qor##t##SSEditStreamQuantiles(SSTask* task, const void* order_count, const T* orders, \
                                                     const T* quantiles, const void* param_count,            \
                                                     const T* params);                                       \
  ZOK_SS_API int32_t __qor##t##SSEditPooledCovariance(                                                       \
      SSTask* task, const void* group_index, const T* pooled_mean, const T* pooled_cov,                      \
      const void* group_selection, const T* group_means, const T* group_cov);                                \
  ZOK_SS_API int32_t __qor##t##SSEditRCov(SSTask* task, const void* rcov_storage, const void* param_count,   \
                                          const T* params, const T* robust_mean, const T* robust_cov);       \
  ZOK_SS_API int32_t __qor##t##SSEditOutDetect(SSTask* task, const void* param_count, const T* params,       \
                                               const T* weights);                                            \
  ZOK_SS_API int32_t __qor##t##SSEditMissingVals(                                                            \
      SSTask* task, const void* param_count, const T* params, const void* init_count, const T* init,         \
      const void* prior_count, const T* prior, const void* simul_count, const T* simul,                      \
      const void* estimate_count, const T* estimates);

ZOK_SS_EDITORS(double, d)
ZOK_SS_EDITORS(float, s)

/* Frees what the task owns and the record, and sets *task_ptr to null. */
ZOK_SS_API int32_t __qorSSDeleteTask(SSTask** task_ptr);

/* ---- estimators ----
 * estimates: a mask of ZOK_SS_* estimate bits; method: ZOK_SS_METHOD_* bits; services: the threading
 * table the work may be split over (null: the calling thread alone). Results accumulate over calls
 * through the output arrays and the accumulated-weights pair.
 *
 * The observations are split into ranges by the number of threads the table allows, and the ranges'
 * sums are combined: results for different thread counts may differ in their last bits.
 * Weights must be zero or positive; a negative or NaN weight gives ZOK_SS_ERR_BAD_WEIGHT.
 * Means and raw moments of finite data do not overflow on the way; data holding infinities gives
 * the mean (and raw moments) a sum would give (inf, -inf or NaN by the signs present, in any order)
 * and NaN central moments, covariances and correlations for that variable. Observations of zero
 * weight take no part, whatever their values.
 * A null task is refused; the arrays registered in it are the caller's to keep valid and long enough
 * (the library checks that they are present, never what they point to). */
ZOK_SS_API int32_t _qordSSBasic(SSTask* task, uint64_t estimates, uint64_t method,
                                const ThreadingServices* services);
ZOK_SS_API int32_t _qorsSSBasic(SSTask* task, uint64_t estimates, uint64_t method,
                                const ThreadingServices* services);
/* Running minimum and maximum: the caller seeds the arrays, each call folds its observations in. */
ZOK_SS_API int32_t _qordSSMinmax(SSTask* task, uint64_t estimates, uint64_t method);
ZOK_SS_API int32_t _qorsSSMinmax(SSTask* task, uint64_t estimates, uint64_t method);

/* ---- merging partial results: an addition beyond the task interface ----
 * Observations split over threads, processes or machines: each part runs its own task, and the
 * parts' results are folded together pairwise, in any grouping, without the observations. task and
 * other each hold one part's result in their registered arrays (as the one-pass method writes them)
 * and the part's weight in the accumulated-weights pair (total weight, total squared weight), or, for
 * an unweighted part without that pair, in n. The merge reads other and rewrites task's arrays and
 * pair with the result of both parts, as if one task had accumulated task's observations and then
 * other's: means and central sums by the pairwise combination formulas (weights included), raw
 * moments as weighted means, cross-products with the product of the means' difference, minimum and
 * maximum by comparison; the derived estimates (variances, skewness, kurtosis, variation, covariance,
 * correlation) follow from those. Agreement with one pass over all observations: the rounding of the
 * parts' results, about 1e-15 relative on data whose spread is not small against its mean; for means
 * of 1e9 and unit spread the parts' means, rounded to doubles, move the central sums and
 * cross-products by about 1e-7/sqrt(n) relative (n observations in all).
 *
 * estimates: any ZOK_SS_* bits of _qor?SSBasic and ZOK_SS_MIN/ZOK_SS_MAX; both tasks must hold the
 * arrays a one-pass call of those estimates needs (matrices in their own storage codes). Checks, in
 * order, before anything is written: a null task (ZOK_SS_ERR_NULL_TASK); a bit with no merge, such as
 * quantiles, order statistics, deviations, pooled, partial or robust estimates
 * (ZOK_SS_ERR_NOT_MERGEABLE); task's p (ZOK_SS_ERR_P); other's p or either task's precision not the
 * routine's (ZOK_SS_ERR_MERGE_MISMATCH); the extremes' arrays (ZOK_SS_ERR_MIN, ZOK_SS_ERR_MAX); then
 * the basic statistics' own statuses, for task and then other, the observations aside. Only the
 * variables task selects are read and written. A part of weight zero changes nothing. */
ZOK_SS_API int32_t _qordSSMerge(SSTask* task, const SSTask* other, uint64_t estimates);
ZOK_SS_API int32_t _qorsSSMerge(SSTask* task, const SSTask* other, uint64_t estimates);

/* Order statistics: every routine has the argument list of ZOK_SS_ESTIMATOR. */
#define ZOK_SS_ESTIMATOR(name)                                               \
  ZOK_SS_API int32_t name(SSTask* task, uint64_t estimates, uint64_t method, \
                          const ThreadingServices* services)
/* Every order-statistics routine first checks the task, p, n >= 1, the observations and their
 * storage (ZOK_SS_ERR_NULL_TASK, _P, _N, _X, _STORAGE_PTR, _STORAGE), then its own arrays and method.
 * Results of the s-th selected variable (counted from 0 in increasing variable order) go to
 * quantiles[s*count + i] for order i, and to slot s of the order-statistics or sorted array (rows
 * storage: s*n onward; columns storage: stride p from s).
 *
 * Quantiles are R's type 7: position q*(n - 1) between the two neighbouring order statistics.
 * Orders must lie in [0, 1] (a NaN order is refused). ZOK_SS_QUANTILES and/or ZOK_SS_ORDER_STATS,
 * method ZOK_SS_METHOD_EXACT. */
ZOK_SS_ESTIMATOR(_qordSSQuantiles);
ZOK_SS_ESTIMATOR(_qorsSSQuantiles);
/* Ascending copies of the selected variables in the sorted array, in its own storage; the sorted array
 * may be the observation array itself (same storage, no selection). Method ZOK_SS_METHOD_SORT. */
ZOK_SS_ESTIMATOR(_qordSSSort);
ZOK_SS_ESTIMATOR(_qorsSSSort);
/* ZOK_SS_MEDIAN_ABS_DEV: median of |x - median| (no scale factor, weights unused), method
 * ZOK_SS_METHOD_EXACT. ZOK_SS_MEAN_ABS_DEV: weighted mean of |x - centre|, the centre being the weighted
 * mean (ZOK_SS_METHOD_EXACT) or the registered means (ZOK_SS_METHOD_GIVEN_MEANS). Results at the
 * variable's own index. */
ZOK_SS_ESTIMATOR(_qordSSMAD);
ZOK_SS_ESTIMATOR(_qorsSSMAD);
/* The weighted quantile of every variable at the first order, written at quantiles[j]; absent weights
 * count 1. estimates and method are not examined. */
ZOK_SS_ESTIMATOR(_qordSSWMedian);
ZOK_SS_ESTIMATOR(_qorsSSWMedian);
/* Epsilon-approximate quantiles of a stream that arrives in portions (n may be 0): every answer has a
 * rank within eps*N of order*N, N being all observations seen. params[0] = eps in (0, 1], one
 * parameter; ZOK_SS_METHOD_STREAM takes the portion and writes quantiles[s*count + i] for the s-th
 * tracked variable, ZOK_SS_METHOD_STREAM_UPDATE only takes it. The first call fixes p and the tracked
 * variables (the selection then registered); a later call with another p or a selection of an
 * untracked variable gives ZOK_SS_ERR_INDICES. Before any observation the outputs are left alone. The
 * state lives until the task is deleted. */
ZOK_SS_ESTIMATOR(_qordSSStreamQuantiles);
ZOK_SS_ESTIMATOR(_qorsSSStreamQuantiles);

/* ---- derived covariance estimates ----
 * Matrices are read and written in their registered storage codes (full, packed lower, packed
 * upper); checks come first and no output is written when one fails or a factorisation fails.
 *
 * Partial covariance and correlation of the variables marked 1 in the partial-covariance selection
 * given those marked -1 (increasing variable order), from the registered covariance, else the
 * correlation (its diagonal taken as 1); |Y| x |Y| outputs. ZOK_SS_PARTIAL_COV, ZOK_SS_PARTIAL_COR,
 * method ZOK_SS_METHOD_PARTIAL; calling thread. */
ZOK_SS_API int32_t _qordSSPartialCovariance(SSTask* task, uint64_t estimates, uint64_t method);
ZOK_SS_API int32_t _qorsSSPartialCovariance(SSTask* task, uint64_t estimates, uint64_t method);
/* Group and pooled means and covariances; group g of the group-index array is 0..G-1, G the largest
 * index plus 1. Group g's mean at g*p, its covariance at g*(p*p or p*(p+1)/2); only groups whose
 * selection element is 1 are written. A group's covariance divides its cross-products by
 * W - W2/W; the pooled covariance divides the sum of all groups' cross-products by the sum of these
 * normalisers (unit weights: n minus the non-empty groups), the pooled mean is the weighted mean.
 * An empty group's slots, and a one-observation group's covariance, are NaN. Method
 * ZOK_SS_METHOD_POOLED. */
ZOK_SS_ESTIMATOR(_qordSSPooledCovariance);
ZOK_SS_ESTIMATOR(_qorsSSPooledCovariance);
/* The correlation with eigenvalues below 1e-14 raised to it and rescaled to unit diagonal, into the
 * parametrized-correlation array (may be the correlation itself unless that is packed and the output
 * full). A positive definite input comes back with its unit-diagonal form. Method
 * ZOK_SS_METHOD_REPAIR; calling thread. */
ZOK_SS_ESTIMATOR(_qordSSCorParametrization);
ZOK_SS_ESTIMATOR(_qorsSSCorParametrization);
/* Mahalanobis distances of the task's working range of observations; their inputs are set only by
 * the library's own estimators on a copy of a task: a task without them gives ZOK_SS_ERR_METHOD. */
ZOK_SS_ESTIMATOR(_qordSSMahDistance);
ZOK_SS_ESTIMATOR(_qorsSSMahDistance);
/* Rank test of a full p x p covariance: passes a positive definite matrix unchanged; a positive
 * semi-definite one with some eigenvalue above p*eps*max gets 1% of the smallest such eigenvalue added
 * to its diagonal; anything else gives ZOK_SS_ERR_COV_RANK. A 1 x 1 value in [-tiny, 0] (tiny the
 * real with bit pattern 1000) becomes tiny. */
ZOK_SS_API int32_t __qordTestCovRank(int64_t p, double* c);
ZOK_SS_API int32_t __qorsTestCovRank(int64_t p, float* c);
/* Inverse of a symmetric positive definite p x p matrix: reads and writes only the elements (i, j),
 * j <= i, at i*p + j. */
ZOK_SS_API int32_t __qordInvCov(int64_t p, double* c);
ZOK_SS_API int32_t __qorsInvCov(int64_t p, float* c);
/* ---- robust estimation ----
 * Both routines read every variable of the whole observation matrix; the task's weights and variable
 * selection take no part (except the weighted median below). They check the task, p, n, the
 * observations (ZOK_SS_ERR_X), their storage, their outputs and the method, in that order, and
 * write nothing unless they succeed (outlier weights: see below).
 *
 * Robust mean and covariance: n > 2p. Parameters (exactly 4, else all defaults): [0] breakdown point,
 * at most and by default (n - p)/(2n); [1] rejection probability alpha in (0, 1), else 0.001;
 * [2] accuracy eps > 0, else 0.001; [3] iterations (truncated; negative: 100; 0: the starting
 * estimate is the result). Started from an orthogonalised pairwise estimate reweighted by its
 * distances, a translated-biweight iteration stops when the squared change of mean and covariance
 * relative to their size falls to eps^2. The covariance goes to the robust-covariance storage (full,
 * packed lower or upper). ZOK_SS_ERR_COV_RANK when the data have no spread at all (identical
 * observations); ZOK_SS_ERR_ROBUST_FAILED when no weight is left. Method ZOK_SS_METHOD_ROBUST_COV. */
ZOK_SS_ESTIMATOR(_qordSSRobustCovariance);
ZOK_SS_ESTIMATOR(_qorsSSRobustCovariance);
/* Outlier weights (1 kept, 0 outlier) for n >= 5p observations. Parameters (exactly 3, else all
 * defaults): [0] 1 starts from the 5p observations nearest the mean in Mahalanobis distance, any
 * other value from those nearest the coordinate-wise medians (weighted medians when weights are
 * registered); [1] alpha in [0, 1], else 0.05; [2] accuracy > 0, else 0.005. The subset grows to every
 * observation within a corrected chi quantile of 1 - alpha of its mean and covariance, for at most
 * 100 rounds. alpha is a rate per observation measured on a truncated subset: on clean Gaussian data
 * expect between alpha and 2 alpha of the observations flagged. The weights are written also when the
 * final subset holds 5p observations or fewer, with ZOK_SS_ERR_ROBUST_FAILED (all 0 when it is empty,
 * e.g. alpha = 1). Method ZOK_SS_METHOD_OUTLIERS. */
ZOK_SS_ESTIMATOR(_qordSSOutliersDetection);
ZOK_SS_ESTIMATOR(_qorsSSOutliersDetection);
/* Multiple imputation of missing values, marked by the default quiet NaN with its sign set (double:
 * the 13 top bits set; float: sign, exponent and quiet bit, mask 0xFFC00000); other NaNs are data.
 * n > p observations. Parameters (exactly 5): [0] expectation-maximisation iterations (< 1: 50),
 * [1] data-augmentation iterations (< 1: 30), [2] EM accuracy, a relative change (<= 0: 0.001),
 * [3] imputations m >= 1, [4] the number of missing values, which must equal those found.
 * The start is the registered initial estimate when its count is p(p + 3)/2 (the mean, then the
 * covariance as rows of the lower triangle), else the EM estimate. Each imputation restarts from it
 * and alternates conditional normal draws of every observation's missing values with a posterior
 * draw of mean and covariance: Sigma ~ inverse-Wishart(nu0 + n - 1, Psi0 + S + kappa0 n/(kappa0 + n)
 * (xbar - mu0)(xbar - mu0)^T), mu ~ N((kappa0 mu0 + n xbar)/(kappa0 + n), Sigma/(kappa0 + n)), S the
 * completed data's scatter about its mean xbar. The optional prior holds 2 + p + p(p + 1)/2 values:
 * kappa0 >= 0, nu0 (a whole number >= 0), mu0, Psi0 as rows of the lower triangle; without one
 * kappa0 = nu0 = 0 and Psi0 = 0. Every draw is recorded in the estimates (m x iterations records of
 * p(p + 3)/2 values, laid out like the initial estimate); the simulated values hold the last draw of
 * each imputation, imputation after imputation, in the order of the observation array. The draws come
 * from a stream of its own (MCG59, seeds 1 and 0x40000): reruns repeat exactly. A covariance that is
 * not positive definite gives ZOK_SS_ERR_INV_FACTOR. Method ZOK_SS_METHOD_MISSING; calling thread. */
ZOK_SS_API int32_t _qordSSMissingValues(SSTask* task, uint64_t estimates, uint64_t method);
ZOK_SS_API int32_t _qorsSSMissingValues(SSTask* task, uint64_t estimates, uint64_t method);
/* Chi-square distribution function, density and quantile for k > 0 degrees of freedom (k real).
 * NaN arguments give NaN; CDF(k, +inf) = 1 and PDF(k, +inf) = 0; the CDF is 0 for x <= 0 or k <= 0,
 * the density 0 for x <= 0; ICDF(k, 0) = 0, ICDF(k, 1) = +inf, q outside [0, 1] or k <= 0 give NaN.
 * Relative error below 1e-12 for k up to 100 and 5e-12 up to 1000 (within the double range). */
ZOK_SS_API double __qordChi2CDF(double k, double x);
ZOK_SS_API double __qordChi2PDF(double k, double x);
ZOK_SS_API double __qordChi2ICDF(double k, double q);

/* ---- sorting helpers: ascending, in place ----
 * Worst case n log n: partitions that nest too deep (crafted input) are finished by heapsort.
 * n < 2 leaves the array alone; the selection returns NaN for n < 1 or k outside [0, n). */
ZOK_SS_API void __qordQSort(int64_t n, double* a);
/* Sorts a[0], a[stride], ..., a[(n-1)*stride] and leaves the other elements alone. */
ZOK_SS_API void __qordQSortStep(int64_t n, double* a, int64_t stride);
/* The k-th smallest (0-based), leaving a[0..k-1] <= a[k] <= a[k+1..n-1]. */
ZOK_SS_API double __qordQSortSelect(int64_t n, double* a, int64_t k);

/* ---- scalar helpers ---- */
/* The IEEE square root. */
ZOK_SS_API double __qordSqrt(double x);
/* ln x within 2 ulp; -744.4400719213812 at +-0, NaN below 0 or for NaN, +inf at +inf. */
ZOK_SS_API double __qordLn(double x);
/* __qordLn of x widened to double, rounded to float. */
ZOK_SS_API float __qorsLn(float x);
/* ln|Gamma(x)|; +inf at 0 and the negative integers. */
ZOK_SS_API double __qordLGamma(double x);
/* floor(x), bit for bit (-0 stays -0, NaN comes back quiet). */
ZOK_SS_API double __qordFloor(double x);

#ifdef __cplusplus
}
#endif

#endif /* ZOK_SUMMARY_STATS_H */
