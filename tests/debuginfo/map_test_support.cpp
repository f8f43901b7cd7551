#include "map_test_support.h"

namespace qx::test {

std::string MakeImage(std::vector<SectionSpec> sections, uint32_t debugDirRva,
                      uint32_t debugDirSize) {
  if (sections.empty())
    sections = {{".text", 0x1000, 0x2000, 0x60000020}, {".data", 0x3000, 0x1000, 0xC0000040}};
  uint32_t sizeOfImage = 0x1000;
  for (const auto& s : sections) sizeOfImage = std::max(sizeOfImage, s.rva + s.size);
  std::string img(sizeOfImage, '\0');
  img[0] = 'M';
  img[1] = 'Z';
  Set32(img, 0x3C, 0x40);
  std::string pe = "PE";
  pe += '\0';
  pe += '\0';
  Put16(pe, 0x14c);
  Put16(pe, static_cast<uint16_t>(sections.size()));
  Put32(pe, 0);
  Put32(pe, 0);
  Put32(pe, 0);
  Put16(pe, 224);
  Put16(pe, 0x2102);
  std::string opt;
  Put16(opt, 0x10b);
  Put16(opt, 0);
  Put32(opt, sections[0].size);  // size of code
  Put32(opt, sections.size() > 1 ? sections[1].size : 0);
  Put32(opt, 0);
  Put32(opt, sections[0].rva);  // entry point
  Put32(opt, sections[0].rva);  // base of code
  Put32(opt, sections.size() > 1 ? sections[1].rva : 0);
  Put32(opt, 0x10000000);  // image base
  Put32(opt, 0x1000);
  Put32(opt, 0x200);
  while (opt.size() < 56) Put32(opt, 0);
  Put32(opt, sizeOfImage);
  Put32(opt, 0x400);
  while (opt.size() < 92) Put32(opt, 0);
  Put32(opt, 16);
  for (uint32_t i = 0; i < 16; ++i) {
    Put32(opt, i == 6 ? debugDirRva : 0);
    Put32(opt, i == 6 ? debugDirSize : 0);
  }
  pe += opt;
  for (const auto& s : sections) {
    std::string name = s.name;
    name.resize(8, '\0');
    pe += name;
    Put32(pe, s.size);
    Put32(pe, s.rva);
    Put32(pe, s.size);
    Put32(pe, s.rva);  // raw offset equals the RVA: file and loaded layout coincide
    Put32(pe, 0);
    Put32(pe, 0);
    Put32(pe, 0);
    Put32(pe, s.flags);
  }
  img.replace(0x40, pe.size(), pe);
  return img;
}

std::string SettingsWithMinDebugInfo(const std::string& id) {
  std::string s = "TPF0\x0aTQelExcept\x09qelExcept";
  s += '\x07';
  s += "Enabled";
  s += '\x09';
  s += '\x0c';
  s += "MinDebugInfo";
  s += '\x06';
  s += static_cast<char>(id.size());
  s += id;
  s += '\0';
  return s;
}

std::string MakeTd32(const Td32Input& input) {
  // Names first, so that every name index is known.
  std::vector<std::string> names;
  auto nameIndex = [&](const std::string& n) {
    names.push_back(n);
    return static_cast<uint32_t>(names.size());
  };
  struct Sub { uint16_t type; std::string data; };
  std::vector<Sub> subs;
  for (const auto& m : input.modules) {
    std::string d;
    Put16(d, 0);
    Put16(d, 0);
    Put16(d, static_cast<uint16_t>(m.segs.size()));
    Put16(d, 0x5643);
    Put32(d, nameIndex(m.name));
    while (d.size() < 0x1C) Put32(d, 0);
    for (const auto& s : m.segs) {
      Put16(d, static_cast<uint16_t>(s[0]));
      Put16(d, 0);
      Put32(d, s[1]);
      Put32(d, s[2]);
    }
    subs.push_back({0x120, d});
  }
  for (const auto& src : input.sources) {
    // One file with one segment per source module.
    std::string d;
    Put16(d, 1);
    Put16(d, 1);
    Put32(d, 20);  // file offset
    Put32(d, src.start);
    Put32(d, src.end);
    Put16(d, src.seg);
    Put16(d, 0);
    // file at 20: seg count, pad, table offset, start/end, name
    Put16(d, 1);
    Put16(d, 0);
    Put32(d, 20 + 4 + 4 + 8 + 4);
    Put32(d, src.start);
    Put32(d, src.end);
    Put32(d, nameIndex(src.file));
    Put16(d, src.seg);
    Put16(d, static_cast<uint16_t>(src.lines.size()));
    for (const auto& l : src.lines) Put32(d, l.first);
    for (const auto& l : src.lines) Put16(d, l.second);
    subs.push_back({0x127, d});
  }
  std::string records;
  for (const auto& sym : input.symbols) {
    std::string r;
    Put16(r, 0);
    Put16(r, sym.kind);
    if (sym.kind == 0x204 || sym.kind == 0x205) {
      while (r.size() < 28) Put32(r, 0);
      Put32(r, sym.offset);
      Put16(r, sym.seg);
      Put16(r, 0);
      Put32(r, 0);
      Put32(r, nameIndex(sym.name));
      Put32(r, 0);
    } else {
      Put32(r, sym.offset);
      Put16(r, sym.seg);
      Put16(r, 0);
      Put32(r, 0);
      Put32(r, nameIndex(sym.name));
      Put32(r, 0);
    }
    r[0] = static_cast<char>((r.size() - 2) & 0xff);
    r[1] = static_cast<char>((r.size() - 2) >> 8);
    records += r;
  }
  if (!input.symbols.empty()) {
    std::string d;
    if (input.alignSym) {
      Put32(d, 1);
    } else {
      Put16(d, 0);
      Put16(d, 0);
      Put32(d, static_cast<uint32_t>(records.size()));
      Put32(d, 0);
      Put32(d, 0);
    }
    subs.push_back({static_cast<uint16_t>(input.alignSym ? 0x125 : 0x129), d + records});
  }
  std::string nameSub;
  Put32(nameSub, static_cast<uint32_t>(names.size()));
  for (const auto& n : names) {
    nameSub += static_cast<char>(n.size());
    nameSub += n;
    nameSub += '\0';
  }
  subs.push_back({0x130, nameSub});

  std::string out = "FB09";
  Put32(out, 0);
  std::vector<uint32_t> offsets;
  for (const auto& s : subs) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    out += s.data;
    while (out.size() % 4) out += '\0';
  }
  Set32(out, 4, static_cast<uint32_t>(out.size()));
  Put16(out, 16);
  Put16(out, 12);
  Put32(out, static_cast<uint32_t>(subs.size()));
  Put32(out, 0);
  Put32(out, 0);
  for (size_t i = 0; i < subs.size(); ++i) {
    Put16(out, subs[i].type);
    Put16(out, 1);
    Put32(out, offsets[i]);
    Put32(out, static_cast<uint32_t>(subs[i].data.size()));
  }
  return out;
}

