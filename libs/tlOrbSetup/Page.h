// The common base of the wizard's pages and the styled button they use.
//
// A page owns one vertical layout in the wizard dialog's page deck (named
// after the page, so automation paths read SetupDlg.<page>.<element>),
// observes the elements in it and reports its outcome to its host
// (PageHost.h), the wizard's dialog. The host owns its pages; a page
// borrows the host.
//
// A page the dialog has left for good is retired first and deleted on a
// later pass, so a page or package still on the stack is never deleted
// under itself; a retired page reports nothing more. Loop thread only.
#pragma once

#include <stdint.h>

#include "mui/MuElement.h"
#include "mui/Forward.h"
#include "plat/DString.h"
#include "tlOrbSetup/PageHost.h"

namespace tlOrbSetup {

class Page : public mui::MuObserver {
public:
  ~Page() override;
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  // Sets every translated text of the page (on selection and after a
  // language change).
  virtual void fillTexts() = 0;

  mui::MuLayout* root() const { return root_; }
  void retire() { retired_ = true; }
  bool retired() const { return retired_; }

protected:
  Page(PageHost* dlg, const char* name);

  PageHost* dlg_;
  mui::MuLayout* root_;

private:
  mui::MuPager* deck_;
  bool retired_ = false;
};

// A custom button with a blue or white background image, bold text and
// the grey image while disabled.
struct PageButton {
  enum Kind { kBlue = 0, kWhite = 1 };

  // Label empty until fillTexts sets it.
  void setup(mui::MuContainer* parent, const char* name, Kind kind);
  void enable(bool enabled);
  void label(const char* text);

  Kind kind = kBlue;
  mui::MuButton* button = nullptr;
};

// --- Parts the pages share -------------------------------------------------------

// n layout units in the model's metric.
int units(int n);
// A spacer of height units in a vertical layout.
void spacer(mui::MuLayout* layout, int height);
// Natural length, centred across.
void centred(mui::MuLayout* layout, mui::MuElement* child);
plat::DString escaped(const char* text);
// A centred division: markup as it is, or text escaped in a style.
plat::DString centredMarkup(const char* markup);
plat::DString centredText(const char* text, int size, int weight);

} // namespace tlOrbSetup
