// The body of a mail: the text with its line breaks and dot rule, and the multipart/mixed
// frame around the text and the attachments.
#pragma once

#include <string>

namespace qx {

// One fixed boundary for every mail and upload; none of its characters needs quoting.
inline constexpr char kMultipartBoundary[] = "qelExcept_Boundary_5f2c8e19a7d3b0";
static_assert(sizeof(kMultipartBoundary) == 34, "the boundary is 33 characters");

// The body as the DATA phase sends it. Every lone CR or LF becomes CR LF, so that only
// CR LF ends a line and no server can find an end of data the dot rule did not see; every
// line that begins with "." (a line of only "." among them, anywhere in the body) gets a
// second "." in front, which the receiving server removes again: the receiver gets the body
// as it was, and no line of it can end the data.
std::string MailBodyText(const std::string& body);

// Whether the body holds a line longer than the 998 characters a mail line may carry
// (RFC 5321); such a body is sent quoted-printable, as servers may cut or refuse it.
bool BodyNeedsLineBreaks(const std::string& body);

// The body in quoted-printable (RFC 2045), for the DATA phase: its lines end in CR LF as in
// MailBodyText, encoded lines carry at most 76 characters with soft breaks ("=" at the end)
// where a line was longer; "=", control characters but tab, characters above 126, a space
// or tab before a line break and a "." at the start of an encoded line are written as "=XX",
// so that no line needs the dot rule.
std::string MailBodyQuotedPrintable(const std::string& body);

// The header lines and preamble of a multipart mail up to the text part's own head; the
// body text and a line break follow it. The text part is 8-bit, or quoted-printable.
std::string MimeIntro(bool quotedPrintable = false);

// The header lines a mail without attachments adds for a quoted-printable body.
std::string QuotedPrintableTextHead();

// "image/png" for a path ending in ".png" (any case), else "application/octet-stream".
std::string MimeContentType(const std::string& path);

// The head of one base64 attachment part; its base64 lines follow.
std::string MimeAttachmentHead(const std::string& path, const std::string& sendAs);

// The closing delimiter with its line break.
std::string MimeClosing();

}  // namespace qx
