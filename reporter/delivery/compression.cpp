#include "compression.h"

#include <zlib.h>

#include <limits>

namespace qx {

// zlib counts in uInt; larger blocks go in pieces.
static constexpr size_t kZlibPiece = 1u << 30;

namespace {

// zlib's checksum routines continued over a block of any length.
template <class Routine>
uint32_t Checksum(Routine routine, const void* data, size_t size) {
  uLong sum = routine(0L, Z_NULL, 0);
  const Bytef* p = static_cast<const Bytef*>(data);
  while (size > 0) {
    uInt piece = static_cast<uInt>(size < kZlibPiece ? size : kZlibPiece);
    sum = routine(sum, p, piece);
    p += piece;
    size -= piece;
  }
  return static_cast<uint32_t>(sum);
}

}  // namespace

uint32_t Crc32(const void* data, size_t size) { return Checksum(crc32, data, size); }

uint32_t Adler32(const void* data, size_t size) { return Checksum(adler32, data, size); }

size_t DeflateBound(size_t size) {
  if (size > (std::numeric_limits<size_t>::max() - 12) / 11) return 0;
  return size * 11 / 10 + 12;
}

bool RawDeflate(const void* data, size_t size, int level, std::string& out) {
  out.clear();
  size_t bound = DeflateBound(size);
  if (bound == 0) return false;
  try {
    out.resize(bound);
  } catch (...) {
    out.clear();
    return false;
  }
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    out.clear();
    return false;
  }
  const Bytef* in = static_cast<const Bytef*>(data);
  size_t inLeft = size;
  Bytef* dst = reinterpret_cast<Bytef*>(out.data());
  size_t outLeft = bound;
  int status = Z_OK;
  for (;;) {
    uInt inPiece = static_cast<uInt>(inLeft < kZlibPiece ? inLeft : kZlibPiece);
    uInt outPiece = static_cast<uInt>(outLeft < kZlibPiece ? outLeft : kZlibPiece);
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = inPiece;
    stream.next_out = dst;
    stream.avail_out = outPiece;
    status = deflate(&stream, inPiece == inLeft ? Z_FINISH : Z_NO_FLUSH);
    size_t usedIn = inPiece - stream.avail_in;
    size_t usedOut = outPiece - stream.avail_out;
    in += usedIn;
    inLeft -= usedIn;
    dst += usedOut;
    outLeft -= usedOut;
    // A full buffer before the end of the stream: it does not fit the bound.
    if (status != Z_OK || outLeft == 0) break;
  }
  deflateEnd(&stream);
  if (status != Z_STREAM_END) {
    out.clear();
    return false;
  }
  out.resize(bound - outLeft);
  return true;
}

}  // namespace qx
