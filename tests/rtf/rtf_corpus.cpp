// The rich-text corpus shared by the native tests and the rich-edit cross-check.
#include "rtf_corpus.h"

namespace qx::test {

using namespace std::string_view_literals;

const std::vector<RtfSample>& RtfCorpus() {
  // clang-format off
  static const std::vector<RtfSample> corpus = {
      {"plain_word", "hello"sv, false},
      {"plain_blank", "   \r\n\t  \r\n"sv, true},
      {"plain_empty", ""sv, true},
      {"plain_with_braces", "price {net} \\ gross"sv, false},
      {"leading_space_is_plain", " {\\rtf1 \\par }"sv, false},
      {"minimal_word", "{\\rtf1 hello}"sv, false},
      {"minimal_empty", "{\\rtf1}"sv, true},
      {"fonttbl_only_par",
       "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\froman Times New "
       "Roman;}}\\f0\\fs20 \\par }"sv,
       true},
      {"wordpad_text",
       "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1043{\\fonttbl{\\f0\\f"
       "nil\\fcharset0 Calibri;}}\r\n{\\*\\generator Riched20 10.0.19041}\\viewkind"
       "4\\uc1 \r\n\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang19 Factuur betaald\\p"
       "ar\r\n}\r\n"sv,
       false},
      {"wordpad_empty",
       "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1043{\\fonttbl{\\f0\\f"
       "nil\\fcharset0 Calibri;}}\r\n{\\*\\generator Riched20 10.0.19041}\\viewkind"
       "4\\uc1 \r\n\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang19\\par\r\n}\r\n"sv,
       true},
      {"colortbl_spaces",
       "{\\rtf1{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\\cf1 "
       "   \\cf2   \\par}"sv,
       true},
      {"stylesheet_only",
       "{\\rtf1{\\stylesheet{\\s0 Normal;}{\\s1\\b heading 1;}{\\*\\cs10 Default Pa"
       "ragraph Font;}}\\pard\\plain\\s0 \\par}"sv,
       true},
      {"info_only",
       "{\\rtf1{\\info{\\title Quarterly report}{\\author J. Jansen}{\\company Acme"
       "}}\\par\\par}"sv,
       true},
      {"info_and_body",
       "{\\rtf1{\\info{\\title T}{\\author A}}\\pard Body text\\par}"sv,
       false},
      {"tab_only", "{\\rtf1\\pard\\tab\\tab\\par}"sv, true},
      {"line_only", "{\\rtf1\\pard\\line\\line\\par}"sv, true},
      {"hex_e_acute", "{\\rtf1\\ansi caf\\'e9\\par}"sv, false},
      {"hex_space_and_tab", "{\\rtf1\\ansi \\'20\\'20\\'09\\par}"sv, true},
      {"hex_nbsp", "{\\rtf1\\ansi \\'a0\\par}"sv, false},
      {"control_nbsp", "{\\rtf1 \\~\\par}"sv, false},
      {"unicode_euro", "{\\rtf1\\uc1 \\u8364?\\par}"sv, false},
      {"unicode_with_hex_fallback", "{\\rtf1\\uc1 \\u233\\'e9\\par}"sv, false},
      {"unicode_no_fallback", "{\\rtf1\\uc0 \\u233 \\par}"sv, false},
      {"unicode_space_fallback_skipped", "{\\rtf1\\uc1 \\u32 x\\par}"sv, true},
      {"unicode_two_char_fallback", "{\\rtf1\\uc2 \\u32 xy\\par}"sv, true},
      {"unicode_fallback_is_control_word", "{\\rtf1\\uc1 \\u32\\emdash\\par}"sv, false},
      {"unicode_negative", "{\\rtf1\\uc1 \\u-3913 ?\\par}"sv, false},
      {"ignorable_destination", "{\\rtf1{\\*\\unknowndest visible words}\\par}"sv, true},
      {"ignorable_known_word",
       "{\\rtf1{\\*\\bkmkstart mark}{\\*\\bkmkend mark}\\par}"sv,
       true},
      {"picture_only",
       "{\\rtf1{\\pict\\wmetafile8\\picw100\\pich100 010009000003500000000000270000"
       "0000000400}\\par}"sv,
       true},
      {"binary_picture",
       "{\\rtf1{\\pict\\wmetafile8\\bin4 \x01\x02\x03\x04}\\par}"sv,
       true},
      {"header_footer_only",
       "{\\rtf1{\\header\\pard Page header\\par}{\\footer\\pard Page footer\\par}\\p"
       "ard\\par}"sv,
       true},
      {"field_with_result",
       "{\\rtf1{\\field{\\*\\fldinst{HYPERLINK \"http://example.com\"}}{\\fldrslt{\\u"
       "l link}}}\\par}"sv,
       false,
       "Wine's control drops field results; Windows shows them"},
      {"field_empty_result",
       "{\\rtf1{\\field{\\*\\fldinst{PAGE}}{\\fldrslt}}\\par}"sv,
       true},
      {"nested_bold", "{\\rtf1{{{\\b bold}}}\\par}"sv, false},
      {"escaped_braces", "{\\rtf1 \\{\\}\\par}"sv, false},
      {"escaped_backslash", "{\\rtf1 \\\\\\par}"sv, false},
      {"text_after_document", "{\\rtf1 \\par}visible"sv, true},
      {"unclosed_document", "{\\rtf1 word"sv, false},
      {"source_line_breaks_only", "{\\rtf1\r\n\\pard\r\n\r\n\\par\r\n}"sv, true},
      {"emdash_bullet", "{\\rtf1 \\emdash\\bullet\\par}"sv, false},
      {"quotes", "{\\rtf1 \\lquote\\rquote\\ldblquote\\rdblquote\\par}"sv, false},
      {"table_with_text",
       "{\\rtf1\\trowd\\cellx1000\\cellx2000\\pard\\intbl one\\cell two\\cell\\row\\p"
       "ard\\par}"sv,
       false},
      {"table_empty_cells",
       "{\\rtf1\\trowd\\cellx1000\\cellx2000\\pard\\intbl\\cell\\cell\\row\\pard\\p"
       "ar}"sv,
       true},
      {"upper_case_prefix_is_plain", "{\\RTF1 \\par}"sv, false},
      {"deep_nesting", "{\\rtf1{{{{{{{{deep}}}}}}}}}"sv, false},
      {"deep_nesting_blank",
       "{\\rtf1{\\b {\\b {\\b {\\b {\\b {\\b {\\b {\\b }}}}}}}}\\par}"sv,
       true},
      {"paragraph_formatting_only",
       "{\\rtf1\\pard\\plain\\sa200\\sl276\\slmult1\\qc\\li720\\ri720\\fi-360\\par\\p"
       "ard\\par}"sv,
       true},
      {"word_document",
       "{\\rtf1\\adeflang1025\\ansi\\ansicpg1252\\uc1\\adeff0\\deff0\\stshfdbch0\\s"
       "tshfloch31506\\stshfhich31506\\stshfbi31506\\deflang1043\\deflangfe1043\\th"
       "emelang1043\\themelangfe0\\themelangcs0{\\fonttbl{\\f0\\fbidi \\froman\\fch"
       "arset0\\fprq2{\\*\\panose 02020603050405020304}Times New Roman;}{\\f37\\fbi"
       "di \\fswiss\\fcharset0\\fprq2{\\*\\panose 020f0502020204030204}Calibri;}}\r"
       "\n{\\colortbl;\\red0\\green0\\blue0;\\red0\\green0\\blue255;}\r\n{\\*\\defc"
       "hp \\f31506\\fs22\\lang1043\\langfe1033\\langfenp1033 }{\\*\\defpap \\ql \\l"
       "i0\\ri0\\sa160\\sl259\\slmult1\\widctlpar\\wrapdefault\\aspalpha\\aspnum\\f"
       "aauto\\adjustright\\rin0\\lin0\\itap0 }\r\n{\\stylesheet{\\ql \\li0\\ri0\\s"
       "a160\\sl259\\slmult1\\widctlpar\\wrapdefault\\aspalpha\\aspnum\\faauto\\adj"
       "ustright\\rin0\\lin0\\itap0 \\rtlch\\fcs1 \\af0\\afs22\\alang1025 \\ltrch\\f"
       "cs0 \\f31506\\fs22\\lang1043\\langfe1033\\cgrid\\langnp1043\\langfenp1033 \\s"
       "next0 \\sqformat \\spriority0 Normal;}{\\*\\cs10 \\additive \\ssemihidden \\s"
       "unhideused \\spriority1 Default Paragraph Font;}}\r\n{\\*\\rsidtbl \\rsid11"
       "18745\\rsid6240551}{\\mmathPr\\mmathFont34\\mbrkBin0\\mbrkBinSub0\\msmallFr"
       "ac0\\mdispDef1\\mlMargin0\\mrMargin0\\mdefJc1\\mwrapIndent1440\\mintLim0\\m"
       "naryLim1}{\\info{\\author Jansen}{\\operator Jansen}{\\creatim\\yr2021\\mo3"
       "\\dy4\\hr10\\min2}{\\version2}{\\edmins0}{\\nofpages1}{\\nofwords2}{\\nofch"
       "ars14}{\\nofcharsws15}{\\vern99}}{\\*\\xmlnstbl {\\xmlns1 http://schemas.mi"
       "crosoft.com/office/word/2003/wordml}}\r\n\\paperw11906\\paperh16838\\margl1"
       "417\\margr1417\\margt1417\\margb1417\\gutter0\\ltrsect \r\n\\pard\\plain \\l"
       "trpar\\ql \\li0\\ri0\\sa160\\sl259\\slmult1\\widctlpar\\wrapdefault\\aspalp"
       "ha\\aspnum\\faauto\\adjustright\\rin0\\lin0\\itap0\\pararsid6240551 \\rtlch"
       "\\fcs1 \\af0\\afs22\\alang1025 \\ltrch\\fcs0 \\f31506\\fs22\\lang1043\\lang"
       "fe1033\\cgrid\\langnp1043\\langfenp1033 {\\rtlch\\fcs1 \\af0 \\ltrch\\fcs0 "
       "\\insrsid6240551 Hello world}{\\rtlch\\fcs1 \\af0 \\ltrch\\fcs0 \\insrsid11"
       "18745 \r\n\\par }{\\*\\themedata 504b030414000600080000002100e9de0fbfff0000"
       "001c020000130000005b436f6e74656e745f54797065735d2e786d6cac91cb4ec3301045f74"
       "8fc83e52d4a}\r\n{\\*\\colorschememapping 3c3f786d6c2076657273696f6e3d22312e"
       "302220656e636f64696e673d225554462d38}\r\n{\\*\\latentstyles\\lsdstimax376\\l"
       "sdlockeddef0\\lsdsemihiddendef0\\lsdunhideuseddef0\\lsdqformatdef0\\lsdprio"
       "ritydef99{\\lsdlockedexcept \\lsdqformat1 \\lsdpriority0 \\lsdlocked0 Norma"
       "l;\\lsdqformat1 \\lsdpriority9 \\lsdlocked0 heading 1;}}{\\*\\datastore 010"
       "50000020000001800000057006f00720064002e0044006f00630075006d0065006e0074002e"
       "0038000000}}"sv,
       false},
      {"bullets_empty_items",
       "{\\rtf1{\\*\\pn\\pnlvlblt\\pnf1\\pnindent0{\\pntxtb\\'B7}}\\pard{\\pntext\\f"
       "1\\'B7\\tab}\\par{\\pntext\\f1\\'B7\\tab}\\par}"sv,
       true},
      {"bullets_with_text",
       "{\\rtf1{\\*\\pn\\pnlvlblt\\pnf1\\pnindent0{\\pntxtb\\'B7}}\\pard{\\pntext\\f"
       "1\\'B7\\tab}Item one\\par}"sv,
       false},
      {"hidden_text", "{\\rtf1 {\\v secret}\\par}"sv, false},
      {"optional_hyphen_only", "{\\rtf1 \\-\\-\\par}"sv, true},
      {"nonbreaking_hyphen", "{\\rtf1 \\_\\par}"sv, false},
      {"long_control_word",
       "{\\rtf1\\abcdefghijklmnopqrstuvwxyzabcdefghijklmnop123456789012 \\par}"sv,
       true},
      {"zero_hex_byte", "{\\rtf1 \\'00\\par}"sv, true},
      {"hex_truncated", "{\\rtf1 \\'4"sv, true},
  };
  // clang-format on
  return corpus;
}

}  // namespace qx::test
