// The small controls: the triangle arrow, the canvas (a layout with a plain
// background, the content of every dialog window), the check box and radio
// button, the widget painted and sized by a callback, and the named image.
// The sliders are in WSlider.h.
//
// Ownership: a check box and an image own their named images through
// shared handles of the image cache; a custom widget borrows its callback,
// drag source and drag parent. Loop thread only.
#pragma once

#include <memory>

#include "plat/SharedHandle.h"
#include "tlutil/NamedImage.h"
#include "tlutil/ScaledPixelBuffer.h"
#include "wvw/WButton.h"

namespace wvw {

class WArrow : public Widget {
public:
  enum Direction : uint32_t { kLeft = 0, kRight = 1, kUp = 2, kDown = 3 };

  explicit WArrow(uint32_t direction) : direction_(direction) {}

  // Repaints only on a change.
  virtual void setMargin(int margin);
  int getMargin() const { return margin_; }
  uint32_t getDirection() const { return direction_; }

  rfb::Point preferredSize() override { return rfb::Point(4, 4); }
  bool wantsFocus() override { return false; }
  bool enabledChanged(Widget* source) override;
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  uint32_t direction_;
  int margin_ = 2;
};

class WCanvas : public WLayout {
public:
  WCanvas() : WLayout(PointerRouting::ToChildren) {}
  void paint(rfb::WritablePixelBuffer& pb) override;
};

// A check box (tick glyph), a radio button (dot glyph in a round bevel) or
// an image check box, each with three states.
class WCheckBox : public WButton {
public:
  enum State : uint32_t { kOff = 0, kOn = 1, kIndeterminate = 2 };
  static const uint8_t kCheckBits[8];
  static const uint8_t kDotBits[8];

  // "WCheck_check", "WCheck_dot" or the base name of the images
  // "off-<name>", "on-<name>" and "ind-<name>".
  WCheckBox(const char* styleName, uint32_t state);
  ~WCheckBox() override;

  // On a change: repaint and valueChanged.
  void setState(uint32_t state);
  uint32_t getState() const { return state_; }
  bool isRadio() const { return radio_; }
  const uint8_t* getGlyph() const { return glyph_; }

  bool activated(Widget* source) override;
  bool focusChanged(bool backward, Widget* source) override;
  bool enabledChanged(Widget* source) override;
  rfb::Point preferredSize() override { return imageSize_; }
  void paint(rfb::WritablePixelBuffer& pb) override;

  static constexpr int kBox = 10;

private:
  uint32_t state_;
  const uint8_t* glyph_ = nullptr;
  bool radio_ = false;
  plat::SharedHandle<tlutil::NamedImagePixelBuffer> offImage_, onImage_, indImage_;
  rfb::Point imageSize_{16, 16};
};

class WCustom : public WLayout {
public:
  class Callback {
  public:
    virtual ~Callback();
    virtual void paint(WCustom* widget, rfb::WritablePixelBuffer& pb) = 0;
    virtual rfb::Point preferredSize(WCustom* widget) = 0;
    virtual bool wantsFocus(WCustom* widget) = 0;
  };
  // What a custom widget that is a drag source or drop target asks.
  class DragSource {
  public:
    virtual ~DragSource();
    virtual bool canStartDrag(WCustom* widget, const rfb::Point& at) = 0;
    virtual void fillDragData(WCustom* widget, WDragDropData& data) = 0;
    virtual bool canDropAt(WCustom* widget, WDragDropData* data, const rfb::Point& at) = 0;
  };
  class DragListener {
  public:
    virtual ~DragListener();
    // Sizes and draws the drag image into image (32-bit RGB).
    virtual void drawDragImage(WCustom* widget, WDragDropData& data, rfb::ManagedPixelBuffer& image) = 0;
  };

  // callback, dragSource and dragParent are borrowed.
  WCustom(Callback* callback, PointerRouting routing, DragSource* dragSource = nullptr,
          WParent* dragParent = nullptr);
  ~WCustom() override;

  // A drop is accepted when the offered type's text is one of acceptedTypes,
  // a list that ends with a null; both stay borrowed.
  void setDragSource(const char* typeName, const char* const* acceptedTypes, DragListener* listener);

  void paint(rfb::WritablePixelBuffer& pb) override { callback_->paint(this, pb); }
  rfb::Point preferredSize() override { return callback_->preferredSize(this); }
  bool wantsFocus() override { return callback_->wantsFocus(this); }

  bool buttonDown(int button, Widget* source) override;
  bool buttonUp(int button, Widget* source) override;
  bool pointerMoved(const rfb::Point& position, Widget* source) override;
  bool canDrop(WDragDropData* data) override;
  bool dragOver(WDragDropData* data, const rfb::Point& position) override;
  void dragEnded() override;

private:
  struct Drag {
    const char* typeName = nullptr;
    const char* const* acceptedTypes = nullptr;
    DragListener* listener = nullptr;
    tlutil::DragThreshold threshold;
    bool pressed = false;
  };

  Callback* callback_;
  DragSource* dragSource_;
  std::unique_ptr<Drag> drag_;
  WParent* dragParent_;
};

class WImage : public Widget {
public:
  // With a name, setImage(name, flags) at once.
  explicit WImage(const char* name = nullptr, int flags = 0);
  ~WImage() override;

  // True when the image has an area; null removes the image (true).
  bool setImage(const char* name, int flags = 0);
  rfb::PixelBuffer* getImage() const { return image_; }
  // 0 start, 1 centre, 2 end.
  void setAlignment(int hAlign, int vAlign);
  void setTile(bool tile);

  rfb::Point preferredSize() override;
  bool wantsFocus() override { return false; }
  bool enabledChanged(Widget* source) override;
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  rfb::PixelBuffer* image_ = nullptr;
  plat::SharedHandle<tlutil::NamedImagePixelBuffer> handle_;
  int hAlign_ = 1;
  int vAlign_ = 1;
  bool tile_ = false;
};

} // namespace wvw
