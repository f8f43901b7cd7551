/* Numeric and string kernels built with -msse4.2 -mpopcnt: the SSSE3, SSE4.1 and SSE4.2
   instructions an optimising compiler emits, for the decoder's comparison with capstone. */
#include <nmmintrin.h>
#include <stdint.h>

#define EXPORT __declspec(dllexport)

EXPORT uint32_t Crc32Bytes(const uint8_t* data, int count, uint32_t crc) {
  for (int i = 0; i < count; ++i) crc = _mm_crc32_u8(crc, data[i]);
  return crc;
}

EXPORT uint32_t Crc32Words(const uint32_t* data, int count, uint32_t crc) {
  for (int i = 0; i < count; ++i) crc = _mm_crc32_u32(crc, data[i]);
  return crc;
}

EXPORT int PopulationCount(const uint32_t* data, int count) {
  int total = 0;
  for (int i = 0; i < count; ++i) total += __builtin_popcount(data[i]);
  return total;
}

EXPORT int FindAnyOf(const char* text, const char* set16) {
  __m128i set = _mm_loadu_si128((const __m128i*)set16);
  for (int offset = 0;; offset += 16) {
    __m128i chunk = _mm_loadu_si128((const __m128i*)(text + offset));
    int at = _mm_cmpistri(set, chunk, _SIDD_CMP_EQUAL_ANY);
    if (at < 16) return offset + at;
    if (_mm_cmpistrz(set, chunk, _SIDD_CMP_EQUAL_ANY)) return -1;
  }
}

EXPORT void ReverseBytes16(uint8_t* block) {
  const __m128i order = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  _mm_storeu_si128((__m128i*)block, _mm_shuffle_epi8(_mm_loadu_si128((__m128i*)block), order));
}

EXPORT int MaxSigned32(const int32_t* data, int count) {
  int best = INT32_MIN;
  for (int i = 0; i < count; ++i) best = data[i] > best ? data[i] : best;
  return best;
}

EXPORT void WidenBytes(const int8_t* from, int32_t* to, int count) {
  for (int i = 0; i < count; ++i) to[i] = from[i];
}

EXPORT void MultiplyLow32(int32_t* a, const int32_t* b, int count) {
  for (int i = 0; i < count; ++i) a[i] *= b[i];
}

EXPORT void RoundAll(float* data, int count) {
  for (int i = 0; i < count; ++i) data[i] = __builtin_floorf(data[i]);
}

EXPORT float DotProduct4(const float* a, const float* b) {
  return _mm_cvtss_f32(_mm_dp_ps(_mm_loadu_ps(a), _mm_loadu_ps(b), 0xF1));
}

EXPORT int Extract2(const int32_t* data) {
  __m128i v = _mm_loadu_si128((const __m128i*)data);
  return _mm_extract_epi32(v, 2) + _mm_extract_epi8(v, 5);
}

EXPORT int AbsSum16(const int16_t* data, int count) {
  int total = 0;
  for (int i = 0; i < count; ++i) total += data[i] < 0 ? -data[i] : data[i];
  return total;
}

EXPORT int EqualQwords(const int64_t* a, const int64_t* b, int count) {
  int equal = 0;
  for (int i = 0; i < count; ++i) equal += a[i] == b[i];
  return equal;
}
