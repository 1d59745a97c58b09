// A canvas of everyday widgets in the current language, for screenshots of
// hosting windows and for the repaint benchmark.
#pragma once

#include "loc/Localize.h"
#include "wvw/WLabel.h"
#include "wvw/WLabelWidget.h"
#include "wvw/WSmallControls.h"

namespace tltest {

struct DemoWidgets {
  wvw::WCanvas canvas;
  wvw::WPanel panel{LOC_TR("ui_wfiledialog_path")};
  wvw::WLabel text{LOC_TR("ui_getfileorfolderdialog_no_selection")};
  wvw::WLabelEdit edit{LOC_TR("ui_wfiledialog_path"), 64};
  wvw::WLabelCheckBox check{LOC_TR("ui_wfiledialog_show_hidden"), "WCheck_check", wvw::WCheckBox::kOn};
  wvw::WLabelButton back{LOC_TR("ui_button_back")};
  wvw::WLabelButton next{LOC_TR("ui_button_next")};
  wvw::WLabelButton cancel{LOC_TR("ui_button_cancel")};

  // Laid out in w x h.
  DemoWidgets(int w, int h)
  {
    canvas.setSize(rfb::Point(w, h));
    canvas.addChildRect(&panel, rfb::Rect(10, 10, w - 10, h - 50), nullptr);
    canvas.addChildRect(&text, rfb::Rect(20, 30, w - 20, 70), nullptr);
    canvas.addChildRect(&edit, rfb::Rect(20, 80, w - 20, 110), nullptr);
    canvas.addChildRect(&check, rfb::Rect(20, 120, w - 20, 145), nullptr);
    wvw::WLabelButton* buttons[] = {&back, &next, &cancel};
    for (int i = 0; i < 3; i++)
      canvas.addChildRect(buttons[i], rfb::Rect(w - 280 + 90 * i, h - 38, w - 200 + 90 * i, h - 13), nullptr);
  }
};

} // namespace tltest
