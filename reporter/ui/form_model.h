// What an assistant form holds before it has a window: its properties and its items, built
// from the three page buttons and the form's component stream; and the rules the forms
// apply to what the user enters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

enum class FormItemKind { Button, Label, Edit, CheckBox, Image };

// Where an edit's or check box's value goes in the report.
enum class FormOutputType { Header, OwnSection };

struct FormItemModel {
  FormItemKind kind = FormItemKind::Label;
  std::string name;
  bool enabled = true;
  int32_t spacing = 0;  // extra gap below the item; 0 chooses it from the neighbours
  FormOutputType outputType = FormOutputType::Header;
  std::string outputName;
  // Buttons, labels and check boxes.
  std::string caption;
  // Buttons.
  bool visible = true;
  bool noOwnerDraw = false;
  int32_t minWidth = 0;
  // Edits.
  std::string text;
  int32_t lines = 1;
  bool optional = false;
  bool colored = false;
  bool valid = true;
  // Check boxes.
  bool checked = false;
  // Images.
  int32_t width = 0;
  int32_t height = 0;
  std::string file;
  bool clickable = false;
  bool border = false;
};

// Indexes of the page buttons, which every form's item list starts with.
inline constexpr size_t kContinueButton = 0;
inline constexpr size_t kSkipButton = 1;
inline constexpr size_t kCancelButton = 2;
inline constexpr size_t kPageButtonCount = 3;

struct FormModel {
  std::string name;
  std::string message;  // the page heading
  int32_t minWidth = 0;
  int32_t timer = 0;  // milliseconds between ticks, 0 for none
  std::string onAction;
  std::string activeControl;
  std::vector<FormItemModel> items;
};

// A form with nothing but the three page buttons ("Next >", "Skip", "Cancel").
FormModel EmptyFormModel(const std::string& name);

// Applies a stream that begins with "TPF0" to the form; other bytes leave it as it is.
// False when the stream is damaged.
bool ApplyFormStream(std::string_view stream, FormModel& form);

// The resource that holds a form's stream: "TKV" and the name in upper case.
std::string FormResourceName(const std::string& formName);

// The text of the error a damaged stream raises.
std::string InvalidFormResourceText(const std::string& resourceName);

// An address a reply can go to: no blanks around it, an "@" after its first character, a
// dot after the "@" but neither first, last nor right after the "@", and nothing but
// letters, digits, "_", "-", "+", "'" and dots besides the one "@".
bool IsAcceptableEmail(std::string_view text);

// Whether an item lets the page's continue button be pressed: an optional edit always,
// a required one when it is valid and holds text, every other item always.
bool ItemAllowsContinue(const FormItemModel& item, std::string_view currentText);

// The sender address the contact form gives the report: name <email>.
std::string SenderAddress(const std::string& name, const std::string& email);

bool EqualNoCase(std::string_view a, std::string_view b);

}  // namespace qx
