// The debug-information sources a map is built from, in the order they are tried: the
// module's "QEL"/"EXCEPT" resource, TD32, and the side files ".map", ".qel" and ".jdbg".
// The module's surroundings (its resources and files) are reached through IMapEnvironment
// so that the whole build runs over plain buffers in tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "map_file.h"

namespace qx {

// What the map build needs from the module's surroundings.
class IMapEnvironment {
 public:
  virtual ~IMapEnvironment() = default;
  // Resource of the module: type "QEL" name "EXCEPT", or the settings stream (RCDATA,
  // "TQELEXCEPT") when rcData is set. False when the module has none.
  virtual bool ReadResource(bool rcData, const char* type, const char* name, std::string& out) = 0;
  // Whole file; false unless it exists, opens for reading and is read completely.
  virtual bool ReadWholeFile(const std::string& path, std::string& out) = 0;
  // Day of the file's last write (whole days since any fixed origin); false when missing.
  virtual bool FileLastWriteDay(const std::string& path, int64_t& day) = 0;
};

// The resource format's fixed signature (14 characters) and header layout.
inline constexpr std::string_view kQelSignature = "QXUdfLibDbgMap";
inline constexpr size_t kQelHeaderSize = 34;
inline constexpr size_t kQelV2PayloadOffset = 22;

// "$xxxxxxxx, $xxxxxxxx, $xxxxxxxx" of the data's total length and identification values.
std::string MinDebugInfoIdentification(uint32_t totalLength, uint32_t id1, uint32_t id2);

// The payload cipher: a keystream from the payload size, applied in place (its own inverse).
void CipherPayload(std::string& payload);

// Compressed block: unpacked length, unused word, CRC-32, raw deflate. Returns the data or
// an empty text when the block is short, corrupted or fails its CRC.
std::string UnpackBlock(std::string_view block);
std::string PackBlock(std::string_view data);

// Parses the decoded stream into map (addresses relative to map.baseOfCode).
bool ParseDecodedStream(TMapFile& map, std::string_view stream, bool minimal);

// Imports a resource or ".qel" file. allowSideFile: whether a minimal build may switch to
// its ".qel" file (false while importing that file itself).
bool ImportQel(TMapFile& map, std::string_view data, IMapEnvironment& env, bool allowSideFile);

// Finds the 31-character MinDebugInfo text in a settings property stream; empty when absent.
std::string FindMinDebugInfo(std::string_view settingsStream);

bool ParseTextMap(TMapFile& map, std::string_view text);
bool ParseTd32(TMapFile& map, std::string_view data);
bool ParseJdbg(TMapFile& map, std::string_view data);

// Image header facts of a module, read from its loaded image (or a file image).
struct TImageFacts {
  bool valid = false;
  uint32_t baseOfCode = 0, topOfCode = 0;  // relative to the image base
  uint32_t baseOfData = 0, topOfData = 0;
  bool codeInOneSection = false;
  std::vector<uint32_t> sectionRvas;
  std::vector<uint32_t> sectionRawOffsets;
  std::vector<uint32_t> sectionRawSizes;
  uint32_t debugDirRva = 0, debugDirSize = 0;
};
// image is the module as mapped (fileLayout false) or as a file (fileLayout true).
TImageFacts ReadImageFacts(std::string_view image);
// TD32 data of an image: through its debug directory.
std::string_view Td32InImage(std::string_view image, const TImageFacts& facts, bool fileLayout);

// Builds the map of a module. image may be empty when the headers cannot be read;
// moduleHandle 0 when the module is not loaded.
void BuildMapFile(TMapFile& map, uint32_t moduleHandle, const std::string& moduleFileName,
                  std::string_view image, IMapEnvironment& env);

// What the writer of the resource format puts in, with addresses relative to the base of
// code. Used by the tests and the developer tool; the build's own writer is in tools/.
struct TQelContent {
  struct Segment { uint32_t begin, length; std::string name; bool hasLines; };
  struct Public { std::string name; uint32_t address; };
  struct Line { uint32_t line, address; };
  std::vector<Segment> segments;
  std::vector<Public> publics;
  std::vector<Line> lines;
  bool hasEntryPoint = false;
  uint32_t entryPoint = 0;
};
std::string EncodeDecodedStream(const TQelContent& content, bool minimal);
// A whole resource/".qel" image of the given version (2 or 3) and flags.
std::string BuildQelResource(const TQelContent& content, uint32_t version, bool minimal,
                             uint32_t id1, uint32_t id2);

}  // namespace qx
