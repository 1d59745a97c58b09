#include "mui/MuTexts.h"

#include <string.h>

#include "mui/Mui.h"
#include "plat/Markup.h"
#include "plat/MarkupParser.h"

namespace mui {

// --- Static text ------------------------------------------------------------

MuStatic* MuStatic::create(MuContainer* parent, const char* name, const char* text, uint32_t type)
{
  return createChild<MuStatic>(muStaticFactory, "muStaticFactory", parent, name, text, type);
}

MuStatic::MuStatic(MuContainer* parent, const char* name, const char* text, uint32_t type)
  : MuElement(parent, name, text), type_(type)
{
  if (type_ == kHeading)
    ensureStyle().weight = plat::Markup::Style::kBold;
}

const char* MuStatic::typeName() const
{
  return "static";
}

plat::DString MuStatic::getState() const
{
  static const char* const kTypes[] = {"Text",    "LeftText", "CenteredText", "RightText",
                                       "Heading", "Detail",   "Selectable"};
  plat::DString s = MuElement::getState();
  s.appendf("element Static\ntype %s\nbold %d\n", nameOf(kTypes, type_), effectiveStyle().weight >= 550 ? 1 : 0);
  return s;
}

void MuStatic::setText(const char* text, bool bold, bool singleLine)
{
  if (plat::strCmpNull(getLabel(), text) != 0)
    setLabelText(text);
  singleLine_ = singleLine;
  if (bold && type_ != kHeading)
    ensureStyle().weight = plat::Markup::Style::kBold;
}

// --- Marked-up text ---------------------------------------------------------

namespace {

// Collects the link targets of a markup text in order.
class LinkLister : public plat::Markup::Handler {
public:
  explicit LinkLister(std::vector<plat::String>& links) : links_(links) {}
  void beginParagraph(int, float, float) override {}
  void endParagraph(bool) override {}
  void text(const plat::Markup::Style&, const char*) override {}
  void link(const plat::Markup::Style&, const char* href, const char*) override
  {
    links_.emplace_back(href);
  }
  void endDocument() override {}

private:
  std::vector<plat::String>& links_;
};

} // namespace

MuText* MuText::create(MuContainer* parent, const char* name, const char* markup,
                       plat::Markup::LinkCallback* linkCallback, uint32_t flag)
{
  return createChild<MuText>(muTextFactory, "muTextFactory", parent, name, markup, linkCallback, flag);
}

MuText* MuText::createRightAligned(MuContainer* parent, const char* name, const char* text)
{
  plat::DString markup;
  plat::Markup::appendDivStart(markup, 2, nullptr);
  plat::Markup::appendEscaped(markup, text).append("</div>");
  return create(parent, name, markup.get(), nullptr, 0);
}

MuText* MuText::createBold(MuContainer* parent, const char* name, const char* text)
{
  plat::DString markup;
  plat::Markup::appendBold(markup, text, nullptr, plat::Markup::Style::kNormalSize);
  return create(parent, name, markup.get(), nullptr, 0);
}

MuText::MuText(MuContainer* parent, const char* name, const char* markup, plat::Markup::LinkCallback* linkCallback,
               uint32_t flag)
  : MuElement(parent, name, nullptr), linkCallback_(linkCallback), flag_(flag)
{
  MuText::setMarkup(markup);
}

const char* MuText::typeName() const
{
  return "text";
}

plat::DString MuText::getState() const
{
  plat::DString s = MuElement::getState();
  s.append("element Text\n");
  for (size_t i = 0; i < links_.size(); i++)
    s.appendf("%d %s\n", (int)i, links_[i].str());
  return s;
}

bool MuText::doAction(const char* action, const char* argument)
{
  int n = 0;
  if (strcmp(action, "click") != 0 || !intArgument(argument, &n) || !linkCallback_ || n < 0 ||
      n >= (int)links_.size())
    return false;
  linkCallback_->linkActivated(links_[n].str());
  return true;
}

void MuText::setMarkup(const char* markup)
{
  if (plat::strCmpNull(markup_.get(), markup) != 0)
    markup_ = plat::String(markup);
  links_.clear();
  if (markup && *markup) {
    LinkLister lister(links_);
    plat::Markup::ParserHtml::instance().parse(markup, &lister);
  }
}

void MuText::addLink(const char* target)
{
  links_.emplace_back(target);
}

} // namespace mui
