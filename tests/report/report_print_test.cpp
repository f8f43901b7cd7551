// The printed report's page layout, drawn on an enhanced metafile of A4 size and read back
// record by record: margins, the font, wrapped lines, empty lines and page breaks.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "report_print_win.h"

namespace qx {
namespace {

struct TextRecord {
  int x, y;
  std::string text;
};

struct Drawing {
  std::vector<TextRecord> texts;
  std::vector<int> fontHeights;
  std::vector<std::string> fontFaces;
};

std::string Narrow(const wchar_t* text, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += static_cast<char>(text[i]);
  return out;
}

int CALLBACK Collect(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) {
  auto& drawing = *reinterpret_cast<Drawing*>(data);
  const auto* bytes = reinterpret_cast<const BYTE*>(record);
  if (record->iType == EMR_EXTTEXTOUTW) {
    const auto* out = reinterpret_cast<const EMREXTTEXTOUTW*>(record);
    drawing.texts.push_back({out->emrtext.ptlReference.x, out->emrtext.ptlReference.y,
                             Narrow(reinterpret_cast<const wchar_t*>(bytes + out->emrtext.offString),
                                    out->emrtext.nChars)});
  } else if (record->iType == EMR_EXTTEXTOUTA) {
    const auto* out = reinterpret_cast<const EMREXTTEXTOUTA*>(record);
    drawing.texts.push_back({out->emrtext.ptlReference.x, out->emrtext.ptlReference.y,
                             std::string(reinterpret_cast<const char*>(bytes + out->emrtext.offString),
                                         out->emrtext.nChars)});
  } else if (record->iType == EMR_EXTCREATEFONTINDIRECTW) {
    const auto* font = reinterpret_cast<const EMREXTCREATEFONTINDIRECTW*>(record);
    drawing.fontHeights.push_back(font->elfw.elfLogFont.lfHeight);
    drawing.fontFaces.push_back(Narrow(font->elfw.elfLogFont.lfFaceName,
                                       wcslen(font->elfw.elfLogFont.lfFaceName)));
  }
  return 1;
}

// A4 at 96 pixels per inch, as a screen-referenced metafile measures it.
PageGeometry A4(int offsetX = 0, int offsetY = 0) {
  PageGeometry page;
  page.width = 794;
  page.height = 1123;
  page.widthMm = 210;
  page.heightMm = 297;
  page.offsetX = offsetX;
  page.offsetY = offsetY;
  page.pixelsPerInchY = 96;
  return page;
}

Drawing LayOutOnMetafile(const PageGeometry& page, const std::string& report, int& pages,
                         int& breaks) {
  RECT frame{0, 0, 21000, 29700};  // hundredths of a millimetre
  HDC dc = CreateEnhMetaFileA(nullptr, nullptr, &frame, "test\0report\0");
  breaks = 0;
  pages = LayOutReport(dc, page, report, [&] { ++breaks; });
  HENHMETAFILE file = CloseEnhMetaFile(dc);
  Drawing drawing;
  EnumEnhMetaFile(nullptr, file, Collect, &drawing, nullptr);
  DeleteEnhMetaFile(file);
  return drawing;
}

// The height DrawText gives one line of Courier New at -10 on the screen, external leading
// included.
int LineHeight() {
  HDC screen = GetDC(nullptr);
  HFONT font = CreateFontA(-10, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Courier New");
  HGDIOBJ old = SelectObject(screen, font);
  TEXTMETRICA metrics;
  GetTextMetricsA(screen, &metrics);
  SelectObject(screen, old);
  DeleteObject(font);
  ReleaseDC(nullptr, screen);
  return metrics.tmHeight + metrics.tmExternalLeading;
}

TEST(PrintLayout, MarginsComeFromTheDeviceSizesLessItsUnprintableBorder) {
  RECT plain = PrintTextRect(A4());
  EXPECT_EQ(plain.left, 76);    // 20 mm of 794 px / 210 mm = 75.6
  EXPECT_EQ(plain.top, 38);     // 10 mm of 1123 px / 297 mm = 37.8
  EXPECT_EQ(plain.right, 756);  // 794 - 38
  EXPECT_EQ(plain.bottom, 1085);
  RECT offset = PrintTextRect(A4(10, 5));
  EXPECT_EQ(offset.left, 66);
  EXPECT_EQ(offset.top, 33);
  EXPECT_EQ(offset.right, 766);
  EXPECT_EQ(offset.bottom, 1090);
  EXPECT_EQ(PrintFontHeight(A4()), -10);
  PageGeometry printer = A4();
  printer.pixelsPerInchY = 600;
  EXPECT_EQ(PrintFontHeight(printer), -66);
}

TEST(PrintLayout, LinesWrapKeepEmptyLinesAndBreakPagesAtTheBottomMargin) {
  const int h = LineHeight();
  ASSERT_GT(h, 0);
  std::string longLine;
  for (int i = 0; i < 40; ++i) longLine += "wrapping ";
  std::string report = "first line\r\n\r\nthird line\r\n" + longLine;
  const int linesPerPage = (1085 - 38) / h;
  for (int i = 0; i < linesPerPage; ++i) report += "\r\nfiller " + std::to_string(i);
  int pages = 0, breaks = 0;
  Drawing drawing = LayOutOnMetafile(A4(), report, pages, breaks);

  ASSERT_FALSE(drawing.fontHeights.empty());
  EXPECT_EQ(drawing.fontHeights[0], -10);
  EXPECT_EQ(drawing.fontFaces[0], "Courier New");

  ASSERT_GE(drawing.texts.size(), 6u);
  EXPECT_EQ(drawing.texts[0].x, 76);
  EXPECT_EQ(drawing.texts[0].y, 38);
  EXPECT_EQ(drawing.texts[0].text, "first line");
  // The empty line is a space one line further down, so the third line is two down.
  EXPECT_EQ(drawing.texts[1].text, " ");
  EXPECT_EQ(drawing.texts[1].y, 38 + h);
  EXPECT_EQ(drawing.texts[2].text, "third line");
  EXPECT_EQ(drawing.texts[2].y, 38 + 2 * h);
  // The long line wraps into several lines at the left margin.
  size_t i = 3;
  int wrapped = 0;
  for (; i < drawing.texts.size() && drawing.texts[i].text.compare(0, 6, "filler") != 0; ++i) {
    EXPECT_EQ(drawing.texts[i].x, 76);
    EXPECT_EQ(drawing.texts[i].y, 38 + (3 + wrapped) * h);
    ++wrapped;
  }
  EXPECT_GT(wrapped, 1);
  // The line that would pass the bottom margin starts a new page at the top margin.
  EXPECT_EQ(breaks, 1);
  EXPECT_EQ(pages, 2);
  bool restarted = false;
  for (; i < drawing.texts.size(); ++i) {
    EXPECT_LE(drawing.texts[i].y + h, 1085) << drawing.texts[i].text;
    if (drawing.texts[i].y == 38) {
      restarted = true;
      EXPECT_GT(drawing.texts[i - 1].y + 2 * h, 1085);
    }
  }
  EXPECT_TRUE(restarted);
  EXPECT_EQ(drawing.texts.back().text, "filler " + std::to_string(linesPerPage - 1));
}

}  // namespace
}  // namespace qx
