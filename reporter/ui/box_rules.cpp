#include "box_rules.h"

namespace qx {

int AutomaticButton(bool autoClose, bool autoRestart, bool autoContinue,
                    const bool (&present)[kBoxButtonCount]) {
  if (autoClose && present[kButtonClose]) return kButtonClose;
  if (autoRestart && present[kButtonRestart]) return kButtonRestart;
  if (autoContinue && present[kButtonContinue]) return kButtonContinue;
  return kButtonNone;
}

BoxOutcome CloseRequestOutcome(int focusedButton, const bool (&present)[kBoxButtonCount],
                               bool canContinue) {
  switch (focusedButton) {
    case kButtonContinue: return BoxOutcome::kContinue;
    case kButtonRestart: return BoxOutcome::kRestart;
    case kButtonClose: return BoxOutcome::kClose;
    default: break;
  }
  if (present[kButtonContinue] && canContinue) return BoxOutcome::kContinue;
  if (present[kButtonClose]) return BoxOutcome::kClose;
  if (present[kButtonRestart]) return BoxOutcome::kRestart;
  return BoxOutcome::kClose;
}

int32_t CountdownPosition(uint32_t elapsedMs, int32_t buttonWidth, uint32_t delaySeconds) {
  if (delaySeconds == 0 || buttonWidth <= 0) return buttonWidth + 1;
  uint64_t scaled = static_cast<uint64_t>(elapsedMs) * static_cast<uint64_t>(buttonWidth) +
                    static_cast<uint64_t>(delaySeconds) * 500u;
  uint64_t position = scaled / (static_cast<uint64_t>(delaySeconds) * 1000u);
  return position > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(position);
}

bool CountdownPassed(int32_t position, int32_t buttonWidth, bool ownerDrawn) {
  return position > buttonWidth - (ownerDrawn ? 6 : 0);
}

char CaptionHotKey(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    const char next = caption[i + 1];
    if (next == '&') {
      ++i;
      continue;
    }
    if (next >= 'a' && next <= 'z') return static_cast<char>(next - 'a' + 'A');
    if ((next >= 'A' && next <= 'Z') || (next >= '0' && next <= '9')) return next;
    return 0;
  }
  return 0;
}

}  // namespace qx
