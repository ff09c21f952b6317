/* zok vector math: per-thread mode word, error status and error callback. */
#ifndef ZOK_VECTOR_MATH_H
#define ZOK_VECTOR_MATH_H

#include <stdint.h>

#if defined(ZOK_BUILDING_KERNEL)
#define ZOK_VM_API __attribute__((visibility("default")))
#else
#define ZOK_VM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Fields of the mode word. */
#define ZOK_VM_ACCURACY_MASK 0xFu
#define ZOK_VM_LA 0x1u
#define ZOK_VM_HA 0x2u
#define ZOK_VM_EP 0x3u
#define ZOK_VM_CONSISTENCY_MASK 0x30u
#define ZOK_VM_ERRMODE_MASK 0xFF00u
#define ZOK_VM_ERRMODE_IGNORE 0x100u
#define ZOK_VM_ERRMODE_ERRNO 0x200u
#define ZOK_VM_ERRMODE_STDERR 0x400u
#define ZOK_VM_ERRMODE_EXCEPT 0x800u
#define ZOK_VM_ERRMODE_CALLBACK 0x1000u
#define ZOK_VM_DENORMAL_MASK 0x3C0000u
#define ZOK_VM_FTZDAZ_ON 0x280000u
#define ZOK_VM_FTZDAZ_OFF 0x140000u
/* The mode word used when ZOK_YUB_MODE is absent or malformed: HA, errno + except + callback. */
#define ZOK_VM_DEFAULT_MODE 0x1A02u

/* Error status codes. */
#define ZOK_VM_STATUS_OK 0
#define ZOK_VM_STATUS_DOMAIN 1
#define ZOK_VM_STATUS_SING 2
#define ZOK_VM_STATUS_OVERFLOW 3
#define ZOK_VM_STATUS_UNDERFLOW 4
#define ZOK_VM_STATUS_BADARG_INDEX (-1)
#define ZOK_VM_STATUS_BADARG (-2)

/* The record handed to an error callback. Single-precision values are widened to double here and
 * narrowed back when written. */
typedef struct ErrorContext {
  int32_t code;
  int32_t index; /* element index in the caller's whole array */
  double arg1;
  double arg2; /* the first argument again for a function of one argument */
  double res1;
  double res2; /* the first result again for a function of one result */
  char func_name[64];
  int32_t func_name_len;
  double arg1_im;
  double arg2_im;
  double res1_im;
  double res2_im;
} ErrorContext;

/* Returns 0 to let the report go on (and its results be written back), non-zero to end it. */
typedef int32_t (*ErrorCallback)(ErrorContext* context);

/* Each service is exported as _yub<Name> and zok_yub_kernel_<Name>. */
#define ZOK_VM_SERVICES(prefix)                                              \
  ZOK_VM_API uint32_t prefix##GetMode(void);                                 \
  ZOK_VM_API uint32_t prefix##SetMode(uint32_t mode);                        \
  ZOK_VM_API int32_t prefix##GetErrStatus(void);                             \
  ZOK_VM_API int32_t prefix##SetErrStatus(int32_t status);                   \
  ZOK_VM_API int32_t prefix##ClearErrStatus(void);                           \
  ZOK_VM_API ErrorCallback prefix##GetErrorCallBack(void);                   \
  ZOK_VM_API ErrorCallback prefix##SetErrorCallBack(ErrorCallback callback); \
  ZOK_VM_API ErrorCallback prefix##ClearErrorCallBack(void);                 \
  ZOK_VM_API const void* prefix##SetInterfInputVectorPointer(const void* input_base);

ZOK_VM_SERVICES(_yub)
ZOK_VM_SERVICES(zok_yub_kernel_)

/* The kernel-table slot the calling thread's mode selects: (mode & 0xF) - 1. */
ZOK_VM_API int32_t zok_yub_kernel_GetTTableIndex(void);
/* (mode & 0xF) - 1 for the given mode word; the thread state is not touched. */
ZOK_VM_API int32_t zok_yub_kernel_GetTTableIndexM(const void* unused, uint32_t mode);
/* Always 0. */
ZOK_VM_API int32_t dll_cpu_version(void);

/* ---- vector functions: kernel tables and entry stubs ----
 * Every function of zok/vm_functions.def has, for its element type t:
 *   zok_yub_kernel_<t><Func>_ttab   three kernel pointers, by slot: 0 LA, 1 HA, 2 EP (writable)
 *   zok_yub_kernel_<t><Func>_ctab   three float cost figures (LA, HA, EP) and a zero word
 *   _yub<t><Func>, _yub<t><Func>_HA  call slot 1; _21 (s) / _50 (d) call slot 0; _11 / _26 slot 2.
 * n <= 0 does nothing. Kernels report element errors through the thread's status and callback.
 *
 * Floating-point control: a kernel sets its rounding direction and the mode word's denormal
 * handling, masks every floating-point exception, and gives the caller's MXCSR back unchanged at
 * exit (flags raised inside do not reach the caller), so a caller that unmasks exceptions gets
 * results and reports, not traps. The kernels that run under the caller's control (Abs of s and d;
 * Add, Sub and Mul of d; NearbyInt and Rint; the EP kernels of dLn and dLog10) keep the caller's
 * rounding, denormal handling and exception masks by design: with invalid or divide-by-zero
 * unmasked, they trap where IEEE arithmetic raises those exceptions. */
