// The exception box's rules that need no window: which button carries the automatic
// action, what a close request does, and how far the countdown bar has come.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

// The seven buttons in their order (also the numbers of `FocusedBtn`).
enum BoxButton : int {
  kButtonSend = 0,
  kButtonSave = 1,
  kButtonPrint = 2,
  kButtonShow = 3,
  kButtonContinue = 4,
  kButtonRestart = 5,
  kButtonClose = 6,
  kBoxButtonCount = 7,
  kButtonNone = -1,
};

// What a close request or a pressed button leads to.
enum class BoxOutcome { kContinue, kRestart, kClose };

// The button the automatic action presses: close when `AutoClose` applies and the close
// button is there, else restart likewise, else continue when `AutoContinue` is set;
// kButtonNone otherwise.
int AutomaticButton(bool autoClose, bool autoRestart, bool autoContinue,
                    const bool (&present)[kBoxButtonCount]);

// The close request (title-bar button, Escape): by the focused button (continue, restart,
// close), else continue when its button is there and the exception can continue, else close
// when its button is there, else restart when its button is there, else (a short box)
// close.
BoxOutcome CloseRequestOutcome(int focusedButton, const bool (&present)[kBoxButtonCount],
                               bool canContinue);

// The countdown bar's length after `elapsedMs`: (elapsed x width + delay x 500) /
// (delay x 1000), rounded; a delay of 0 fills the button at once.
int32_t CountdownPosition(uint32_t elapsedMs, int32_t buttonWidth, uint32_t delaySeconds);
// Whether the bar has passed the button (less 6 pixels of frame for owner-drawn buttons).
bool CountdownPassed(int32_t position, int32_t buttonWidth, bool ownerDrawn);

// The hot key of a caption: the letter or digit after its first single "&" ("&&" stands for
// an ampersand), upper case; 0 when the caption has none.
char CaptionHotKey(const std::string& caption);

}  // namespace qx
