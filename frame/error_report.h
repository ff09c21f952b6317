// Error reports of vector kernels: one routine per element type.
#pragma once

#include <complex>
#include <cstdint>

namespace zok::vm {

// Each routine sets the thread's status to `code` and, as the mode word asks, calls the error
// callback, sets errno and prints the numbered report; then it writes element `index` of the
// result arrays back (as the callback may have changed it). A kernel of one argument passes its
// input twice, a kernel of one result its output twice. For codes -1 and -2 the arrays are not read.
void report_error_s(int32_t code, int32_t index, const float* a1, const float* a2, float* r1, float* r2,
                    const char* name);
void report_error_d(int32_t code, int32_t index, const double* a1, const double* a2, double* r1, double* r2,
                    const char* name);
void report_error_c(int32_t code, int32_t index, const std::complex<float>* a1, const std::complex<float>* a2,
                    std::complex<float>* r1, std::complex<float>* r2, const char* name);
void report_error_z(int32_t code, int32_t index, const std::complex<double>* a1,
                    const std::complex<double>* a2, std::complex<double>* r1, std::complex<double>* r2,
                    const char* name);

// The same for kernels of one array and one value b: the report's second argument is b.
void report_error_s_value(int32_t code, int32_t index, const float* a1, float b, float* r, const char* name);
void report_error_d_value(int32_t code, int32_t index, const double* a1, double b, double* r,
                          const char* name);
void report_error_c_value(int32_t code, int32_t index, const std::complex<float>* a1, std::complex<float> b,
                          std::complex<float>* r, const char* name);
void report_error_z_value(int32_t code, int32_t index, const std::complex<double>* a1, std::complex<double> b,
                          std::complex<double>* r, const char* name);

// errno value set for a status code.
int errno_for_status(int32_t code);

}  // namespace zok::vm