/* Complex elements: interleaved pairs (re, im) of floats (c) or doubles (z). Passed by value they
 * travel exactly as C99 float _Complex and double _Complex do (in SSE registers). */
typedef struct ZokComplex8 {
  float re, im;
} ZokComplex8;
typedef struct ZokComplex16 {
  double re, im;
} ZokComplex16;

#define ZOK_VM_T_s float
#define ZOK_VM_T_d double
#define ZOK_VM_T_c ZokComplex8
#define ZOK_VM_T_z ZokComplex16
#define ZOK_VM_LA_SUFFIX_s _21
#define ZOK_VM_LA_SUFFIX_d _50
#define ZOK_VM_LA_SUFFIX_c _21
#define ZOK_VM_LA_SUFFIX_z _50
#define ZOK_VM_EP_SUFFIX_s _11
#define ZOK_VM_EP_SUFFIX_d _26
#define ZOK_VM_EP_SUFFIX_c _11
#define ZOK_VM_EP_SUFFIX_z _26
#define ZOK_VM_CAT_(a, b) a##b
#define ZOK_VM_CAT(a, b) ZOK_VM_CAT_(a, b)
/* The real type of a complex element type, for Abs, Arg and CIS. */
#define ZOK_VM_REAL_ZokComplex8 float
#define ZOK_VM_REAL_ZokComplex16 double
#define ZOK_VM_REAL(T) ZOK_VM_CAT(ZOK_VM_REAL_, T)

/* Parameter lists after n, by shape. */
#define ZOK_VM_PARAMS_A_R(T) const T *a, T *r
#define ZOK_VM_PARAMS_AB_R(T) const T *a, const T *b, T *r
#define ZOK_VM_PARAMS_LINFRAC(T) const T *a, const T *b, T scalea, T shifta, T scaleb, T shiftb, T *r
#define ZOK_VM_PARAMS_A_RR(T) const T *a, T *r1, T *r2
#define ZOK_VM_PARAMS_AX_R(T) const T *a, T b, T *r
/* Complex to real (Abs, Arg), real to complex (CIS); zPowx's stubs take the scalar by value and
 * hand its kernel a pointer to their own copy. */
#define ZOK_VM_PARAMS_C_R(T) const T *a, ZOK_VM_REAL(T) * r
#define ZOK_VM_PARAMS_R_C(T) const ZOK_VM_REAL(T) * a, T* r
#define ZOK_VM_PARAMS_AXP_R(T) const T *a, T b, T *r
/* Pack and unpack stubs take 32-bit counts, increments, index and mask elements. */
#define ZOK_VM_PARAMS_PACK_I(T) const T *a, int inca, T *y
#define ZOK_VM_PARAMS_PACK_V(T) const T *a, const int *ia, T *y
#define ZOK_VM_PARAMS_PACK_M(T) const T *a, const int *ma, T *y
#define ZOK_VM_PARAMS_UNPACK_I(T) const T *a, T *y, int incy
#define ZOK_VM_PARAMS_UNPACK_V(T) const T *a, T *y, const int *iy
#define ZOK_VM_PARAMS_UNPACK_M(T) const T *a, T *y, const int *my
#define ZOK_VM_ARGS_A_R a, r
#define ZOK_VM_ARGS_AB_R a, b, r
#define ZOK_VM_ARGS_LINFRAC a, b, scalea, shifta, scaleb, shiftb, r
#define ZOK_VM_ARGS_A_RR a, r1, r2
#define ZOK_VM_ARGS_AX_R a, b, r
#define ZOK_VM_ARGS_C_R a, r
#define ZOK_VM_ARGS_R_C a, r
#define ZOK_VM_ARGS_AXP_R a, b, r

/* What the kernels in the tables take: the stubs' arguments, except that pack and unpack kernels take
 * a 64-bit n and increment, index and mask arrays of either width, and a last argument, the
 * integer-width flag: 1 means n, the increment and the array elements are 32-bit (only the low 32
 * bits of n and the increment are read), any other value that they are 64-bit. The stubs pass 1. */
