// Forward declarations of the X layer's classes.
#pragma once

namespace tx {
class ErrorCatcher;
class XErrorException;
class PropertyData;
class EnumWindowsCallback;
class TXEventHandler;
class TXDeleteWindowCallback;
class TXWindow;
class TXImage;
class TXWParent;
class TXWRoot;
class TXDragDrop;
class TXDialog;
class TXMsgBox;
class TXDisplayManager;
class WindowWatcher;
} // namespace tx
