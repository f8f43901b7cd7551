// The assistant forms' portable parts: the component streams this build carries, the
// reader over damaged and hand-made streams, the form model they build, the e-mail and
// continue rules, and the layout arithmetic.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "form_layout.h"
#include "form_model.h"
#include "form_stream.h"

namespace qx {
namespace {

std::string ReadStream(const char* form) {
  std::ifstream in(std::string(QX_FORM_STREAM_DIR) + "/" + form + "_form.bin", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A hand-made stream, written the way the generator writes one.
class StreamWriter {
 public:
  StreamWriter() : bytes_("TPF0") {}
  StreamWriter& Text(const std::string& text) {
    bytes_ += static_cast<char>(text.size());
    bytes_ += text;
    return *this;
  }
  StreamWriter& Byte(uint8_t b) {
    bytes_ += static_cast<char>(b);
    return *this;
  }
  StreamWriter& Object(const std::string& cls, const std::string& name) { return Text(cls).Text(name); }
  StreamWriter& Str(const std::string& property, const std::string& value) {
    return Text(property).Byte(6).Text(value);
  }
  StreamWriter& Bool(const std::string& property, bool value) {
    return Text(property).Byte(value ? 9 : 8);
  }
  StreamWriter& Int8(const std::string& property, int8_t value) {
    return Text(property).Byte(2).Byte(static_cast<uint8_t>(value));
  }
  StreamWriter& Raw(const std::string& raw) {
    bytes_ += raw;
    return *this;
  }
  StreamWriter& End() { return Byte(0); }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

const FormItemModel& Item(const FormModel& form, size_t index) { return form.items.at(index); }

FormModel Built(const char* name, const std::string& stream) {
  FormModel form = EmptyFormModel(name);
  EXPECT_TRUE(ApplyFormStream(stream, form));
  return form;
}

TEST(FormStreams, ThisBuildsContactForm) {
  std::string stream = ReadStream("contact");
  FormObject root;
  ASSERT_TRUE(ReadFormStream(stream, root));
  EXPECT_EQ(root.className, "TKVContactForm");
  EXPECT_EQ(root.name, "ContactForm");
  EXPECT_EQ(root.children.size(), 8u);

  FormModel form = Built("ContactForm", stream);
  EXPECT_EQ(form.message, "Contact Information");
  EXPECT_EQ(form.onAction, "qelExcept.HandleContactForm");
  EXPECT_EQ(form.timer, 0);
  ASSERT_EQ(form.items.size(), 8u);
  EXPECT_EQ(Item(form, 0).caption, "Continue");
  EXPECT_EQ(Item(form, 1).caption, "Skip");
  EXPECT_FALSE(Item(form, 1).enabled);
  EXPECT_EQ(Item(form, 2).caption, "Cancel");
  EXPECT_EQ(Item(form, 3).kind, FormItemKind::Label);
  EXPECT_EQ(Item(form, 3).caption, "your name:");
  EXPECT_EQ(Item(form, 4).name, "NameEdit");
  EXPECT_TRUE(Item(form, 4).optional);
  EXPECT_EQ(Item(form, 4).outputName, "contact name");
  EXPECT_EQ(Item(form, 4).outputType, FormOutputType::Header);
  EXPECT_EQ(Item(form, 5).caption, "your email:");
  EXPECT_EQ(Item(form, 6).name, "EmailEdit");
  EXPECT_FALSE(Item(form, 6).optional);
  EXPECT_EQ(Item(form, 6).lines, 1);
  EXPECT_EQ(Item(form, 6).outputName, "contact email");
  EXPECT_EQ(Item(form, 7).kind, FormItemKind::CheckBox);
  EXPECT_EQ(Item(form, 7).name, "MemCheck");
  EXPECT_EQ(Item(form, 7).caption, "remember me");
  EXPECT_TRUE(Item(form, 7).outputName.empty());
}

TEST(FormStreams, ThisBuildsDetailsAndScreenshotForms) {
  FormModel details = Built("DetailsForm", ReadStream("details"));
  EXPECT_EQ(details.message, "Error Details");
  EXPECT_TRUE(details.onAction.empty());
  ASSERT_EQ(details.items.size(), 5u);
  EXPECT_TRUE(Item(details, 1).enabled);
  EXPECT_EQ(Item(details, 3).caption, "in which situation did the error occur?");
  EXPECT_EQ(Item(details, 4).name, "DetailsMemo");
  EXPECT_EQ(Item(details, 4).lines, 9);
  EXPECT_FALSE(Item(details, 4).optional);
  EXPECT_EQ(Item(details, 4).outputType, FormOutputType::OwnSection);
  EXPECT_EQ(Item(details, 4).outputName, "error details");

  FormModel shot = Built("ScrShotForm", ReadStream("scrshot"));
  EXPECT_EQ(shot.message, "Screenshot Configuration");
  EXPECT_EQ(shot.onAction, "qelExcept.HandleScreenshotForm");
  EXPECT_EQ(shot.timer, 250);
  EXPECT_EQ(shot.activeControl, "ContinueBtn");
  EXPECT_FALSE(Item(shot, 1).enabled);
  ASSERT_EQ(shot.items.size(), 6u);
  EXPECT_EQ(Item(shot, 3).name, "AttachCheck");
  EXPECT_EQ(Item(shot, 3).caption, "attach a screenshot to the bug report");
  EXPECT_TRUE(Item(shot, 3).checked);
  EXPECT_EQ(Item(shot, 4).kind, FormItemKind::Image);
  EXPECT_TRUE(Item(shot, 4).border);
  EXPECT_TRUE(Item(shot, 4).clickable);
  EXPECT_EQ(Item(shot, 5).caption, "(click to edit image)");
}

TEST(FormStreams, ObjectsAndPropertiesAsTheFrameworkWritesThem) {
  StreamWriter w;
  w.Object("TMyForm", "")
      .Str("Message", "Hello")
      .Int8("MinWidth", 100)
      .Str("Unknown", "ignored")
      .End();
  // Filer flags with a child position before the class name.
  w.Byte(0xf2).Byte(2).Byte(5).Object("INVButton", "AbortBtn").Str("Caption", "Stop").End().End();
  w.Object("XNVLabel", "Plain").End().End();
  w.Object("INVEdit", "Memo")
      .Str("Text", "one%LF%two%lf%")
      .Text("Lines").Byte(3).Byte(0x10).Byte(0x27)  // Int16 10000
      .Str("OutputType", "nvoOWNSECTION")
      .Text("Spacing").Byte(4).Raw(std::string("\x07\x00\x00\x00", 4))
      .End().End();
  w.Object("INVCheckBox", "Check").Str("Text", "from text").Bool("Checked", true).End().End();
  w.Object("INVButton", "Extra").Bool("Visible", false).End().End();
  w.End();
  FormModel form = Built("Named", w.Bytes());
  EXPECT_EQ(form.name, "Named");  // a form that has a name keeps it
  EXPECT_EQ(form.message, "Hello");
  EXPECT_EQ(form.minWidth, 100);
  ASSERT_EQ(form.items.size(), 7u);
  EXPECT_EQ(Item(form, kCancelButton).caption, "Stop");
  EXPECT_EQ(Item(form, 3).caption, "Plain");  // a label without caption shows its name
  EXPECT_EQ(Item(form, 4).text, "one\r\ntwo\r\n");
  EXPECT_EQ(Item(form, 4).lines, 10000);
  EXPECT_EQ(Item(form, 4).spacing, 7);
  EXPECT_EQ(Item(form, 4).outputType, FormOutputType::OwnSection);
  EXPECT_EQ(Item(form, 5).caption, "from text");
  EXPECT_TRUE(Item(form, 5).checked);
  EXPECT_EQ(Item(form, 6).kind, FormItemKind::Button);
  EXPECT_FALSE(Item(form, 6).visible);

  FormModel unnamed = Built("", w.Bytes());
  EXPECT_EQ(unnamed.name, "");  // the top object's name was empty too
}

TEST(FormStreams, EveryValueTypeReadsAsText) {
  StreamWriter w;
  w.Object("TForm", "F");
  w.Text("I64").Byte(19).Raw(std::string("\xff\xff\xff\xff\xff\xff\xff\xff", 8));
  w.Text("L").Byte(12).Raw(std::string("\x03\x00\x00\x00", 4)).Raw("abc");
  w.Text("U").Byte(20).Raw(std::string("\x02\x00\x00\x00", 4)).Raw("xy");
  w.Text("W").Byte(18).Raw(std::string("\x02\x00\x00\x00" "A\x00\x3a\x26", 8));
  w.Text("S").Byte(11).Text("a").Text("b").Text("");
  w.Text("Li").Byte(1).Byte(2).Byte(1).Byte(7).Text("x").Byte(0);
  w.Text("N").Byte(0);
  w.Text("Id").Byte(7).Text("nvoHeader");
  w.End().End();
  FormObject root;
  ASSERT_TRUE(ReadFormStream(w.Bytes(), root));
  ASSERT_EQ(root.properties.size(), 8u);
  EXPECT_EQ(root.properties[0].second, "-1");
  EXPECT_EQ(root.properties[1].second, "abc");
  EXPECT_EQ(root.properties[2].second, "xy");
  EXPECT_EQ(root.properties[3].second, "A?");
  EXPECT_EQ(root.properties[4].second, "[a,b]");
  EXPECT_EQ(root.properties[5].second, "(1,x)");
  EXPECT_EQ(root.properties[6].second, "");
  EXPECT_EQ(root.properties[7].second, "nvoHeader");
}

TEST(FormStreams, DamagedStreamsAreRefused) {
  std::string stream = ReadStream("contact");
  ASSERT_GT(stream.size(), 100u);
  for (size_t cut = 4; cut < stream.size(); ++cut) {
    FormModel form = EmptyFormModel("ContactForm");
    EXPECT_FALSE(ApplyFormStream(stream.substr(0, cut), form)) << "cut at " << cut;
  }
  FormObject root;
  EXPECT_FALSE(ReadFormStream(stream + "x", root));  // bytes after the top object
  std::string unknownType = StreamWriter().Object("TF", "F").Text("P").Byte(5).End().End().Bytes();
  EXPECT_FALSE(ReadFormStream(unknownType, root));
  StreamWriter deep;
  for (int i = 0; i < 18; ++i) deep.Object("TF", "F").End();
  for (int i = 0; i < 18; ++i) deep.End();
  EXPECT_FALSE(ReadFormStream(deep.Bytes(), root));
  EXPECT_FALSE(ReadFormStream(StreamWriter().Object("", "F").End().End().Bytes(), root));

  // Bytes that are no stream at all leave the form as it is.
  FormModel form = EmptyFormModel("Other");
  EXPECT_TRUE(ApplyFormStream("TPF", form));
  EXPECT_TRUE(ApplyFormStream("", form));
  EXPECT_EQ(form.items.size(), kPageButtonCount);
  EXPECT_EQ(Item(form, 0).caption, "Next >");
  EXPECT_EQ(Item(form, 0).name, "ContinueBtn");
  EXPECT_EQ(Item(form, 1).name, "SkipBtn");
  EXPECT_EQ(Item(form, 2).name, "CancelBtn");
}

TEST(FormRules, ResourceNamesAndTexts) {
  EXPECT_EQ(FormResourceName("ScrShotForm"), "TKVSCRSHOTFORM");
  EXPECT_EQ(InvalidFormResourceText("TKVDETAILSFORM"),
            "Internal error: Invalid assistant resource (TKVDETAILSFORM)");
  EXPECT_EQ(SenderAddress("Ann Lee", "ann@example.com"), "Ann Lee <ann@example.com>");
}

TEST(FormRules, EmailAddresses) {
  for (const char* good : {"a@b.c", "ann.lee@mail.example.com", "o'neil+x_y-z@b.co"})
    EXPECT_TRUE(IsAcceptableEmail(good)) << good;
  for (const char* bad : {"a@.b.c", ".a@b.c", "a@b.c.", "a @b.c", "@b.c", "a@bc", " a@b.c",
                          "a@b.c ", "", "a@b@c.d", "a(b)@c.d", "a"})
    EXPECT_FALSE(IsAcceptableEmail(bad)) << bad;
}

TEST(FormRules, ContinueNeedsEveryRequiredEditFilledAndValid) {
  FormItemModel edit;
  edit.kind = FormItemKind::Edit;
  EXPECT_FALSE(ItemAllowsContinue(edit, ""));
  EXPECT_TRUE(ItemAllowsContinue(edit, "x"));
  edit.valid = false;
  EXPECT_FALSE(ItemAllowsContinue(edit, "x"));
  edit.optional = true;
  EXPECT_TRUE(ItemAllowsContinue(edit, ""));
  FormItemModel check;
  check.kind = FormItemKind::CheckBox;
  EXPECT_TRUE(ItemAllowsContinue(check, ""));
}

TEST(FormLayout, WidthFromButtonsMinimumHeadingAndTitle) {
  FormWidthInput input;
  input.buttonWidths[0] = input.buttonWidths[1] = input.buttonWidths[2] = 75;
  EXPECT_EQ(FormWidth(input), 315);  // 257 for the buttons
  input.buttonWidths[1] = 150;
  EXPECT_EQ(FormWidth(input), 332);
  input.minWidth = 400;
  EXPECT_EQ(FormWidth(input), 400);
  input.headingWidth = 300;
  input.formCount = 3;
  EXPECT_EQ(FormWidth(input), 400);
  input.headingWidth = 350;
  EXPECT_EQ(FormWidth(input), 350 + 57 + 36);
  input.titleWidth = 500;
  EXPECT_EQ(FormWidth(input), 500 + kTitleExtra);
}

TEST(FormLayout, GapsBetweenItems) {
  LaidOutItem heading{FormItemKind::Label, true, 0, 0, 13};
  LaidOutItem label{FormItemKind::Label, false, 0, 0, 13};
  LaidOutItem edit{FormItemKind::Edit, false, 0, 0, 16};
  LaidOutItem check{FormItemKind::CheckBox, false, 0, 0, 17};
  LaidOutItem button{FormItemKind::Button, false, 0, 0, 23};
  LaidOutItem image{FormItemKind::Image, false, 0, 0, 50};
  EXPECT_EQ(GapBelow(heading, edit), 4);
  EXPECT_EQ(GapBelow(heading, heading), 4);
  EXPECT_EQ(GapBelow(edit, label), 12);
  EXPECT_EQ(GapBelow(edit, edit), 6);
  EXPECT_EQ(GapBelow(button, button), 4);
  EXPECT_EQ(GapBelow(check, check), 8);
  EXPECT_EQ(GapBelow(label, label), 8);
  EXPECT_EQ(GapBelow(image, image), 8);
  LaidOutItem spaced = edit;
  spaced.spacing = 30;
  EXPECT_EQ(GapBelow(spaced, label), 30);

  FormItemModel model;
  model.caption = "your name:";
  EXPECT_TRUE(IsHeadingLabel(model, true));
  EXPECT_FALSE(IsHeadingLabel(model, false));
  model.caption = "why?";
  EXPECT_TRUE(IsHeadingLabel(model, true));
  model.caption = "(click to edit image)";
  EXPECT_FALSE(IsHeadingLabel(model, true));
  model.caption = "why?";
  model.kind = FormItemKind::CheckBox;
  EXPECT_FALSE(IsHeadingLabel(model, true));
}

TEST(FormLayout, ItemsAndPageButtons) {
  EXPECT_EQ(EditHeight(13, 1), 15);
  EXPECT_EQ(EditHeight(13, 0), 15);
  EXPECT_EQ(EditHeight(13, 9), 119);
  EXPECT_EQ(EditWidth(315), 269);

  std::vector<LaidOutItem> items = {{FormItemKind::Label, true, 0, 100, 13},
                                    {FormItemKind::Edit, false, 0, 269, 15},
                                    {FormItemKind::CheckBox, false, 0, 100, 17}};
  PageButtonInput buttons;
  buttons.widths[0] = 80;
  buttons.widths[1] = 70;
  buttons.widths[2] = 75;
  buttons.height = 23;
  FormPlacement placement = PlaceForm(315, items, buttons);
  ASSERT_EQ(placement.items.size(), 3u);
  EXPECT_EQ(placement.items[0].y, 40);
  EXPECT_EQ(placement.items[0].x, 21);
  EXPECT_EQ(placement.items[1].y, 40 + 13 + 4);
  EXPECT_EQ(placement.items[2].y, 57 + 15 + 12);
  EXPECT_EQ(placement.height, 84 + 17 + 23 + 33);
  int32_t buttonY = placement.height - 23 - 8;
  // Skip enabled: Skip left, Continue beside Cancel at the right.
  EXPECT_EQ(placement.buttons[kSkipButton].x, 8);
  EXPECT_EQ(placement.buttons[kCancelButton].x, 315 - 75 - 8);
  EXPECT_EQ(placement.buttons[kContinueButton].x, 315 - 75 - 8 - 8 - 80);
  EXPECT_EQ(placement.buttons[kContinueButton].y, buttonY);

  buttons.skipEnabled = false;
  placement = PlaceForm(315, items, buttons);
  EXPECT_EQ(placement.buttons[kContinueButton].x, 8);
  EXPECT_EQ(placement.buttons[kSkipButton].x, 8 + 80 + 8);
  EXPECT_EQ(placement.buttons[kCancelButton].x, 315 - 75 - 8);

  placement = PlaceForm(315, {}, buttons);
  EXPECT_EQ(placement.height, 40 + 23 + 33);
}

}  // namespace
}  // namespace qx
