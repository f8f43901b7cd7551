// The module's own debug-information format: header, cipher, compressed block and the
// delta-packed stream of segments, publics and lines.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "map_sources.h"
#include "map_stream.h"

namespace qx {

namespace {

voidpf ZlibAllocate(voidpf, uInt items, uInt size) {
  if (size != 0 && items > 0xFFFFFFFFu / size) return Z_NULL;
  return ::operator new(static_cast<size_t>(items) * size, std::nothrow);
}
void ZlibFree(voidpf, voidpf block) { ::operator delete(block); }

}  // namespace


namespace {

constexpr uint32_t kFlagMinimal = 1;
// Refuse blocks that claim more than this: a corrupted length must not exhaust memory.
constexpr uint32_t kMaxUnpackedSize = 256u << 20;

std::string HexId(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "$%08x", value);
  return text;
}

}  // namespace

std::string MinDebugInfoIdentification(uint32_t totalLength, uint32_t id1, uint32_t id2) {
  return HexId(totalLength) + ", " + HexId(id1) + ", " + HexId(id2);
}

void CipherPayload(std::string& payload) {
  uint32_t key = static_cast<uint32_t>(payload.size()) * 2654435761u + 0x51454cu;
  for (char& c : payload) {
    key = key * 1664525u + 1013904223u;
    c = static_cast<char>(static_cast<uint8_t>(c) ^ (key >> 24));
  }
}

std::string UnpackBlock(std::string_view block) {
  if (block.size() < 13) return {};
  uint32_t length = 0, crc = 0;
  GetU32(block, 0, length);
  GetU32(block, 8, crc);
  // Deflate expands at most 1032-fold; a larger stored length is corrupted, and must not
  // make us allocate for it.
  if (length == 0 || length > kMaxUnpackedSize || length / 1032 > block.size()) return {};
  std::string out(length, '\0');
  z_stream z{};
  // The module's allocation functions, not the C runtime's heap, which a fault may have
  // wrecked by the time a report needs this map.
  z.zalloc = ZlibAllocate;
  z.zfree = ZlibFree;
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return {};
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data() + 12));
  z.avail_in = static_cast<uInt>(block.size() - 12);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = length;
  int rc = inflate(&z, Z_FINISH);
  size_t produced = z.total_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR) return {};
  out.resize(produced);
  if (crc32(0L, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size())) != crc)
    return {};
  return out;
}

std::string PackBlock(std::string_view data) {
  std::string out;
  PutU32(out, static_cast<uint32_t>(data.size()));
  PutU32(out, 0);
  PutU32(out, static_cast<uint32_t>(
                  crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()))));
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string packed(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(packed.data());
  z.avail_out = static_cast<uInt>(packed.size());
  deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);
  return out + packed;
}

bool ParseDecodedStream(TMapFile& map, std::string_view data, bool minimal) {
  TMiniStream stream(data);
  const uint32_t base = map.baseOfCode;
  uint32_t count = 0;
  if (!stream.ReadU32(count) || count > stream.Remaining()) return false;
  std::string name;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t begin = 0, length = 0;
    if (!stream.ReadU32(begin) || !stream.ReadU32(length)) return false;
    uint8_t hasLines = 0;
    if (minimal) {
      if (!stream.ReadU8(hasLines)) return false;
      name = "segment%" + std::to_string(i);
    } else if (!ReadPackedText(stream, name)) {
      return false;
    }
    AddSegment(map, true, base + begin, length, name, hasLines != 0);
  }
  MergeSegments(map);

  if (!stream.ReadU32(count) || count > stream.Remaining()) return false;
  uint32_t address = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (minimal) {
      name = "public%" + std::to_string(i);
    } else if (!ReadPackedText(stream, name)) {
      return false;
    }
    if (i == 0) {
      if (!stream.ReadU32(address)) return false;
    } else {
      int32_t delta = 0;
      if (!ReadPackedInt(stream, delta)) return false;
      address += static_cast<uint32_t>(delta);
    }
    const TMfSegment* seg = SegmentAt(map, true, base + address);
    AddPublic(map, true, name, base + address, seg ? std::string_view(seg->name) : "");
  }
  SortPublics(map);

  if (!stream.ReadU32(count) || count > stream.Remaining()) return false;
  if (count > 0) {
    uint32_t line = 0;
    if (!stream.ReadU32(line) || !stream.ReadU32(address)) return false;
    AddLine(map, line, base + address);
    for (uint32_t i = 1; i < count; ++i) {
      int32_t lineDelta = 0, addressDelta = 0;
      if (!ReadPackedInt(stream, lineDelta) || !ReadPackedInt(stream, addressDelta)) return false;
      line += static_cast<uint32_t>(lineDelta);
      address += static_cast<uint32_t>(addressDelta);
      AddLine(map, line, base + address);
    }
  }
  uint32_t entry = 0;
  if (stream.Remaining() == 4 && stream.ReadU32(entry)) map.entryPoint = base + entry;
  return true;
}

