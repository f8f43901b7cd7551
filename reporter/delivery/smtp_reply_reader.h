// Reads one SMTP reply from the pieces the socket hands over: the reply must begin with the
// expected three-digit code; lines whose fourth character is "-" continue it, the first other
// line ends it. EHLO replies also tell whether AUTH LOGIN is offered, in the current form
// ("250-AUTH LOGIN PLAIN") and the old one ("250-AUTH=LOGIN"), and whether STARTTLS is.
#pragma once

#include <cstddef>
#include <string>

namespace qx {

class SmtpReplyReader {
 public:
  enum class State { kNeedMore, kSuccess, kFailure };

  // A reply longer than this fails: a peer that never ends its reply cannot keep us.
  static constexpr size_t kMaxReplyBytes = 64 * 1024;
  // Characters of one line kept for judging it; the rest of a longer line is read and
  // dropped, so that its tail is never taken for the start of a line.
  static constexpr size_t kKeptLineChars = 1024;

  SmtpReplyReader(const std::string& expectedCode, bool detectAuthLogin);

  // Hands over the next received piece. Once the state is no longer kNeedMore, further
  // pieces are ignored.
  State Feed(const char* data, size_t size);
  State state() const { return state_; }
  bool authLoginOffered() const { return authLogin_; }
  bool startTlsOffered() const { return startTls_; }
  // The last complete line judged (for messages), without its line break.
  const std::string& lastLine() const { return lastLine_; }

 private:
  void JudgeLine();

  std::string code_;
  bool detect_;
  bool authLogin_ = false;
  bool startTls_ = false;
  bool started_ = false;
  State state_ = State::kNeedMore;
  std::string line_;
  size_t total_ = 0;
  std::string lastLine_;
};

}  // namespace qx
