/* zok core library: memory, locks, messages, environment, bounded copy, threading entry points,
 * and the linear-algebra forms the kernel library imports. */
#ifndef ZOK_CORE_SERVICES_H
#define ZOK_CORE_SERVICES_H

#include <stddef.h>
#include <stdint.h>

#if defined(ZOK_BUILDING_CORE) || defined(ZOK_BUILDING_KERNEL)
#define ZOK_API __attribute__((visibility("default")))
#else
#define ZOK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- memory, locks, messages, process ---- */

/* Returns a block of at least `size` bytes aligned to `alignment` (a power of two; values below 128
 * are raised to 128), or null when the block cannot be had. */
ZOK_API void* zok_serv_allocate(size_t size, int alignment);
ZOK_API void zok_serv_deallocate(void* ptr);

/* Mutual exclusion on a caller-owned lock word that starts at 0. */
ZOK_API void zok_serv_lock(int* lock_word);
ZOK_API void zok_serv_unlock(int* lock_word);

/* Writes numbered catalogue message `msg` to standard error. Arguments by number:
 * 735 (const char* name, int index); 736..741 (const char* name); 742..753 (int index, double value);
 * 760 (none). Unknown numbers print the number alone. */
ZOK_API void zok_serv_print(int level, int msg, int argc, ...);

/* Flushes the standard streams and ends the process with `code`. */
ZOK_API void zok_serv_exit(int code);

/* Copies the value of environment variable `name` into `buf` (cut to size-1 bytes, always
 * NUL-terminated when size > 0) and returns the value's full length; returns -1 when the variable
 * is absent or an argument is null. */
ZOK_API int zok_serv_getenv(const char* name, char* buf, int size);

/* Copies `count` bytes when they fit in `dest_size`; returns 0. Otherwise never writes past
 * `dest_size`: clears the destination and returns 34 (count too large) or 22 (null pointer). */
ZOK_API int zok_serv_memcpy_s(void* dest, size_t dest_size, const void* src, size_t count);

/* ---- threading ---- */

/* body(index, thread index, threads, context) */
typedef void (*ZokLoopBody)(int64_t index, int thread, int nthreads, void* context);
/* Calls body for every index in [0, count) on at most `nthreads` threads; returns when all are done. */
typedef void (*ZokParallelFor)(int64_t count, int nthreads, void* context, ZokLoopBody body);
/* Calls body(thread index, thread index, nthreads, context) once per thread index in [0, nthreads). */
typedef void (*ZokParallelRun)(int nthreads, void* context, ZokLoopBody body);
typedef int (*ZokThreadLimit)(void);

/* The table passed to compute routines that may split their work over threads. */
typedef struct ThreadingServices {
  ZokParallelFor parallel_for;  /* slot 0 */
  ZokParallelFor parallel_for2; /* slot 1: the same contract as slot 0 */
  ZokParallelRun parallel_run;  /* slot 2 */
  void* reserved;               /* slot 3: unused, null */
  ZokThreadLimit max_threads;   /* slot 4: the largest number of threads that may be used */
} ThreadingServices;

ZOK_API const ThreadingServices* zok_serv_get_threading_services(void);

/* Threads that may be used: the machine's cores, lowered by ZOK_NUM_THREADS. */
ZOK_API int zok_qor_serv_threader_get_num_threads_limit(void);
/* Runs worker(item, thread index, threads, context) for every item in [0, count); `flags` must be 0. */
ZOK_API void zok_qor_serv_threader_for(int64_t count, int flags, void* context, ZokLoopBody worker);
/* Returns the threading entry point of that name, or null. */
ZOK_API void* zok_serv_load_thread_fun(const char* name);

/* ---- linear algebra: standard argument lists, every argument by reference ---- */

#define ZOK_BLAS_GEMM(T, name)                                                                             \
  ZOK_API void name(const char* transa, const char* transb, const int* m, const int* n, const int* k,      \
                    const T* alpha, const T* a, const int* lda, const T* b, const int* ldb, const T* beta, \
                    T* c, const int* ldc)
#define ZOK_BLAS_GEMV(T, name)                                                                 \
  ZOK_API void name(const char* trans, const int* m, const int* n, const T* alpha, const T* a, \
                    const int* lda, const T* x, const int* incx, const T* beta, T* y, const int* incy)
#define ZOK_BLAS_SYRK(T, name)                                                                       \
  ZOK_API void name(const char* uplo, const char* trans, const int* n, const int* k, const T* alpha, \
                    const T* a, const int* lda, const T* beta, T* c, const int* ldc)
#define ZOK_BLAS_SYR(T, name)                                                                          \
  ZOK_API void name(const char* uplo, const int* n, const T* alpha, const T* x, const int* incx, T* a, \
                    const int* lda)