std::string FindMinDebugInfo(std::string_view settings) {
  static constexpr std::string_view kHeader = "TPF0\x0aTQelExcept\x09qelExcept";
  if (settings.substr(0, kHeader.size()) != kHeader) return {};
  size_t pos = kHeader.size();
  auto have = [&](size_t n) { return pos <= settings.size() && settings.size() - pos >= n; };
  while (have(1)) {
    uint8_t nameLength = static_cast<uint8_t>(settings[pos++]);
    if (nameLength == 0 || !have(nameLength + 1u)) return {};
    std::string_view name = settings.substr(pos, nameLength);
    pos += nameLength;
    uint8_t type = static_cast<uint8_t>(settings[pos++]);
    uint32_t length = 0;
    size_t textAt = 0;
    switch (type) {
      case 2: length = 1; break;
      case 3: length = 2; break;
      case 4: length = 4; break;
      case 8: case 9: length = 0; break;
      case 6:
        if (!have(1)) return {};
        length = static_cast<uint8_t>(settings[pos++]);
        textAt = pos;
        break;
      case 12: case 20: case 18:
        if (!GetU32(settings, pos, length)) return {};
        pos += 4;
        if (type == 18) length = length > UINT32_MAX / 2 ? UINT32_MAX : length * 2;
        textAt = pos;
        break;
      default:
        return {};
    }
    if (!have(length)) return {};
    if (name == "MinDebugInfo" && textAt != 0 && type != 18)
      return std::string(settings.substr(textAt, length < 31 ? length : 31));
    pos += length;
  }
  return {};
}

bool ImportQel(TMapFile& map, std::string_view data, IMapEnvironment& env, bool allowSideFile) {
  uint32_t payloadSize = 0, version = 0;
  if (data.size() <= 22 || data.substr(0, kQelSignature.size()) != kQelSignature) return false;
  GetU32(data, 14, payloadSize);
  GetU32(data, 18, version);
  if (version != 2 && version != 3) return false;
  uint32_t id1 = 0, id2 = 0, flags = 0;
  size_t payloadAt = kQelV2PayloadOffset;
  if (version == 3) {
    if (!GetU32(data, 22, id1) || !GetU32(data, 26, id2)) return false;
    payloadAt = kQelHeaderSize;
  }
  GetU32(data, 30, flags);

  if (!map.minDebugInfo.empty() &&
      MinDebugInfoIdentification(static_cast<uint32_t>(data.size()), id1, id2) != map.minDebugInfo)
    return false;

  const bool minimal = (flags & kFlagMinimal) != 0;
  if (minimal) {
    std::string settings;
    if (env.ReadResource(true, nullptr, "TQELEXCEPT", settings))
      map.minDebugInfo = FindMinDebugInfo(settings);
    std::string sideFile;
    if (allowSideFile && env.ReadWholeFile(StripExtension(map.moduleFileName) + ".qel", sideFile)) {
      TMapFile full = map;
      if (ImportQel(full, sideFile, env, false)) {
        map = std::move(full);
        return true;
      }
    }
  } else {
    map.minDebugInfo.clear();
  }

  if (payloadAt > data.size() || data.size() - payloadAt < payloadSize) return false;
  std::string payload(data.substr(payloadAt, payloadSize));
  CipherPayload(payload);
  std::string stream = UnpackBlock(payload);
  if (stream.empty()) return false;
  return ParseDecodedStream(map, stream, minimal);
}

std::string EncodeDecodedStream(const TQelContent& content, bool minimal) {
  std::string out;
  PutU32(out, static_cast<uint32_t>(content.segments.size()));
  for (const auto& seg : content.segments) {
    PutU32(out, seg.begin);
    PutU32(out, seg.length);
    if (minimal)
      out += static_cast<char>(seg.hasLines ? 1 : 0);
    else
      WritePackedText(out, seg.name);
  }
  PutU32(out, static_cast<uint32_t>(content.publics.size()));
  uint32_t previous = 0;
  for (size_t i = 0; i < content.publics.size(); ++i) {
    const auto& pub = content.publics[i];
    if (!minimal) WritePackedText(out, pub.name);
    if (i == 0)
      PutU32(out, pub.address);
    else
      WritePackedInt(out, static_cast<int32_t>(pub.address - previous));
    previous = pub.address;
  }
  PutU32(out, static_cast<uint32_t>(content.lines.size()));
  for (size_t i = 0; i < content.lines.size(); ++i) {
    const auto& line = content.lines[i];
    if (i == 0) {
      PutU32(out, line.line);
      PutU32(out, line.address);
    } else {
      WritePackedInt(out, static_cast<int32_t>(line.line - content.lines[i - 1].line));
      WritePackedInt(out, static_cast<int32_t>(line.address - content.lines[i - 1].address));
    }
  }
  if (content.hasEntryPoint) PutU32(out, content.entryPoint);
  return out;
}

std::string BuildQelResource(const TQelContent& content, uint32_t version, bool minimal,
                             uint32_t id1, uint32_t id2) {
  const std::string block = PackBlock(EncodeDecodedStream(content, minimal));
  const uint32_t flags = minimal ? kFlagMinimal : 0;
  // Version 2 keeps its flags inside the payload (offset 30 = payload byte 8). Trailing
  // bytes after the deflate data are never read, so padding varies the cipher key until the
  // enciphered byte there carries the wanted flag.
  for (int pad = 0; pad < 64; ++pad) {
    std::string payload = block + std::string(static_cast<size_t>(pad), '\0');
    CipherPayload(payload);
    std::string out(kQelSignature);
    PutU32(out, static_cast<uint32_t>(payload.size()));
    PutU32(out, version);
    if (version == 2) {
      uint32_t inPayload = 0;
      GetU32(payload, 8, inPayload);
      if ((inPayload & kFlagMinimal) != flags) continue;
    } else {
      PutU32(out, id1);
      PutU32(out, id2);
      PutU32(out, flags);
    }
    return out + payload;
  }
  return {};
}

}  // namespace qx
