/* The DLL's entry point and the memory routines the compiler may call, so that the kernels
   link without a C runtime. */
#include <stddef.h>

int __stdcall KernelsEntry(void* module, unsigned reason, void* reserved) {
  (void)module;
  (void)reason;
  (void)reserved;
  return 1;
}

void* memset(void* to, int value, size_t count) {
  unsigned char* p = to;
  while (count--) *p++ = (unsigned char)value;
  return to;
}

void* memcpy(void* to, const void* from, size_t count) {
  unsigned char* p = to;
  const unsigned char* q = from;
  while (count--) *p++ = *q++;
  return to;
}
