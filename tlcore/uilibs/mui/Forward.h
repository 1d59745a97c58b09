// Forward declarations of the UI model's classes.
#pragma once

namespace mui {
class Mui;
class MuObserver;
class MuCommon;
class MuLayoutCheckObserver;
class MuElement;
class MuContainer;
class MuContainerSingle;
class MuDialog;
class MuLayout;
class MuSpacer;
class MuButton;
class MuCheck;
class MuChoice;
class MuEdit;
class MuImage;
class MuLine;
class MuList;
class MuSlider;
class MuStatic;
class MuSuperbox;
class MuSuperboxKeyHandler;
class MuText;
class MuFrame;
class MuPager;
class MuScroll;
class MuSplitter;
class MuPopupMenu;
class MuAutoHider;
class MuAutoHiderCallback;
class MuAnimation;
class MuSpinner;
class MuButtonBar;
class MuMessageBox;
class MuInfoFrame;
} // namespace mui

namespace muimisc {
class ProgressBar;
} // namespace muimisc
