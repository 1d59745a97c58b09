// An information panel inside a page: a coloured frame with a status icon,
// a marked-up text and an optional link of its own ("app://infoframe//"
// and the frame's name), hidden while it has no text.
//
// The elements belong to the parent container; the record keeps pointers to
// them and removes its frame from the parent when it goes. The link
// callback is not owned. Loop thread only.
#pragma once

#include <stdint.h>

#include "mui/Forward.h"

namespace plat {
namespace Markup {
class LinkCallback;
}
} // namespace plat

namespace mui {

class MuInfoFrame {
public:
  enum Kind : int { kSuccess = 1, kWarning, kError, kLocked, kDefault, kPreference };

  // frameType: a MuFrame type.
  MuInfoFrame(MuContainer* parent, const char* name, plat::Markup::LinkCallback* linkCallback,
              uint32_t frameType);
  ~MuInfoFrame();
  MuInfoFrame(const MuInfoFrame&) = delete;
  MuInfoFrame& operator=(const MuInfoFrame&) = delete;

  // text is markup; null hides the frame. linkText (may be null) adds the
  // frame's link below the text.
  void setInfo(int kind, const char* text, const char* linkText);
  void setShown(bool shown);
  // The icon image of a kind; kinds out of 1 to 6 notify.
  static const char* iconName(int kind);

  MuFrame* frame() const { return frame_; }
  MuText* text() const { return text_; }
  MuText* link() const { return link_; }
  MuImage* icon() const { return icon_; }

private:
  plat::Markup::LinkCallback* linkCallback_;
  MuContainer* parent_;
  MuFrame* frame_;
  MuLayout* split_;
  MuImage* icon_;
  MuLayout* textLayout_;
  MuText* text_;
  MuSpacer* linkSpacer_ = nullptr;
  MuText* link_ = nullptr;
};

} // namespace mui