namespace {

void PutValue(std::string& out, uint32_t value) {
  do {
    uint8_t b = value & 0x7f;
    value >>= 7;
    out += static_cast<char>(value ? b | 0x80 : b);
  } while (value);
}

std::string EncodeWord(const std::string& name) {
  std::string out;
  std::vector<uint8_t> codes;
  for (char c : name) {
    if (c >= '0' && c <= '9') codes.push_back(static_cast<uint8_t>(c - '0' + 1));
    else if (c >= 'A' && c <= 'Z') codes.push_back(static_cast<uint8_t>(c - 'A' + 0x0B));
    else if (c >= 'a' && c <= 'z') codes.push_back(static_cast<uint8_t>(c - 'a' + 0x25));
    else if (c == '_') codes.push_back(0x3F);
    else {
      out = "\x01";
      for (char p : name) out += static_cast<char>(static_cast<uint8_t>(p) == 0xAA ? p : p ^ 0xAA);
      return out + '\0';
    }
  }
  codes.push_back(0);
  while (codes.size() % 4) codes.push_back(0);
  for (size_t i = 0; i < codes.size(); i += 4) {
    out += static_cast<char>(codes[i] | codes[i + 1] << 6);
    out += static_cast<char>(codes[i + 1] >> 2 | codes[i + 2] << 4);
    out += static_cast<char>(codes[i + 2] >> 4 | codes[i + 3] << 2);
  }
  return out;
}

}  // namespace

std::string MakeJdbg(const JdbgInput& input) {
  std::string words;
  std::map<std::string, uint32_t> wordAt;
  auto word = [&](const std::string& name) -> uint32_t {
    if (name.empty()) return 0;
    auto it = wordAt.find(name);
    if (it != wordAt.end()) return it->second;
    uint32_t at = static_cast<uint32_t>(words.size()) + 1;
    words += EncodeWord(name);
    wordAt[name] = at;
    return at;
  };
  std::string units, lines, symbols;
  uint32_t previous = 0, previousName = 0;
  for (const auto& u : input.units) {
    PutValue(units, u.first - previous);
    uint32_t w = word(u.second);
    PutValue(units, w - previousName);
    previous = u.first;
    previousName = w;
  }
  PutValue(units, 0x7FFFFFFF);
  previous = 0;
  uint32_t previousLine = 0;
  for (const auto& l : input.lines) {
    PutValue(lines, l.first - previous);
    PutValue(lines, l.second - previousLine);
    previous = l.first;
    previousLine = l.second;
  }
  PutValue(lines, 0x7FFFFFFF);
  previous = 0;
  uint32_t previousFirst = 0, previousSecond = 0;
  for (const auto& sym : input.symbols) {
    PutValue(symbols, sym.offset - previous);
    uint32_t f = word(sym.first), s = word(sym.second);
    PutValue(symbols, f - previousFirst);
    PutValue(symbols, s - previousSecond);
    previous = sym.offset;
    previousFirst = f;
    previousSecond = s;
  }
  PutValue(symbols, 0x7FFFFFFF);

  std::string out = "JDBG";
  out += '\1';
  out.resize(34, '\0');
  uint32_t at = 34;
  Set32(out, 5, at);  // units
  out += units;
  Set32(out, 9, 0);  // source names: not read
  Set32(out, 13, at + static_cast<uint32_t>(units.size()));
  out += symbols;
  Set32(out, 17, static_cast<uint32_t>(out.size()));
  out += lines;
  Set32(out, 21, static_cast<uint32_t>(out.size()));
  out += words;
  while (out.size() % 4) out += '\0';
  if (input.checksum) {
    uint32_t sum = 0;
    for (size_t i = 34; i + 4 <= out.size(); i += 4)
      sum += uint32_t(uint8_t(out[i])) | uint32_t(uint8_t(out[i + 1])) << 8 |
             uint32_t(uint8_t(out[i + 2])) << 16 | uint32_t(uint8_t(out[i + 3])) << 24;
    Set32(out, 29, sum);
    out[33] = 1;
  }
  return out;
}

}  // namespace qx::test
