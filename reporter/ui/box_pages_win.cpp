// The exception box's report pages: the tab control kept in step with the report's
// sections, and the current page as a list view or, when its text has no columns, as a
// read-only edit control.
#include "exception_box_internal_win.h"

namespace qx {

namespace {

std::vector<ReportPart> PartsOf(IKVFields* fields) {
  std::vector<ReportPart> parts;
  if (fields == nullptr) return parts;
  fields->Lock();
  try {
    int32_t count = fields->ItemCount();
    for (int32_t i = 0; i < count; ++i) {
      std::string name = fields->ItemName(i);
      parts.push_back({name, fields->Content(name)});
    }
  } catch (...) {
  }
  fields->Unlock();
  return parts;
}

std::string TabCaptionAt(HWND tabs, int index) {
  char text[128] = {};
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(tabs, TCM_GETITEMA, index, reinterpret_cast<LPARAM>(&item));
  return text;
}

void InsertTab(HWND tabs, int index, const std::string& caption) {
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<char*>(caption.c_str());
  SendMessageA(tabs, TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item));
}

bool Wanted(const std::vector<ReportTab>& tabs, const std::string& caption) {
  for (const auto& tab : tabs)
    if (tab.caption == caption) return true;
  return false;
}

void SetCell(HWND list, int row, int column, const std::string& text) {
  LVITEMA item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text.c_str());
  if (column == 0)
    SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  else
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

}  // namespace

void TExceptionBox::CreateTabs() {
  tabs_ = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP,
                          0, 0, 0, 0, window_, nullptr, UiCodeModule(), nullptr);
  SendMessageA(tabs_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  images_ = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
}

void TExceptionBox::ReadReport(std::vector<ReportPart>& fields, std::vector<ReportPart>& sections) {
  ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception_->HeaderFields());
  ComPtr<IKVFields> parts = ComPtr<IKVFields>::Adopt(exception_->ReportSections());
  fields = PartsOf(header.Get());
  sections = PartsOf(parts.Get());
}

void TExceptionBox::SyncTabs() {
  if (tabs_ == nullptr || shuttingDown_) return;
  std::vector<ReportPart> fields, sections;
  ReadReport(fields, sections);
  std::vector<ReportTab> wanted = ReportTabs(sections);
  // Remove what is no longer wanted and insert what is missing, in order; the tabs that
  // stay keep their place, and with them the selection.
  for (size_t i = 0; i < wanted.size(); ++i) {
    for (;;) {
      int count = static_cast<int>(SendMessageA(tabs_, TCM_GETITEMCOUNT, 0, 0));
      if (static_cast<int>(i) >= count) {
        InsertTab(tabs_, static_cast<int>(i), wanted[i].caption);
        break;
      }
      std::string caption = TabCaptionAt(tabs_, static_cast<int>(i));
      if (caption == wanted[i].caption) break;
      if (!Wanted(wanted, caption)) {
        SendMessageA(tabs_, TCM_DELETEITEM, i, 0);
        continue;
      }
      InsertTab(tabs_, static_cast<int>(i), wanted[i].caption);
      break;
    }
  }
  while (static_cast<int>(SendMessageA(tabs_, TCM_GETITEMCOUNT, 0, 0)) > static_cast<int>(wanted.size()))
    SendMessageA(tabs_, TCM_DELETEITEM, wanted.size(), 0);
  tabList_ = std::move(wanted);
  if (SendMessageA(tabs_, TCM_GETCURSEL, 0, 0) < 0) SendMessageA(tabs_, TCM_SETCURSEL, 0, 0);
  ShowPage(fields, sections);
}

void TExceptionBox::ShowPage(const std::vector<ReportPart>& fields,
                             const std::vector<ReportPart>& sections) {
  int index = static_cast<int>(SendMessageA(tabs_, TCM_GETCURSEL, 0, 0));
  if (index < 0 || index >= static_cast<int>(tabList_.size())) return;
  const ReportTab& tab = tabList_[index];
  std::string text = PageText(tab, fields, sections);
  if (content_ != nullptr && index == currentTab_ && tab.caption == currentCaption_ &&
      text == currentText_)
    return;
  currentTab_ = index;
  currentCaption_ = tab.caption;
  currentText_ = text;
  ListPage page = BuildListPage(tab, text);
  DestroyContent();
  if (page.columns.empty())
    FillEdit(text);
  else
    FillList(page);
}

RECT TExceptionBox::ContentRect() {
  RECT area;
  GetWindowRect(tabs_, &area);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&area), 2);
  SendMessageA(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  return area;
}

void TExceptionBox::DestroyContent() {
  if (content_ != nullptr) DestroyWindow(content_);
  content_ = nullptr;
}

void TExceptionBox::FillEdit(const std::string& text) {
  RECT area = ContentRect();
  content_ = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                 ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                             area.left, area.top, area.right - area.left, area.bottom - area.top,
                             window_, nullptr, UiCodeModule(), nullptr);
  SendMessageA(content_, WM_SETFONT, reinterpret_cast<WPARAM>(reportFont_), FALSE);
  SetWindowTextA(content_, text.c_str());
  SetWindowPos(content_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void TExceptionBox::FillList(const ListPage& page) {
  RECT area = ContentRect();
  content_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                             WS_CHILD | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                 LVS_NOSORTHEADER,
                             area.left, area.top, area.right - area.left, area.bottom - area.top,
                             window_, nullptr, UiCodeModule(), nullptr);
  SendMessageA(content_, WM_SETFONT, reinterpret_cast<WPARAM>(reportFont_), FALSE);
  SendMessageA(content_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  if (images_ != nullptr)
    SendMessageA(content_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_));
  SendMessageA(content_, WM_SETREDRAW, FALSE, 0);
  for (size_t c = 0; c < page.columns.size(); ++c) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = page.columns[c].rightAligned ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.pszText = const_cast<char*>(page.columns[c].title.c_str());
    column.iSubItem = static_cast<int>(c);
    SendMessageA(content_, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&column));
  }
  for (size_t r = 0; r < page.rows.size(); ++r)
    for (size_t c = 0; c < page.rows[r].size() && c < page.columns.size(); ++c)
      SetCell(content_, static_cast<int>(r), static_cast<int>(c), page.rows[r][c]);
  for (size_t c = 0; c < page.columns.size(); ++c) {
    SendMessageA(content_, LVM_SETCOLUMNWIDTH, c, LVSCW_AUTOSIZE);
    int byContent = static_cast<int>(SendMessageA(content_, LVM_GETCOLUMNWIDTH, c, 0));
    SendMessageA(content_, LVM_SETCOLUMNWIDTH, c, LVSCW_AUTOSIZE_USEHEADER);
    int byHeader = static_cast<int>(SendMessageA(content_, LVM_GETCOLUMNWIDTH, c, 0));
    if (byContent > byHeader) SendMessageA(content_, LVM_SETCOLUMNWIDTH, c, byContent);
  }
  SendMessageA(content_, WM_SETREDRAW, TRUE, 0);
  SetWindowPos(content_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
}

}  // namespace qx