#define ZOK_BLAS_SYMM(T, name)                                                                      \
  ZOK_API void name(const char* side, const char* uplo, const int* m, const int* n, const T* alpha, \
                    const T* a, const int* lda, const T* b, const int* ldb, const T* beta, T* c,    \
                    const int* ldc)
#define ZOK_BLAS_TRMM(T, name)                                                                              \
  ZOK_API void name(const char* side, const char* uplo, const char* transa, const char* diag, const int* m, \
                    const int* n, const T* alpha, const T* a, const int* lda, T* b, const int* ldb)
/* Packed form of trmm: `ap` holds the triangle packed by columns. */
#define ZOK_BLAS_PTRMM(T, name)                                                                             \
  ZOK_API void name(const char* side, const char* uplo, const char* transa, const char* diag, const int* m, \
                    const int* n, const T* alpha, const T* ap, T* b, const int* ldb)
#define ZOK_LAPACK_POTRF(T, name) \
  ZOK_API void name(const char* uplo, const int* n, T* a, const int* lda, int* info)
#define ZOK_LAPACK_TRTRI(T, name) \
  ZOK_API void name(const char* uplo, const char* diag, const int* n, T* a, const int* lda, int* info)
#define ZOK_LAPACK_SYEV(T, name)                                                                           \
  ZOK_API void name(const char* jobz, const char* uplo, const int* n, T* a, const int* lda, T* w, T* work, \
                    const int* lwork, int* info)
#define ZOK_LAPACK_SPEVD(T, name)                                                                        \
  ZOK_API void name(const char* jobz, const char* uplo, const int* n, T* ap, T* w, T* z, const int* ldz, \
                    T* work, const int* lwork, int* iwork, const int* liwork, int* info)

#define ZOK_LINALG_FORMS(T, p)                \
  ZOK_BLAS_GEMM(T, zok_blas_##p##gemm);       \
  ZOK_BLAS_GEMV(T, zok_blas_##p##gemv);       \
  ZOK_BLAS_SYRK(T, zok_blas_##p##syrk);       \
  ZOK_BLAS_SYR(T, zok_blas_##p##syr);         \
  ZOK_BLAS_TRMM(T, zok_blas_##p##trmm);       \
  ZOK_BLAS_GEMM(T, zok_blas_x##p##gemm);      \
  ZOK_BLAS_SYMM(T, zok_blas_x##p##symm);      \
  ZOK_BLAS_SYRK(T, zok_blas_x##p##syrk);      \
  ZOK_BLAS_SYR(T, zok_blas_x##p##syr);        \
  ZOK_BLAS_TRMM(T, zok_blas_x##p##trmm_4yub); \
  ZOK_BLAS_TRMM(T, zok_blas4yub_##p##trmm);   \
  ZOK_BLAS_PTRMM(T, zok_blas4yub_##p##ptrmm); \
  ZOK_LAPACK_POTRF(T, zok_lapack_##p##potrf); \
  ZOK_LAPACK_POTRF(T, zok_lapack_##p##potri); \
  ZOK_LAPACK_TRTRI(T, zok_lapack_##p##trtri); \
  ZOK_LAPACK_SYEV(T, zok_lapack_##p##syev);   \
  ZOK_LAPACK_SPEVD(T, zok_lapack_##p##spevd)

ZOK_LINALG_FORMS(float, s);
ZOK_LINALG_FORMS(double, d);

/* Tridiagonal systems without pivoting. dl, d, du: sub-, main and super-diagonal (n-1, n, n-1).
 * info: 0 on success, -i when argument i is illegal, i > 0 when pivot i is exactly zero (the
 * factorisation stops there). The factorisation overwrites dl with the multipliers and d with
 * the pivots; du is unchanged. */
ZOK_API void ddttrfb_4dfl(const int* n, double* dl, double* d, double* du, int* info);
ZOK_API void sdttrfb_4dfl(const int* n, float* dl, float* d, float* du, int* info);
/* trans: 'N' solves A x = b, 'T' or 'C' solves A^T x = b, with the factors of *dttrfb_4dfl. */
ZOK_API void ddttrsb_4dfl(const char* trans, const int* n, const int* nrhs, const double* dl, const double* d,
                          const double* du, double* b, const int* ldb, int* info);
ZOK_API void sdttrsb_4dfl(const char* trans, const int* n, const int* nrhs, const float* dl, const float* d,
                          const float* du, float* b, const int* ldb, int* info);
ZOK_API void ddtsvb_4dfl(const int* n, const int* nrhs, double* dl, double* d, double* du, double* b,
                         const int* ldb, int* info);
ZOK_API void sdtsvb_4dfl(const int* n, const int* nrhs, float* dl, float* d, float* du, float* b,
                         const int* ldb, int* info);

#ifdef __cplusplus
}
#endif

#endif /* ZOK_CORE_SERVICES_H */
