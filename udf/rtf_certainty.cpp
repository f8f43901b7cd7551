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


// What a table may hold one level down: the word each entry starts with.
constexpr std::string_view kFontEntryWords[] = {"f"};
constexpr std::string_view kStyleEntryWords[] = {"cs", "ds", "s", "ts"};
constexpr std::string_view kInfoEntryWords[] = {
    "author",   "buptim",   "category", "comment", "company", "creatim",    "doccomm",
    "edmins",   "hlinkbase", "id",      "keywords", "manager", "nofchars", "nofcharsws",
    "nofpages", "nofwords", "operator", "printim", "revtim",  "subject",    "title",
    "vern",     "version",
};
constexpr std::string_view kColorWords[] = {"blue", "green", "red"};

static_assert(std::is_sorted(std::begin(kInfoEntryWords), std::end(kInfoEntryWords)));

}  // namespace

// Character sets whose code pages keep ASCII as it is. A symbol font (2) shows even a
// space as a private character, which the 8-bit text renders as '?'.
constexpr long long kAsciiCharacterSets[] = {0, 1, 128, 129, 134, 136, 161, 162,
                                             163, 177, 178, 186, 204, 238};
// Code pages a document may declare with \ansicpg: the Windows ANSI code pages. Wine's
// control shows nothing at all for a code page it does not know.
constexpr long long kAnsiCodePages[] = {874, 932, 936, 949, 950, 1250, 1251, 1252,
                                        1253, 1254, 1255, 1256, 1257, 1258};

template <size_t N>
bool ContainsNumber(const long long (&list)[N], long long value) {
  return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

void RtfCertainty::TokenSeen() {
  atGroupStart_ = false;
  if (mustBeStarred_ || entryPending_) {
    mustBeStarred_ = false;
    entryPending_ = false;
    unsure_ = true;
  }
}

void RtfCertainty::GroupOpened(size_t depth) {
  if (depth > kMaxSureDepth || expectStarredWord_ || mustBeStarred_ || entryPending_) {
    unsure_ = true;
  }
  if (table_ != Table::kNone) {
    if (table_ == Table::kColors || table_ == Table::kStarred) {
      if (table_ == Table::kColors) unsure_ = true;
      if (depth > tableDepth_ + 1) mustBeStarred_ = true;
    } else if (depth == tableDepth_ + 1) {
      entryPending_ = true;
    } else {
      mustBeStarred_ = true;
    }
  }
  depth_ = depth;
  atGroupStart_ = true;
}

void RtfCertainty::GroupClosing(size_t depth) {
  if (expectStarredWord_ || mustBeStarred_ || entryPending_ || starredEntry_) unsure_ = true;
  if (depth == tableDepth_) {
    table_ = Table::kNone;
    tableDepth_ = 0;
  }
  depth_ = depth - 1;
  atGroupStart_ = false;
}

void RtfCertainty::EnterTable(Table table) {
  if (table_ != Table::kNone) return;
  // The document's own tables stand in its header, before any text; a control may read
  // a table elsewhere, or a malformed one, as swallowing the rest of the document.
  if (table != Table::kStarred && (depth_ != 2 || sawBody_)) unsure_ = true;
  table_ = table;
  tableDepth_ = depth_;
}

// A word inside a table: entries start with their own words; the colour table holds
// colour words only, the other tables nothing but their entries.
void RtfCertainty::TableWord(std::string_view word) {
  if (starredEntry_) {
    starredEntry_ = false;
    if (word != "cs" && word != "ds" && word != "ts") unsure_ = true;
    return;
  }
  if (entryPending_) {
    entryPending_ = false;
    const bool known = (table_ == Table::kFonts && Contains(kFontEntryWords, word)) ||
                       (table_ == Table::kStyles && Contains(kStyleEntryWords, word)) ||
                       (table_ == Table::kInfo && Contains(kInfoEntryWords, word));
    if (!known) unsure_ = true;
    return;
  }
  if (depth_ != tableDepth_ || table_ == Table::kStarred) return;
  if (table_ != Table::kColors || !Contains(kColorWords, word)) unsure_ = true;
}

void RtfCertainty::HiddenByte(unsigned char byte) {
  if (entryPending_ || mustBeStarred_) TokenSeen();
  if (table_ == Table::kNone || table_ == Table::kStarred || depth_ != tableDepth_) return;
  if (byte != ' ' && !(table_ == Table::kColors && byte == ';')) unsure_ = true;
}

void RtfCertainty::CheckCharacterSet(std::string_view word, bool hasParameter,
                                     long long parameter) {
  if (word == "fcharset" && !(hasParameter && ContainsNumber(kAsciiCharacterSets, parameter))) {
    unsure_ = true;
  }
  if (word == "ansicpg" && !(hasParameter && ContainsNumber(kAnsiCodePages, parameter))) {
    unsure_ = true;
  }
  // Technical fonts and code pages of a font of their own may not keep ASCII either.
  if (word == "ftech" || word == "cpg" || word == "mac" || word == "pc" || word == "pca") {
    unsure_ = true;
  }
}

void RtfCertainty::Word(std::string_view word, bool shown, bool hasParameter,
                        long long parameter, bool parameterTooLong) {
  const bool groupStart = atGroupStart_;
  const bool starred = expectStarredWord_;
  atGroupStart_ = false;
  if (!starred && !entryPending_ && !starredEntry_) TokenSeen();
  if (parameterTooLong) unsure_ = true;
  CheckCharacterSet(word, hasParameter, parameter);
  // Hidden text and deleted revisions may be left out of the plain text, and binary data
  // is counted in bytes that this reader and a control might split differently.
  if (word == "v" || word == "deleted" || word == "bin") unsure_ = true;
  if (starred) {
    expectStarredWord_ = false;
    if (!Contains(kStarredDestinations, word)) unsure_ = true;
    EnterTable(Table::kStarred);
    return;
  }
  if (!sawRtfWord_) {
    // The document's first word; "{\urtf" and other variants are the control's to read.
    sawRtfWord_ = true;
    if (word != "rtf" || !hasParameter) unsure_ = true;
    return;
  }
  if (table_ != Table::kNone) {
    TableWord(word);
    return;
  }
  if (!shown) return;
  if (Contains(kHiddenDestinations, word)) {
    if (!groupStart) unsure_ = true;
    EnterTable(word == "fonttbl"    ? Table::kFonts
               : word == "colortbl" ? Table::kColors
               : word == "info"     ? Table::kInfo
                                    : Table::kStyles);
    return;
  }
  if (!Contains(kFormattingWords, word)) unsure_ = true;
}

void RtfCertainty::Symbol(char symbol, bool shown) {
  const bool groupStart = atGroupStart_;
  atGroupStart_ = false;
  if (symbol == '*' && mustBeStarred_) {
    mustBeStarred_ = false;
    expectStarredWord_ = true;
    return;
  }
  if (symbol == '*' && entryPending_ && table_ == Table::kStyles) {
    entryPending_ = false;
    starredEntry_ = true;
    return;
  }
  TokenSeen();
  if (expectStarredWord_ || starredEntry_) {
    unsure_ = true;
    return;
  }
  if (table_ != Table::kNone && table_ != Table::kStarred && depth_ == tableDepth_) {
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
  sawBody_ = true;
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
  if (expectStarredWord_ || mustBeStarred_ || entryPending_ || starredEntry_) unsure_ = true;
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
