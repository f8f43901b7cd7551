// The network channels' steps on the progress window, which may be absent.
#pragma once

#include <cstdint>
#include <string>

#include "progress_alert_win.h"
#include "send_plan.h"
#include "settings_interfaces_win.h"

namespace qx {

// The step texts of the settings (empty without settings).
SendStepTexts ReadSendStepTexts(IKVSettings* settings);

class SendProgress {
 public:
  explicit SendProgress(IProgressAlert* alert) : alert_(alert) {}
  void Clear() {
    if (alert_) alert_->ClearAreas();
    areas_ = 0;
  }
  // An empty text keeps the previous area's text: a further step of the same message.
  void Area(const std::string& text, uint64_t weight) {
    if (alert_) alert_->AppendArea(text, weight);
    ++areas_;
  }
  // Areas appended since the last Clear (through this object).
  int32_t AreaCount() const { return areas_; }
  void Step(uint64_t weight) { Area(std::string(), weight); }
  void Advance() { if (alert_) alert_->AreaDone(); }
  int32_t Current() { return alert_ ? alert_->GetCurrentArea() : 0; }
  void MoveTo(int32_t area) { if (alert_) alert_->SetCurrentArea(area); }
  // Thousandths of the current area.
  void Fraction(uint64_t done, uint64_t total) {
    if (alert_ && total > 0) alert_->SetPosition(static_cast<int32_t>(done * 1000 / total));
  }
  void Close() { if (alert_) alert_->Close(); }

 private:
  IProgressAlert* alert_;
  int32_t areas_ = 0;
};

}  // namespace qx
