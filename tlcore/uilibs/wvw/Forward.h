// Forward declarations of the widget set's classes.
#pragma once

namespace tlutil {
class DragDropData;
class MouseCallback;
struct MouseEvent;
} // namespace tlutil

namespace wvw {
class Widget;
class WInputHandler;
class WMouseInputHandler;
class WParent;
class WRoot;
class WDragDropData;
class WLayout;
class WButton;
class WBevelButton;
class WIcon;
class WIconButton;
class WLabel;
class WLabelWithMnemonic;
class WLabelButton;
class WRichText;
class WTooltip;
class WEditMenu;
class WArrow;
class WCanvas;
class WCheckBox;
class WCustom;
class WImage;
class WSlider2D;
class WSlider;
class WDiscreteSlider;
class WMenu;
class WRootMenu;
class WMenuItem;
class WMenuBar;
class WEdit;
class WEditAutocomplete;
class WChoice;
class WArrowButton;
class WLabelWidget;
class WLabelCheckBox;
class WLabelChoice;
class WLabelEdit;
class WPanel;
class WScrollbar;
class WScrollView;
class WTable;
class WTab;
class WSheet;
class WTabSheets;
struct WStyle;
} // namespace wvw
