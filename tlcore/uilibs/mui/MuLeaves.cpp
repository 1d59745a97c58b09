#include "mui/MuLeaves.h"

#include "mui/MuContainer.h"
#include "mui/Mui.h"

namespace mui {

MuButton* MuButton::create(MuContainer* parent, const char* name, const char* label, uint32_t type,
                           uint32_t styleFlags, uint32_t alignment)
{
  return createChild<MuButton>(muButtonFactory, "muButtonFactory", parent, name, label, type, styleFlags,
                               alignment);
}

MuButton::MuButton(MuContainer* parent, const char* name, const char* label, uint32_t type, uint32_t styleFlags,
                   uint32_t alignment)
  : MuElement(parent, name, label), type_(type), styleFlags_(styleFlags), alignment_(alignment)
{
}

const char* MuButton::typeName() const
{
  return "button";
}

MuCheck* MuCheck::create(MuContainer* parent, const char* name, const char* label, uint32_t type,
                         MuCheck* radioPeer)
{
  return createChild<MuCheck>(muCheckFactory, "muCheckFactory", parent, name, label, type, radioPeer);
}

MuCheck::MuCheck(MuContainer* parent, const char* name, const char* label, uint32_t type, MuCheck* radioPeer)
  : MuElement(parent, name, label), type_(type), radioPeer_(radioPeer)
{
}

const char* MuCheck::typeName() const
{
  return "check";
}

MuChoice* MuChoice::create(MuContainer* parent, const char* name, const char* label)
{
  return createChild<MuChoice>(muChoiceFactory, "muChoiceFactory", parent, name, label);
}

MuChoice::MuChoice(MuContainer* parent, const char* name, const char* label) : MuElement(parent, name, label) {}

const char* MuChoice::typeName() const
{
  return "choice";
}

MuEdit* MuEdit::create(MuContainer* parent, const char* name, const char* label, uint32_t type, int option)
{
  return createChild<MuEdit>(muEditFactory, "muEditFactory", parent, name, label, type, option);
}

MuEdit::MuEdit(MuContainer* parent, const char* name, const char* label, uint32_t type, int option)
  : MuElement(parent, name, label), type_(type), option_(option)
{
}

const char* MuEdit::typeName() const
{
  return "edit";
}

MuImage* MuImage::create(MuContainer* parent, const char* name, const char* imageName, const Size& size)
{
  return createChild<MuImage>(muImageFactory, "muImageFactory", parent, name, imageName, size);
}

MuImage::MuImage(MuContainer* parent, const char* name, const char* imageName, const Size& size)
  : MuElement(parent, name, nullptr), imageName_(imageName), imageSize_(size)
{
}

const char* MuImage::typeName() const
{
  return "image";
}

MuLine* MuLine::create(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness)
{
  return createChild<MuLine>(muLineFactory, "muLineFactory", parent, name, horizontal, etched, thickness);
}

MuLine::MuLine(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness)
  : MuElement(parent, name, nullptr), horizontal_(horizontal), etched_(etched), thickness_(thickness)
{
}

const char* MuLine::typeName() const
{
  return "line";
}

MuList* MuList::create(MuContainer* parent, const char* name, uint32_t styleFlags, int option)
{
  return createChild<MuList>(muListFactory, "muListFactory", parent, name, styleFlags, option);
}

MuList::MuList(MuContainer* parent, const char* name, uint32_t styleFlags, int option)
  : MuElement(parent, name, nullptr), styleFlags_(styleFlags), option_(option)
{
}

const char* MuList::typeName() const
{
  return "list";
}

MuSlider* MuSlider::create(MuContainer* parent, const char* name, uint32_t direction)
{
  return createChild<MuSlider>(muSliderFactory, "muSliderFactory", parent, name, direction);
}

MuSlider::MuSlider(MuContainer* parent, const char* name, uint32_t direction)
  : MuElement(parent, name, nullptr), direction_(direction)
{
}

const char* MuSlider::typeName() const
{
  return "slider";
}

MuStatic* MuStatic::create(MuContainer* parent, const char* name, const char* text, uint32_t type)
{
  return createChild<MuStatic>(muStaticFactory, "muStaticFactory", parent, name, text, type);
}

MuStatic::MuStatic(MuContainer* parent, const char* name, const char* text, uint32_t type)
  : MuElement(parent, name, text), type_(type)
{
}

const char* MuStatic::typeName() const
{
  return "static";
}

MuSuperboxKeyHandler::~MuSuperboxKeyHandler() = default;

MuSuperbox* MuSuperbox::create(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
                               int popupHeight)
{
  return createChild<MuSuperbox>(muSuperboxFactory, "muSuperboxFactory", parent, name, label, keyHandler,
                                 popupHeight);
}

MuSuperbox::MuSuperbox(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
                       int popupHeight)
  : MuElement(parent, name, label), keyHandler_(keyHandler), popupHeight_(popupHeight)
{
}

const char* MuSuperbox::typeName() const
{
  return "superbox";
}

MuText* MuText::create(MuContainer* parent, const char* name, const char* markup,
                       plat::Markup::LinkCallback* linkCallback, uint32_t flag)
{
  return createChild<MuText>(muTextFactory, "muTextFactory", parent, name, markup, linkCallback, flag);
}

MuText::MuText(MuContainer* parent, const char* name, const char* markup, plat::Markup::LinkCallback* linkCallback,
               uint32_t flag)
  : MuElement(parent, name, nullptr), markup_(markup), linkCallback_(linkCallback), flag_(flag)
{
}

const char* MuText::typeName() const
{
  return "text";
}

// --- Spacer -----------------------------------------------------------------

MuSpacer* MuSpacer::create(MuContainer* parent, int width, int height)
{
  std::unique_ptr<MuSpacer> spacer(new MuSpacer(parent, width, height));
  MuSpacer* added = spacer.get();
  parent->addChild(std::move(spacer));
  return added;
}

MuSpacer::MuSpacer(MuContainer* parent, int width, int height)
  : MuElement(parent, nullptr, nullptr), preferred_(width, height)
{
}

void MuSpacer::setShown(bool shown)
{
  shown_ = shown;
}

bool MuSpacer::isShown() const
{
  return shown_;
}

void MuSpacer::setSize(const Size& size)
{
  size_ = size;
}

Size MuSpacer::getSize() const
{
  return shown_ ? size_ : Size();
}

void MuSpacer::setPosition(const rfb::Point& position)
{
  position_ = position;
}

rfb::Point MuSpacer::getPosition() const
{
  return position_;
}

int MuSpacer::preferredWidth(int) const
{
  return preferred_.x;
}

int MuSpacer::preferredHeight(int) const
{
  return preferred_.y;
}

const char* MuSpacer::typeName() const
{
  return "spacer";
}

plat::DString MuSpacer::getState() const
{
  const Size size = getSize();
  return plat::DString::format("%d,%d %dx%d", position_.x, position_.y, size.x, size.y);
}

} // namespace mui
