// Printing a bug report: the print dialog, and the page layout, which draws on any device
// context (a printer's, or a metafile's in a test).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "settings_interfaces_win.h"

namespace qx {

// What the layout needs to know of a page, in device pixels.
struct PageGeometry {
  int width = 0, height = 0;          // printable area (HORZRES, VERTRES)
  int widthMm = 0, heightMm = 0;      // the same in millimetres (HORZSIZE, VERTSIZE)
  int offsetX = 0, offsetY = 0;       // unprintable border (PHYSICALOFFSETX/Y)
  int pixelsPerInchY = 0;             // LOGPIXELSY
};
PageGeometry PageGeometryOf(HDC dc);

// Top and bottom 1 cm, left 2 cm, right 1 cm, rounded to pixels, less the unprintable
// border; the text's rectangle on the printable area.
RECT PrintTextRect(const PageGeometry& page);
// Courier New at 8 points: -(pixels per inch x 8 / 72).
int PrintFontHeight(const PageGeometry& page);

// Draws the report line by line (lines end at CR LF; an empty one is printed as a space so
// that it keeps its height), word-wrapped in the text rectangle; `newPage` is called where a
// line would pass the bottom margin, and the line then starts at the top margin again.
// Returns the number of pages used.
int LayOutReport(HDC dc, const PageGeometry& page, const std::string& report,
                 const std::function<void()>& newPage);

// The whole print action after the handlers: beeps and stops when the process is blocked,
// asks for the printer, then prints the report as document `PrintBtnTxt`. `settings`
// null: the settings of the calling module. False when nothing was printed.
bool PrintReport(const std::string& report, HWND parent, IKVSettings* settings);

}  // namespace qx
