// Trees on the UI model's widget back-ends for tests and fuzz targets: a
// dialog stand-in whose content is a canvas (hosted offscreen by a WvwHost,
// no X), and a layout with one element of every kind plus the items of a
// menu bar and a popup menu, as the automation channel sees them. Free of
// gtest; never linked into the program.
#pragma once

#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/MuiWvw.h"
#include "muimisc/ProgressBar.h"
#include "ui/Menu.h"
#include "wvw/WSmallControls.h"

namespace tltest {

class HostDialog : public mui::MuDialog {
public:
  HostDialog(const char* n, const char* t, const mui::Size& s, uint32_t f, mui::MuDialog* o, WindowHandle w)
    : MuDialog(n, t, s, f, o, w)
  {
    setCommon(std::make_unique<mui::MuCommonWvw>(this, &canvas));
  }
  ~HostDialog() override
  {
    destroyChildren();
    setCommon(nullptr);
  }
  void addChild(std::unique_ptr<mui::MuElement> e) override
  {
    canvas.addChild(mui::MuCommonWvw::getWidget(e.get(), true), nullptr);
    MuDialog::addChild(std::move(e));
  }
  void setTitle(const char*) override {}
  mui::Size workAreaSize() const override { return mui::Size(800, 600); }
  wvw::WCanvas canvas;
};

// Binds the widget back-ends (once per process), dialogs as HostDialogs.
inline void bindWvwHostDialogs()
{
  static mui::MuiWvw theMui;
  mui::Mui::setInstance(&theMui);
  mui::MuiWvw::bindFactories();
  mui::muDialogFactory = [](const char* n, const char* t, const mui::Size& s, uint32_t f, mui::MuDialog* o,
                            mui::MuDialog::WindowHandle w) -> std::unique_ptr<mui::MuDialog> {
    return std::make_unique<HostDialog>(n, t, s, f, o, w);
  };
}

// Layout "l" in parent: every kind in the order of their type words, with
// a password edit "pw", a slider over -5..5, two rows, items, pages and
// links, and in the scroll view a child that stretches with weight 3.
// Menus: Open, Operate and a checked Quit in File, a disabled About in
// Help; Alpha in the popup menu.
inline void buildEveryKind(mui::MuContainer* parent, plat::Markup::LinkCallback* links = nullptr)
{
  using namespace mui;
  MuLayout* l = MuLayout::create(parent, "l", MuLayout::kVertical);
  MuButton::create(l, "modal", "Modal", 0, 0, 1);
  MuCheck::create(l, "check", "C", 0, nullptr);
  MuChoice* choice = MuChoice::create(l, "choice", "Ch");
  MuEdit::create(l, "edit", "E", 0, 0);
  MuEdit::create(l, "pw", "P", MuEdit::kPassword, 0);
  MuImage::create(l, "image", "eyeOpen", Size(8, 8));
  MuLine::create(l, "line", true, false, 1);
  MuList* list = MuList::create(l, "list", 0, 0);
  MuSlider::create(l, "slider", 1)->setRange(-5, 5);
  MuStatic::create(l, "static", "S", 0);
  MuSuperbox::create(l, "superbox", "Sb", nullptr, 100);
  MuText::create(l, "text", "<a href=\"a\">a</a> <a href=\"b\">b</a>", links, 0);
  MuFrame::create(l, "frame", "F", 0);
  MuPager* pager = MuPager::create(l, "pager", 0);
  MuLayout* scrolled = MuLayout::create(MuScroll::create(l, "scroll", 0), "in", MuLayout::kVertical);
  MuSplitter::create(l, "splitter", 0, false, false);
  muimisc::ProgressBar::create(l, "progress");
  list->addColumn(0, 0, "c", 10);
  for (const char* item : {"x", "y"}) {
    list->insertRowWith(list->rowCount(), {item});
    choice->insertItem(list->rowCount(), item);
    MuLayout::create(pager, item, MuLayout::kVertical);
  }
  scrolled->setChildLayout(MuStatic::create(scrolled, "s3", "3", 0), MuLayout::kStretch, 3);
}

inline void fillMenus(ui::MenuBar& bar, ui::Menu& popup, ui::Menu::ActionCallback* callback)
{
  for (const char* label : {"Open", "Operate", "Quit"})
    bar.fileMenu()->insertItem(label, nullptr, nullptr, callback);
  bar.fileMenu()->leafItems()[2]->setChecked(1);
  bar.helpMenu()->insertItem("About", nullptr, nullptr, callback)->setEnabled(false);
  popup.insertItem("Alpha", nullptr, nullptr);
}

} // namespace tltest
