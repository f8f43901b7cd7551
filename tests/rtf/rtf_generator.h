// Random rich texts for comparing two converters: groups nested at random, destinations,
// \* groups, hidden text, fields, pictures, \bin, \uN with \ucN fallbacks, code pages,
// control symbols, plain texts with and without visible characters, texts with a zero
// byte. The same seed gives the same texts on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace qx::test {

class RtfGenerator {
 public:
  explicit RtfGenerator(uint32_t seed) : state_(seed != 0 ? seed : 1) {}

  // The next text. Groups nest at most eight deep, counting the document's own group,
  // because Wine's rich-edit control crashes on deeper nesting.
  std::string Next();

 private:
  uint32_t Below(uint32_t n);  // 0 .. n-1
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  std::string PlainText();
  std::string Header();
  void Body(std::string& out, int depth, int budget);
  void Element(std::string& out, int depth, int& budget);
  void TameElement(std::string& out, int depth, int& budget);
  std::string Words();
  std::string HexByte();
  std::string Unicode();
  std::string Symbol();

  uint32_t state_;
  bool blankish_ = false;  // this text's literal runs are mostly whitespace
  bool tame_ = false;      // this text's body holds only what the reader judges alone
};

}  // namespace qx::test
