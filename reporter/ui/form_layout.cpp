#include "form_layout.h"

#include <algorithm>

namespace qx {

int32_t FormWidth(const FormWidthInput& input) {
  int32_t buttons = 32;
  for (int32_t width : input.buttonWidths) buttons += width;
  int32_t heading = input.headingWidth + kFormCountStep * input.formCount + 36;
  int32_t title = input.titleWidth > 0 ? input.titleWidth + kTitleExtra : 0;
  return std::max({buttons, kFormMinWidth, input.minWidth, heading, title});
}

int32_t ItemSpan(int32_t formWidth) { return std::max(0, formWidth - 2 * kItemLeft); }

int32_t EditWidth(int32_t formWidth) { return std::max(0, formWidth - kEditMargin); }

int32_t EditHeight(int32_t textHeight, int32_t lines) {
  return textHeight * (lines < 2 ? 1 : lines) + 2;
}

bool IsHeadingLabel(const FormItemModel& item, bool fitsOneLine) {
  if (item.kind != FormItemKind::Label || item.caption.empty() || !fitsOneLine) return false;
  char last = item.caption.back();
  return last == ':' || last == '?';
}

int32_t GapBelow(const LaidOutItem& item, const LaidOutItem& next) {
  if (item.spacing != 0) return item.spacing;
  if (item.heading) return 4;
  if (item.kind != next.kind) return 12;
  switch (item.kind) {
    case FormItemKind::Button:
      return 4;
    case FormItemKind::Edit:
      return 6;
    default:
      return 8;
  }
}

FormPlacement PlaceForm(int32_t width, const std::vector<LaidOutItem>& items,
                        const PageButtonInput& buttons) {
  FormPlacement placement;
  placement.width = width;
  int32_t y = kItemTop;
  for (size_t i = 0; i < items.size(); ++i) {
    placement.items.push_back({kItemLeft, y, items[i].width, items[i].height});
    y += items[i].height;
    if (i + 1 < items.size()) y += GapBelow(items[i], items[i + 1]);
  }
  placement.height = y + buttons.height + kBottomExtra;

  int32_t buttonY = placement.height - buttons.height - kButtonMargin;
  const int32_t* w = buttons.widths;
  ItemBox& next = placement.buttons[kContinueButton];
  ItemBox& skip = placement.buttons[kSkipButton];
  ItemBox& cancel = placement.buttons[kCancelButton];
  cancel = {width - w[kCancelButton] - kButtonMargin, buttonY, w[kCancelButton], buttons.height};
  bool allShown = buttons.visible[0] && buttons.visible[1] && buttons.visible[2];
  if (allShown && buttons.skipEnabled) {
    skip = {kButtonMargin, buttonY, w[kSkipButton], buttons.height};
    next = {cancel.x - kButtonMargin - w[kContinueButton], buttonY, w[kContinueButton],
            buttons.height};
  } else {
    next = {kButtonMargin, buttonY, w[kContinueButton], buttons.height};
    skip = {next.x + next.width + kButtonMargin, buttonY, w[kSkipButton], buttons.height};
  }
  return placement;
}

}  // namespace qx
