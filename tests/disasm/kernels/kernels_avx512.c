/* Kernels built with -mavx512f: EVEX-encoded code with masks, broadcasts and compressed
   displacements. */
#include <immintrin.h>
#include <stdint.h>

#define EXPORT __declspec(dllexport)

EXPORT void AddFloats512(float* a, const float* b, int count) {
  for (int i = 0; i < count; ++i) a[i] += b[i];
}

EXPORT void ScaleBroadcast(float* data, float factor, int count) {
  for (int i = 0; i < count; ++i) data[i] *= factor;
}

EXPORT void MaskedAdd(float* a, const float* b, uint16_t mask) {
  __m512 va = _mm512_loadu_ps(a);
  _mm512_storeu_ps(a, _mm512_mask_add_ps(va, mask, va, _mm512_loadu_ps(b)));
}

EXPORT void ZeroMaskedMul(double* a, const double* b, uint8_t mask) {
  _mm512_storeu_pd(a, _mm512_maskz_mul_pd(mask, _mm512_loadu_pd(a), _mm512_loadu_pd(b)));
}

EXPORT void TernaryLogic(int32_t* a, const int32_t* b, const int32_t* c) {
  __m512i r = _mm512_ternarylogic_epi32(_mm512_loadu_si512(a), _mm512_loadu_si512(b),
                                        _mm512_loadu_si512(c), 0x96);
  _mm512_storeu_si512(a, r);
}

EXPORT int CompressPositive(const int32_t* from, int32_t* to) {
  __m512i v = _mm512_loadu_si512(from);
  __mmask16 positive = _mm512_cmpgt_epi32_mask(v, _mm512_setzero_si512());
  _mm512_mask_compressstoreu_epi32(to, positive, v);
  return __builtin_popcount(positive);
}

EXPORT void AddFromMemoryBroadcast(float* data, const float* value) {
  __m512 v = _mm512_loadu_ps(data);
  _mm512_storeu_ps(data, _mm512_add_ps(v, _mm512_set1_ps(*value)));
}

EXPORT void FmaTail(double* y, const double* x, double a, int count) {
  for (int i = 0; i < count; ++i) y[i] = a * x[i] + y[i];
}

EXPORT int64_t SumInt64(const int64_t* data, int count) {
  int64_t total = 0;
  for (int i = 0; i < count; ++i) total += data[i];
  return total;
}

EXPORT void PermuteTwo(int32_t* a, const int32_t* b) {
  __m512i index = _mm512_setr_epi32(0, 17, 2, 19, 4, 21, 6, 23, 8, 25, 10, 27, 12, 29, 14, 31);
  _mm512_storeu_si512(a, _mm512_permutex2var_epi32(_mm512_loadu_si512(a), index,
                                                   _mm512_loadu_si512(b)));
}

EXPORT void MinMaxClamp(int32_t* data, int32_t low, int32_t high, int count) {
  for (int i = 0; i < count; ++i) data[i] = data[i] < low ? low : data[i] > high ? high : data[i];
}
