// Where an assistant form puts its items, from sizes the caller measured with the form's
// fonts (the heading in Arial 15 bold, the items in Tahoma 11). All figures are pixels of
// the window's client area.
#pragma once

#include <cstdint>
#include <vector>

#include "form_model.h"

namespace qx {

inline constexpr int32_t kFormMinWidth = 315;
inline constexpr int32_t kItemLeft = 21;
inline constexpr int32_t kItemTop = 40;
inline constexpr int32_t kHeadingTop = 12;
inline constexpr int32_t kFormCountStep = 19;  // one numbered box per form beside the heading
inline constexpr int32_t kEditMargin = 46;     // edits span the width less this
inline constexpr int32_t kButtonMargin = 8;
inline constexpr int32_t kBottomExtra = 33;    // below the items: buttons and their margins
// A caption wider than the form less this (the window's icon and close box) widens it.
inline constexpr int32_t kTitleExtra = 64;

struct FormWidthInput {
  int32_t buttonWidths[kPageButtonCount] = {};
  int32_t minWidth = 0;
  int32_t headingWidth = 0;  // the message in the heading font
  int32_t formCount = 1;
  int32_t titleWidth = 0;  // the assistant's title in the caption font
};

// The sum of the button widths plus 32, at least 315, at least the form's minimum width,
// at least the heading plus 19 per form plus 36, and wide enough for the title.
int32_t FormWidth(const FormWidthInput& input);

// The width a label, check box or image may take in a form of the width.
int32_t ItemSpan(int32_t formWidth);

// Width of an edit in a form of the width.
int32_t EditWidth(int32_t formWidth);

// Height of an edit: the text height of "Gg" times its lines (one line below 2), plus 2.
int32_t EditHeight(int32_t textHeight, int32_t lines);

// A label that heads what follows: its caption ends in ":" or "?" and fits one line.
bool IsHeadingLabel(const FormItemModel& item, bool fitsOneLine);

struct LaidOutItem {
  FormItemKind kind = FormItemKind::Label;
  bool heading = false;
  int32_t spacing = 0;
  int32_t width = 0;
  int32_t height = 0;
};

struct ItemBox {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

// The gap below `item` when `next` follows it.
int32_t GapBelow(const LaidOutItem& item, const LaidOutItem& next);

struct FormPlacement {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<ItemBox> items;          // one per laid-out item, in order
  ItemBox buttons[kPageButtonCount];  // continue, skip, cancel
};

struct PageButtonInput {
  int32_t widths[kPageButtonCount] = {};
  int32_t height = 23;
  bool visible[kPageButtonCount] = {true, true, true};
  bool skipEnabled = true;
};

// Items from (21, 40) downwards, each followed by its gap but the last; the height is y
// after the items plus the button height plus 33. With all three buttons shown and Skip
// enabled, Skip sits at the left and Continue left of Cancel; otherwise Continue at the
// left, Skip beside it, Cancel at the right.
FormPlacement PlaceForm(int32_t width, const std::vector<LaidOutItem>& items,
                        const PageButtonInput& buttons);

}  // namespace qx
