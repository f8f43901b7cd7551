#include "smtp_reply_reader.h"

#include "ascii_text.h"

namespace qx {

SmtpReplyReader::SmtpReplyReader(const std::string& expectedCode, bool detectAuthLogin)
    : code_(expectedCode), detect_(detectAuthLogin) {}

SmtpReplyReader::State SmtpReplyReader::Feed(const char* data, size_t size) {
  if (state_ != State::kNeedMore) return state_;
  total_ += size;
  if (total_ > kMaxReplyBytes) return state_ = State::kFailure;
  size_t i = 0;
  if (!started_) {
    // The first piece must already hold more than the code and begin with it.
    if (size <= code_.size() || std::string(data, code_.size()) != code_) {
      return state_ = State::kFailure;
    }
    started_ = true;
  }
  for (; i < size && state_ == State::kNeedMore; ++i) {
    char c = data[i];
    if (c == '\n') {
      JudgeLine();
      line_.clear();
      continue;
    }
    if (c == '\r') continue;
    if (c == '=') c = ' ';
    if (line_.size() < kKeptLineChars) line_ += c;
  }
  return state_;
}

void SmtpReplyReader::JudgeLine() {
  lastLine_ = line_;
  if (detect_ && !authLogin_ && line_.size() > 4 && StartsWithNoCase(line_, 4, "auth ")) {
    if (ContainsNoCase(line_.substr(8) + " ", " login ")) authLogin_ = true;
  }
  // The keyword alone on its line ("250-STARTTLS"), as the extension is announced.
  if (detect_ && StartsWithNoCase(line_, 4, "starttls") &&
      (line_.size() == 12 || line_[12] == ' ')) {
    startTls_ = true;
  }
  if (line_.size() >= 4 && line_[3] == '-') return;  // continuation
  state_ = State::kSuccess;
}

}  // namespace qx
