#include "rtf_certainty.h"

#include <algorithm>
#include <iterator>

namespace qx {

namespace {

// Control words that only format, lay out or describe the document, or that show
// a character the reader renders exactly as the control does. Sorted for binary search.
constexpr std::string_view kFormattingWords[] = {
    "ab", "adeff", "adeflang", "adjustright", "aenddoc", "af", "afelev", "afs", "ai",
    "alang", "allowfieldendsel", "alntblind", "ansi", "ansicpg", "asianbrkrule", "aspalpha",
    "aspnum", "b", "bullet", "cachedcolbal", "caps", "cb", "cf", "cgrid", "charrsid",
    "charscalex", "chcbpat", "contextualspace", "cs", "dbch", "deff", "deflang",
    "deflangfe", "deftab", "dghorigin", "dghshow", "dghspace", "dgmargin", "dgvorigin",
    "dgvshow", "dgvspace", "dn", "dntblnsbdb", "donotembedlingdata", "donotembedsysfont",
    "embo", "emdash", "endash", "expnd", "expndtw", "expshrtn", "f", "faauto", "fcs",
    "felnbrelev", "fet", "fi", "footery", "formshade", "fs", "ftnbj", "ftnlytwnine",
    "grfdocevents", "gutter", "headery", "hich", "highlight", "horzdoc", "htmautsp",
    "hwelev", "hyphconsec", "hyphhotz", "hyphpar", "i", "ignoremixedcontent", "impr",
    "indrlsweleven", "insrsid", "itap", "jexpand", "keep", "keepn", "kerning", "krnprsnet",
    "lang", "langfe", "langfenp", "langnp", "ldblquote", "li", "lin", "line", "linex",
    "lnbrkrule", "loch", "lquote", "ltrch", "ltrpar", "ltrsect", "lytcalctblwd",
    "lyttblrtgr", "margb", "margbsxn", "margl", "marglsxn", "margr", "margrsxn", "margt",
    "margtsxn", "newtblstyruls", "noafcnsttbl", "nobrkwrptbl", "nocxsptable",
    "nogrowautofit", "noindnmbrts", "nolnhtadjtbl", "nooverflow", "noproof", "nospaceforul",
    "nosupersub", "notbrkcnstfrctbl", "notcvasp", "notvatxbx", "nouicompat", "noultrlspc",
    "nowidctlpar", "noxlattoyen", "outline", "outlinelevel", "paperh", "paperw", "par",
    "pararsid", "pard", "pgbrdrfoot", "pgbrdrhead", "pghsxn", "pgwsxn", "plain", "qc", "qj",
    "ql", "qr", "rdblquote", "relyonvml", "ri", "rin", "rquote", "rsidroot", "rtlch",
    "rtlpar", "rtlsect", "s", "sa", "saauto", "saveinvalidxml", "sb", "sbauto", "sbknone",
    "scaps", "sectd", "sectdefaultcl", "sectlinegrid", "sectunlocked", "shad",
    "showplaceholdtext", "showxmlerrors", "sl", "slmult", "snaptogridincell", "spltpgpar",
    "splytwnine", "strike", "striked", "stshfbi", "stshfdbch", "stshfhich", "stshfloch",
    "sub", "super", "tab", "themelang", "themelangcs", "themelangfe", "tldot", "tleq",
    "tlhyph", "tlth", "tlul", "tqc", "tqdec", "tqr", "trackformatting", "trackmoves", "tx",
    "uc", "ul", "uld", "uldb", "ulnone", "ulth", "ulw", "ulwave", "up", "useltbaln",
    "usenormstyforlist", "utinl", "validatexml", "viewbksp", "viewkind", "viewscale",
    "viewzk", "widctlpar", "widowctrl", "wrapdefault", "wrppunct",
};

// Destinations both the reader and every control drop; only as the first word of a group.
constexpr std::string_view kHiddenDestinations[] = {
    "colortbl", "fonttbl", "info", "stylesheet",
};

// Words after \* whose groups hold no displayed text for any control.
constexpr std::string_view kStarredDestinations[] = {
    "bkmkend", "bkmkstart", "colorschememapping", "datastore", "defchp", "defpap",
    "generator", "latentstyles", "panose", "rsidtbl", "themedata", "xmlnstbl",
};

static_assert(std::is_sorted(std::begin(kFormattingWords), std::end(kFormattingWords)));
static_assert(std::is_sorted(std::begin(kHiddenDestinations), std::end(kHiddenDestinations)));
static_assert(std::is_sorted(std::begin(kStarredDestinations), std::end(kStarredDestinations)));

template <size_t N>
bool Contains(const std::string_view (&list)[N], std::string_view word) {
  return std::binary_search(std::begin(list), std::end(list), word);
}

// Nesting a control is known to read: Wine's control crashes on deeper nesting, and how
// deep Windows' controls go is not documented.
constexpr size_t kMaxSureDepth = 8;

bool IsSourceSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Visible in every code page: printable ASCII. Bytes above it may form a double-byte
// character with what follows, or map to a space in the system code page.
bool IsPrintableAscii(unsigned char byte) { return byte > 32 && byte < 127; }

}  // namespace

void RtfCertainty::GroupOpened(size_t depth) {
  if (depth > kMaxSureDepth || expectStarredWord_) unsure_ = true;
  atGroupStart_ = true;
}

void RtfCertainty::Word(std::string_view word, bool shown, bool hasParameter,
                        bool parameterTooLong) {
  const bool groupStart = atGroupStart_;
  TokenSeen();
  if (parameterTooLong) unsure_ = true;
  // Hidden text and deleted revisions may be left out of the plain text, and binary data
  // is counted in bytes that this reader and a control might split differently.
  if (word == "v" || word == "deleted" || word == "bin") unsure_ = true;
  if (expectStarredWord_) {
    expectStarredWord_ = false;
    if (!Contains(kStarredDestinations, word)) unsure_ = true;
    return;
  }
  if (!sawRtfWord_) {
    // The document's first word; "{\urtf" and other variants are the control's to read.
    sawRtfWord_ = true;
    if (word != "rtf" || !hasParameter) unsure_ = true;
    return;
  }
  if (!shown) return;
  if (Contains(kHiddenDestinations, word)) {
    if (!groupStart) unsure_ = true;
    return;
  }
  if (!Contains(kFormattingWords, word)) unsure_ = true;
}

void RtfCertainty::Symbol(char symbol, bool shown) {
  const bool groupStart = atGroupStart_;
  TokenSeen();
  if (expectStarredWord_) {
    unsure_ = true;
    return;
  }
  if (!shown) return;
  switch (symbol) {
    case '*':
      if (!groupStart) unsure_ = true;
      expectStarredWord_ = true;
      break;
    case '\\':
    case '{':
    case '}':
    case '~':  // a non-breaking space: shown as a byte above 127, which is never sure
    case '\r':
    case '\n':
      break;
    default:
      // \- is a soft hyphen that a control may keep as a character, \_ a non-breaking
      // hyphen, \| and \: belong to formulas and indexes.
      unsure_ = true;
      break;
  }
}

void RtfCertainty::Shown(unsigned char byte) {
  TokenSeen();
  if (IsPrintableAscii(byte)) {
    // After a byte above 127 this one may be the second half of a double-byte character.
    if (!previousNonAscii_) sureVisible_ = true;
    previousNonAscii_ = false;
  } else if (byte > 32) {
    sawNonAscii_ = true;
    previousNonAscii_ = true;
  } else {
    previousNonAscii_ = false;
  }
}

void RtfCertainty::DocumentClosed(std::string_view rest) {
  if (expectStarredWord_) unsure_ = true;
  if (!std::all_of(rest.begin(), rest.end(), IsSourceSpace)) unsure_ = true;
}

RtfVerdict RtfCertainty::Verdict() const {
  if (unsure_) return RtfVerdict::kUnsure;
  if (sureVisible_) return RtfVerdict::kVisible;
  return sawNonAscii_ ? RtfVerdict::kUnsure : RtfVerdict::kBlank;
}

RtfVerdict PlainTextVerdict(std::string_view text) {
  // Text opening like a rich-text header may be a form the control knows and we do not.
  if (text.substr(0, 2) == "{\\") return RtfVerdict::kUnsure;
  RtfCertainty certainty;
  for (char c : text) certainty.Shown(static_cast<unsigned char>(c));
  return certainty.Verdict();
}

}  // namespace qx
