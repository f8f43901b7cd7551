// The PE image view over images built here byte by byte (valid and broken in the ways a
// damaged module or a hostile file can be), in both layouts.
#include "pe_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pe_image_test_support.h"

namespace {

using qx::PeExports;
using qx::PeImage;
using qx::PeLayout;
using qx::PeResource;
using qx::PeSection;
using qx::SpanReader;
using qxtest::TestImage;

constexpr uint32_t kLoadBase = 0x10000000;

// Opens the same image once as its file and once as mapped at kLoadBase, and runs check on
// both views.
template <class Check>
void InBothLayouts(const TestImage& image, Check check) {
  {
    SCOPED_TRACE("file layout");
    SpanReader reader(image.FileBytes());
    PeImage view(reader, 0, PeLayout::kFile);
    check(view);
  }
  {
    SCOPED_TRACE("loaded layout");
    SpanReader reader(image.LoadedBytes(), kLoadBase);
    PeImage view(reader, kLoadBase, PeLayout::kLoaded);
    check(view);
  }
}

TEST(PeImageHeaders, ValidMinimalImageGivesEveryField) {
  TestImage image;
  InBothLayouts(image, [](PeImage& view) {
    ASSERT_TRUE(view.Open());
    EXPECT_EQ(view.Machine(), qx::pe::kMachineI386);
    EXPECT_EQ(view.SectionCount(), 3);
    EXPECT_EQ(view.TimeDateStamp(), 0x5F000001u);
    EXPECT_EQ(view.Characteristics(), 0x2102);
    EXPECT_EQ(view.ImageBase(), 0x10000000u);
    EXPECT_EQ(view.SizeOfImage(), 0x4000u);
    EXPECT_EQ(view.SizeOfHeaders(), 0x200u);
    EXPECT_EQ(view.EntryPoint(), 0x1010u);
    EXPECT_EQ(view.Subsystem(), qx::pe::kSubsystemWindowsCui);
    EXPECT_EQ(view.Checksum(), 0x12345678u);
    EXPECT_EQ(view.ChecksumFieldOffset(), 0x80u + 24 + 64);
    EXPECT_EQ(view.Headers().majorLinkerVersion, 2);
  });
}

TEST(PeImageHeaders, SectionsAndTheirFileOffsets) {
  TestImage image;
  InBothLayouts(image, [](PeImage& view) {
    ASSERT_TRUE(view.Open());
    PeSection text, edata, rsrc, none;
    ASSERT_TRUE(view.Section(0, text));
    ASSERT_TRUE(view.Section(1, edata));
    ASSERT_TRUE(view.Section(2, rsrc));
    EXPECT_FALSE(view.Section(3, none));
    EXPECT_STREQ(text.name, ".text");
    EXPECT_EQ(text.virtualAddress, 0x1000u);
    EXPECT_EQ(text.virtualSize, 0x180u);
    EXPECT_EQ(text.rawPointer, 0x200u);
    EXPECT_EQ(text.rawSize, 0x200u);
    EXPECT_TRUE(text.IsCode());
    EXPECT_FALSE(edata.IsCode());
    EXPECT_STREQ(rsrc.name, ".rsrc");
    uint32_t offset = 0;
    ASSERT_TRUE(view.RvaToFileOffset(0x2010, offset));
    EXPECT_EQ(offset, 0x410u);
    ASSERT_TRUE(view.RvaToFileOffset(0x40, offset));
    EXPECT_EQ(offset, 0x40u);
    EXPECT_FALSE(view.RvaToFileOffset(0x1300, offset));  // past the raw data of .text
    EXPECT_FALSE(view.RvaToFileOffset(0x9000, offset));
    qx::PeDirectory directory;
    EXPECT_TRUE(view.Directory(qx::pe::kExportDirectory, directory));
    EXPECT_EQ(directory.rva, 0x2000u);
    EXPECT_FALSE(view.Directory(qx::pe::kImportDirectory, directory));
    EXPECT_FALSE(view.Directory(16, directory));
    uint8_t code[2] = {};
    ASSERT_TRUE(view.ReadRva(0x1010, code, 2));
    EXPECT_EQ(code[0], 0xC3);
    EXPECT_EQ(code[1], 0x90);
    EXPECT_FALSE(view.ReadRva(0x3FFF, code, 2));  // crosses the end of the image
  });
}

TEST(PeImageHeaders, TruncatedHeadersFailToOpen) {
  TestImage image;
  for (size_t length : {size_t(0), size_t(1), size_t(0x3E), size_t(0x84), size_t(0x80 + 24 + 95)}) {
    SCOPED_TRACE(length);
    std::string bytes = image.FileBytes().substr(0, length);
    SpanReader reader(bytes);
    PeImage view(reader, 0, PeLayout::kFile);
    EXPECT_FALSE(view.Open());
    EXPECT_FALSE(view.IsOpen());
    PeSection section;
    EXPECT_FALSE(view.Section(0, section));
    uint8_t byte;
    EXPECT_FALSE(view.ReadRva(0, &byte, 1));
    EXPECT_EQ(view.ChecksumFieldOffset(), 0u);
  }
}

TEST(PeImageHeaders, WrongSignaturesAndHeaderOffsetsFailToOpen) {
  const TestImage::Damage cases[] = {
      {"no MZ", true, 0, 0x4D5A, 2},
      {"e_lfanew zero", true, 0x3C, 0, 4},
      {"e_lfanew past the end", true, 0x3C, 0x7FFF0, 4},
      {"e_lfanew near 4 GB", true, 0x3C, 0xFFFFFFF0u, 4},
      {"no PE signature", true, 0x80, 0x4550 + 1, 4},
      {"PE32+ magic", true, 0x80 + 24, 0x20B, 2},
  };
  for (const TestImage::Damage& c : cases) {
    SCOPED_TRACE(c.what);
    TestImage image;
    image.Apply(c);
    InBothLayouts(image, [](PeImage& view) { EXPECT_FALSE(view.Open()); });
  }
}

TEST(PeImageHeaders, SectionTablePastTheEndStopsAtTheEnd) {
  TestImage image;
  image.PatchHeader(0x80 + 6, 60, 2);  // 60 sections, the table runs out of the file
  std::string bytes = image.FileBytes().substr(0, 0x600);
  SpanReader reader(bytes);
  PeImage view(reader, 0, PeLayout::kFile);
  ASSERT_TRUE(view.Open());
  EXPECT_EQ(view.SectionCount(), 60);
  PeSection section;
  uint32_t readable = 0;
  while (view.Section(readable, section)) ++readable;
  EXPECT_EQ(readable, (0x600u - 0x178u) / 40);  // the entries that end inside the file
  EXPECT_FALSE(view.Section(59, section));
  uint32_t offset = 0;
  EXPECT_FALSE(view.RvaToFileOffset(0x7FFFFFF0, offset));
  uint32_t rva = 0;
  EXPECT_FALSE(view.FindExport("Missing", rva));
}

TEST(PeImageExports, NamesOrdinalsAndForwarders) {
  TestImage image;
  InBothLayouts(image, [](PeImage& view) {
    ASSERT_TRUE(view.Open());
    PeExports exports;
    ASSERT_TRUE(view.Exports(exports));
    EXPECT_EQ(exports.ordinalBase, 5u);
    EXPECT_EQ(exports.functionCount, 3u);
    EXPECT_EQ(exports.nameCount, 2u);
    std::string text;
    ASSERT_TRUE(view.ReadString(exports.moduleNameRva, text));
    EXPECT_EQ(text, "test.dll");
    uint32_t index = 99;
    ASSERT_TRUE(view.ExportName(exports, 0, text, index));
    EXPECT_EQ(text, "Alpha");
    EXPECT_EQ(index, 0u);
    ASSERT_TRUE(view.ExportName(exports, 1, text, index));
    EXPECT_EQ(text, "Forwarded");
    EXPECT_EQ(index, 2u);
    EXPECT_FALSE(view.ExportName(exports, 2, text, index));

    uint32_t rva = 0;
    ASSERT_TRUE(view.FindExport("Alpha", rva));
    EXPECT_EQ(rva, 0x1010u);
    EXPECT_FALSE(view.FindExport("alpha", rva));
    EXPECT_FALSE(view.FindExport("Beta", rva));
    ASSERT_TRUE(view.ExportNameOf(0x1010, text));
    EXPECT_EQ(text, "Alpha");
    ASSERT_TRUE(view.ExportNameOf(0x1020, text));
    EXPECT_EQ(text, "#6");
    EXPECT_FALSE(view.ExportNameOf(0x1030, text));

    ASSERT_TRUE(view.ExportFunction(exports, 2, rva));
    EXPECT_TRUE(view.IsForwarder(exports, rva));
    ASSERT_TRUE(view.ExportForwarder(exports, 2, text));
    EXPECT_EQ(text, "OTHER.Func");
    EXPECT_FALSE(view.ExportForwarder(exports, 0, text));
    EXPECT_FALSE(view.ExportFunction(exports, 3, rva));
  });
}

TEST(PeImageExports, DirectoryOrTablesOutsideTheImageGiveNoExports) {
  constexpr uint32_t kExportSlot = 0x80 + 24 + 96;
  const TestImage::Damage cases[] = {
      {"directory past the image", true, kExportSlot, 0x3FF0, 4},
      {"directory far outside", true, kExportSlot, 0xFFFFFFF0u, 4},
      {"function table outside", false, 0x2000 + 28, 0x3FFC, 4},
      {"name table outside", false, 0x2000 + 32, 0xFFFFFFFCu, 4},
      {"ordinal table outside", false, 0x2000 + 36, 0x4000, 4},
      {"function count huge", false, 0x2000 + 20, 0x40000000, 4},
      {"name count huge", false, 0x2000 + 24, 0x00100000, 4},
  };
  for (const TestImage::Damage& c : cases) {
    SCOPED_TRACE(c.what);
    TestImage image;
    image.Apply(c);
    InBothLayouts(image, [](PeImage& view) {
      ASSERT_TRUE(view.Open());
      PeExports exports;
      EXPECT_FALSE(view.Exports(exports));
      uint32_t rva = 0;
      EXPECT_FALSE(view.FindExport("Alpha", rva));
      std::string name;
      EXPECT_FALSE(view.ExportNameOf(0x1010, name));
    });
  }
}

TEST(PeImageExports, NamePointersOutOfRangeFallBackToOrdinals) {
  TestImage image;
  image.Patch(TestImage::kNamePointers, 0xFFFFFFF0u, 4);  // "Alpha"
  image.Patch(TestImage::kNamePointers + 4, 0x3FFE, 4);   // runs off the image unterminated
  InBothLayouts(image, [](PeImage& view) {
    ASSERT_TRUE(view.Open());
    PeExports exports;
    ASSERT_TRUE(view.Exports(exports));
    std::string name;
    uint32_t index = 0;
    EXPECT_FALSE(view.ExportName(exports, 0, name, index));
    EXPECT_FALSE(view.ExportName(exports, 1, name, index));
    uint32_t rva = 0;
    EXPECT_FALSE(view.FindExport("Alpha", rva));
    ASSERT_TRUE(view.ExportNameOf(0x1010, name));
    EXPECT_EQ(name, "#5");
  });
}

TEST(PeImageExports, UnterminatedNameStopsAtTheLimit) {
  TestImage image;
  InBothLayouts(image, [](PeImage& view) {
    ASSERT_TRUE(view.Open());
    std::string text;
    EXPECT_FALSE(view.ReadString(0x2040, text, 3));  // "test.dll" is longer
    EXPECT_TRUE(view.ReadString(0x2040, text, 8));
    EXPECT_EQ(text, "test.dll");
  });
}

TEST(PeImageResources, LookupByNameIdAndLanguage) {
  TestImage image;
  InBothLayouts(image, [](PeImage& view) {
    ASSERT_TRUE(view.Open());
    PeResource resource;
    ASSERT_TRUE(view.FindResource("QEL", "EXCEPT", resource));
    EXPECT_EQ(resource.dataRva, 0x3180u);
    EXPECT_EQ(resource.size, 5u);
    EXPECT_EQ(resource.codePage, 1252u);
    char data[5];
    ASSERT_TRUE(view.ReadRva(resource.dataRva, data, 5));
    EXPECT_EQ(std::string(data, 5), "hello");
    ASSERT_TRUE(view.FindResource("qel", "except", resource, 0x409));
    EXPECT_EQ(resource.dataRva, 0x3180u);
    ASSERT_TRUE(view.FindResource("#10", "#7", resource));
    EXPECT_EQ(resource.dataRva, 0x3190u);
    EXPECT_EQ(resource.size, 3u);
    EXPECT_FALSE(view.FindResource("QEL", "EXCEPT", resource, 0x407));
    EXPECT_FALSE(view.FindResource("QEL", "OTHER", resource));
    EXPECT_FALSE(view.FindResource("#10", "EXCEPT", resource));
    EXPECT_FALSE(view.FindResource("#11", "#7", resource));
    EXPECT_FALSE(view.FindResource("", "#7", resource));
  });
}

TEST(PeImageResources, LoopsAndOutOfRangeOffsetsFail) {
  constexpr uint32_t kResourceSizeSlot = 0x80 + 24 + 96 + 8 * 2 + 4;
  const TestImage::Damage cases[] = {
      {"type entry back to the root", false, TestImage::kTypeEntryQel + 4, 0x80000000u, 4},
      {"name entry back to the name table", false, TestImage::kNameEntryExcept + 4,
       0x80000000u | TestImage::kNameTableQel, 4},
      {"language entry back to itself as a table", false, TestImage::kLanguageEntry + 4,
       0x80000000u | TestImage::kLanguageTable, 4},
      {"subdirectory past the directory", false, TestImage::kTypeEntryQel + 4, 0x80000F00u, 4},
      {"subdirectory near 2 GB", false, TestImage::kTypeEntryQel + 4, 0xFFFFFFF0u, 4},
      {"name string past the directory", false, TestImage::kTypeEntryQel, 0x80000FFEu, 4},
      {"data entry past the directory", false, TestImage::kLanguageEntry + 4, 0x7FFFFFF0u, 4},
      {"entry counts past the directory", false, 0x3000 + 12, 0xFFFF, 2},
      {"directory size past the image", true, kResourceSizeSlot, 0x2000, 4},
  };
  for (const TestImage::Damage& c : cases) {
    SCOPED_TRACE(c.what);
    TestImage image;
    image.Apply(c);
    InBothLayouts(image, [](PeImage& view) {
      ASSERT_TRUE(view.Open());
      PeResource resource;
      EXPECT_FALSE(view.FindResource("QEL", "EXCEPT", resource));
      EXPECT_FALSE(view.FindResource("QEL", "EXCEPT", resource, 0x409));
    });
  }
}

}  // namespace
