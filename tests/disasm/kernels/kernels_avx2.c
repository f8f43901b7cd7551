/* Kernels built with -mavx2 -mfma -mbmi -mbmi2 -mlzcnt -mf16c: VEX-encoded vector code, FMA,
   gathers and the bit-manipulation instructions. */
#include <immintrin.h>
#include <stdint.h>

#define EXPORT __declspec(dllexport)

EXPORT void Saxpy(float* y, const float* x, float a, int count) {
  for (int i = 0; i < count; ++i) y[i] = a * x[i] + y[i];
}

EXPORT double DotProductDouble(const double* a, const double* b, int count) {
  double total = 0;
  for (int i = 0; i < count; ++i) total = a[i] * b[i] + total;
  return total;
}

EXPORT void AddInts(int32_t* a, const int32_t* b, int count) {
  for (int i = 0; i < count; ++i) a[i] += b[i];
}

EXPORT float GatherSum(const float* table, const int32_t* index, int count) {
  __m256 sum = _mm256_setzero_ps();
  for (int i = 0; i + 8 <= count; i += 8) {
    __m256i at = _mm256_loadu_si256((const __m256i*)(index + i));
    sum = _mm256_add_ps(sum, _mm256_i32gather_ps(table, at, 4));
  }
  __m128 half = _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
  half = _mm_hadd_ps(half, half);
  return _mm_cvtss_f32(_mm_hadd_ps(half, half));
}

EXPORT uint32_t Deposit(uint32_t value, uint32_t mask) { return _pdep_u32(value, mask); }
EXPORT uint32_t ExtractBits(uint32_t value, uint32_t mask) { return _pext_u32(value, mask); }
EXPORT uint32_t LowBits(uint32_t value, uint32_t count) { return _bzhi_u32(value, count); }
EXPORT uint32_t FieldOf(uint32_t value, uint32_t start, uint32_t length) {
  return _bextr_u32(value, start, length);
}
EXPORT uint32_t LeadingZeros(uint32_t value) { return _lzcnt_u32(value); }
EXPORT uint32_t TrailingZeros(uint32_t value) { return _tzcnt_u32(value); }
EXPORT uint32_t ClearLowest(uint32_t value) { return _blsr_u32(value); }
EXPORT uint32_t ShiftRightVariable(uint32_t value, uint32_t count) { return value >> (count & 31); }
EXPORT uint32_t MultiplyHigh(uint32_t a, uint32_t b) {
  uint32_t high;
  _mulx_u32(a, b, &high);
  return high;
}
EXPORT uint32_t AndNot(uint32_t a, uint32_t b) { return _andn_u32(a, b); }

EXPORT void MaxBytes(uint8_t* a, const uint8_t* b, int count) {
  for (int i = 0; i < count; ++i) a[i] = a[i] > b[i] ? a[i] : b[i];
}

EXPORT void ShuffleLanes(int32_t* data) {
  __m256i v = _mm256_loadu_si256((__m256i*)data);
  v = _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
  v = _mm256_permute4x64_epi64(v, 0x1B);
  _mm256_storeu_si256((__m256i*)data, _mm256_blend_epi32(v, _mm256_slli_epi32(v, 3), 0xA5));
}

EXPORT void HalfToFloat(const uint16_t* from, float* to) {
  _mm256_storeu_ps(to, _mm256_cvtph_ps(_mm_loadu_si128((const __m128i*)from)));
}

EXPORT void ScaleDoubles(double* data, double factor, int count) {
  for (int i = 0; i < count; ++i) data[i] = data[i] * factor - 1.0;
}

EXPORT int CountMatches(const int16_t* a, int16_t value, int count) {
  int matches = 0;
  for (int i = 0; i < count; ++i) matches += a[i] == value;
  return matches;
}

EXPORT void ConvertToInt(const float* from, int32_t* to, int count) {
  for (int i = 0; i < count; ++i) to[i] = (int32_t)from[i];
}
