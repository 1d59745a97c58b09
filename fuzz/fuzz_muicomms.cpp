// The automation channel's line handler over arbitrary bytes, on the widget
// back-ends: dialog "all" hosted offscreen with every element kind, a menu
// bar and popup menu "pop" (made anew for each input). It may not crash;
// every reply is valid UTF-8 and ends with an empty line.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "mui/MuMenuBarWvw.h"
#include "mui/MuiComms.h"
#include "muiWvwTree.h"
#include "plat/Configuration.h"
#include "plat/utf8.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "ui/MenuWvw.h"
#include "wvwhost.h"

namespace {

struct Sink : ui::MenuActionCallback, plat::Markup::LinkCallback {
  void action(ui::Menu::Item*) override {}
  bool linkActivated(const char*) override { return true; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  static const bool bound = (plat::ppmm.setParam(4, plat::kPriorityPolicy), tltest::bindWvwHostDialogs(), true);
  (void)bound;
  Sink sink;
  tltest::WvwHost host(rfb::Point(700, 500));
  std::unique_ptr<mui::MuDialog> dialog(mui::MuDialog::create("all", "All", mui::Size(1400, 1000), 0, nullptr, nullptr));
  host.setContent(&static_cast<tltest::HostDialog*>(dialog.get())->canvas);
  tltest::buildEveryKind(dialog.get(), &sink);
  mui::MuMenuBarWvw* bar = mui::MuMenuBarWvw::create(dialog.get(), &sink);
  wvw::WRootMenu popupWidget(wvw::WMenu::CheckColumn::Yes, &host, wvw::WMenu::Mnemonics::Hidden, nullptr);
  ui::MenuWvw popup(&popupWidget, &sink);
  auto registered = mui::MuPopupMenu::registry().emplace("pop", &popup);
  tltest::fillMenus(*bar, popup, &sink);
  dialog->setShown(true);
  dialog->setSize(mui::Size(1400, 1000));

  rdr::MemInStream in(data, size);
  rdr::MemOutStream out;
  plat::DString line;
  try {
    mui::MuiComms::serve(in, out, line);
  } catch (rdr::EndOfStream&) {
  } catch (rdr::StringTooLongException&) {
  }
  mui::MuPopupMenu::registry().erase(registered);
  out.nulTerminate();
  const char* text = (const char*)out.data();
  const size_t length = strlen(text);
  if (!plat::isValidUtf8(text) || (length && text[length - 1] != '\n'))
    abort();
  return 0;
}
