#include "send_progress_win.h"

namespace qx {

SendStepTexts ReadSendStepTexts(IKVSettings* settings) {
  SendStepTexts texts;
  if (settings == nullptr) return texts;
  texts.prepAtt = settings->GetPrepAttMsg();
  texts.mxLook = settings->GetMxLookMsg();
  texts.conn = settings->GetConnMsg();
  texts.auth = settings->GetAuthMsg();
  texts.sendMail = settings->GetSendMailMsg();
  texts.field = settings->GetFieldMsg();
  texts.sendAtt = settings->GetSendAttMsg();
  texts.sendFinal = settings->GetSendFinalMsg();
  return texts;
}

}  // namespace qx
