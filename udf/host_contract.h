// The calling contract between a Firebird/InterBase server and an external-function
// library: the blob record the server builds for blob arguments and results, and the
// server's allocator for text results.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define QX_CDECL __cdecl
#else
#define QX_CDECL
#endif

extern "C" {

// Reads the next segment into buffer; stores the delivered byte count in *actualLength.
typedef int16_t(QX_CDECL* BlobReadFn)(void* blobHandle, unsigned char* buffer,
                                      uint16_t bufferSize, uint16_t* actualLength);
// Appends one segment to an output blob.
typedef void(QX_CDECL* BlobWriteFn)(void* blobHandle, const unsigned char* buffer,
                                    uint16_t length);

// The server owns this record; it lives for the duration of one call. The server may
// place further fields after these; we never read them.
struct BlobDescriptor {
  BlobReadFn readSegment;
  void* blobHandle;
  int32_t segmentCount;
  int32_t largestSegment;
  int32_t totalLength;
  BlobWriteFn writeSegment;
};

// The server's allocator: text results are handed over in blocks from here and the
// server frees them. Its count is a C long: 32 bits on Windows of either width, 64 bits
// in the Linux engine's libib_util.so, where passing an int would leave the upper half of
// the register undefined.
typedef long IbUtilSize;
void* QX_CDECL ib_util_malloc(IbUtilSize size);

}  // extern "C"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(BlobDescriptor, readSegment) == 0);
static_assert(offsetof(BlobDescriptor, blobHandle) == 4);
static_assert(offsetof(BlobDescriptor, segmentCount) == 8);
static_assert(offsetof(BlobDescriptor, largestSegment) == 12);
static_assert(offsetof(BlobDescriptor, totalLength) == 16);
static_assert(offsetof(BlobDescriptor, writeSegment) == 20);
#endif
#if defined(_WIN32)
static_assert(sizeof(IbUtilSize) == 4, "ib_util_malloc's long is 32 bits on Windows");
#endif
#if defined(_WIN64) || defined(__x86_64__)
// The record of a 64-bit server, on Linux and on Windows alike: pointers take 8 bytes and
// align to 8, the counts stay 32-bit.
static_assert(offsetof(BlobDescriptor, readSegment) == 0);
static_assert(offsetof(BlobDescriptor, blobHandle) == 8);
static_assert(offsetof(BlobDescriptor, segmentCount) == 16);
static_assert(offsetof(BlobDescriptor, largestSegment) == 20);
static_assert(offsetof(BlobDescriptor, totalLength) == 24);
static_assert(offsetof(BlobDescriptor, writeSegment) == 32);
static_assert(sizeof(BlobDescriptor) == 40);
#endif