#define ZOK_VM_KN_A_R int
#define ZOK_VM_KN_AB_R int
#define ZOK_VM_KN_LINFRAC int
#define ZOK_VM_KN_A_RR int
#define ZOK_VM_KN_AX_R int
#define ZOK_VM_KN_C_R int
#define ZOK_VM_KN_R_C int
#define ZOK_VM_KN_AXP_R int
#define ZOK_VM_KN_PACK_I int64_t
#define ZOK_VM_KN_PACK_V int64_t
#define ZOK_VM_KN_PACK_M int64_t
#define ZOK_VM_KN_UNPACK_I int64_t
#define ZOK_VM_KN_UNPACK_V int64_t
#define ZOK_VM_KN_UNPACK_M int64_t
#define ZOK_VM_KPARAMS_A_R ZOK_VM_PARAMS_A_R
#define ZOK_VM_KPARAMS_AB_R ZOK_VM_PARAMS_AB_R
#define ZOK_VM_KPARAMS_LINFRAC ZOK_VM_PARAMS_LINFRAC
#define ZOK_VM_KPARAMS_A_RR ZOK_VM_PARAMS_A_RR
#define ZOK_VM_KPARAMS_AX_R ZOK_VM_PARAMS_AX_R
#define ZOK_VM_KPARAMS_C_R ZOK_VM_PARAMS_C_R
#define ZOK_VM_KPARAMS_R_C ZOK_VM_PARAMS_R_C
#define ZOK_VM_KPARAMS_AXP_R(T) const T *a, const T *b, T *r
#define ZOK_VM_KPARAMS_PACK_I(T) const T *a, int64_t inca, T *y, int32_t flag
#define ZOK_VM_KPARAMS_PACK_V(T) const T *a, const void *ia, T *y, int32_t flag
#define ZOK_VM_KPARAMS_PACK_M(T) const T *a, const void *ma, T *y, int32_t flag
#define ZOK_VM_KPARAMS_UNPACK_I(T) const T *a, T *y, int64_t incy, int32_t flag
#define ZOK_VM_KPARAMS_UNPACK_V(T) const T *a, T *y, const void *iy, int32_t flag
#define ZOK_VM_KPARAMS_UNPACK_M(T) const T *a, T *y, const void *my, int32_t flag
#define ZOK_VM_KARGS_A_R ZOK_VM_ARGS_A_R
#define ZOK_VM_KARGS_AB_R ZOK_VM_ARGS_AB_R
#define ZOK_VM_KARGS_LINFRAC ZOK_VM_ARGS_LINFRAC
#define ZOK_VM_KARGS_A_RR ZOK_VM_ARGS_A_RR
#define ZOK_VM_KARGS_AX_R ZOK_VM_ARGS_AX_R
#define ZOK_VM_KARGS_C_R ZOK_VM_ARGS_C_R
#define ZOK_VM_KARGS_R_C ZOK_VM_ARGS_R_C
#define ZOK_VM_KARGS_AXP_R a, &b, r
#define ZOK_VM_KARGS_PACK_I a, (int64_t)inca, y, 1
#define ZOK_VM_KARGS_PACK_V a, ia, y, 1
#define ZOK_VM_KARGS_PACK_M a, ma, y, 1
#define ZOK_VM_KARGS_UNPACK_I a, y, (int64_t)incy, 1
#define ZOK_VM_KARGS_UNPACK_V a, y, iy, 1
#define ZOK_VM_KARGS_UNPACK_M a, y, my, 1

#define ZOK_VM_STUB_NAME(t, F) _yub##t##F
#define ZOK_VM_DECLARE(t, F, SHAPE, SHARE, ROUND, CALLER, c0, c1, c2)                                       \
  ZOK_VM_API extern void* zok_yub_kernel_##t##F##_ttab[3];                                                  \
  ZOK_VM_API extern const float zok_yub_kernel_##t##F##_ctab[4];                                            \
  ZOK_VM_API void _yub##t##F(int n, ZOK_VM_PARAMS_##SHAPE(ZOK_VM_T_##t));                                   \
  ZOK_VM_API void _yub##t##F##_HA(int n, ZOK_VM_PARAMS_##SHAPE(ZOK_VM_T_##t));                              \
  ZOK_VM_API void ZOK_VM_CAT(_yub##t##F, ZOK_VM_LA_SUFFIX_##t)(int n, ZOK_VM_PARAMS_##SHAPE(ZOK_VM_T_##t)); \
  ZOK_VM_API void ZOK_VM_CAT(_yub##t##F, ZOK_VM_EP_SUFFIX_##t)(int n, ZOK_VM_PARAMS_##SHAPE(ZOK_VM_T_##t));

#define ZOK_VM_FUNCTION ZOK_VM_DECLARE
#include "zok/vm_functions.def"
#undef ZOK_VM_FUNCTION

#ifdef __cplusplus
}
#endif

#endif /* ZOK_VECTOR_MATH_H */
