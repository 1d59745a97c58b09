// The widget back-ends of the leaf kinds: each class derives from its kind,
// owns the widgets that show it and its copy of the back-end style, and
// hears its widgets through the input-handler chain. Only user input raises
// kChanged: every setter holds the setting flag around the widget call.
// Loop thread only.
//
// One header per family, all included here: MuLeafWvw.h (what they share),
// MuButtonsWvw.h, MuEntriesWvw.h, MuSliderWvw.h, MuTextsWvw.h and
// MuSmallKindsWvw.h. The list's back-end is in MuContainersWvw.h.
#pragma once

#include "mui/MuButtonsWvw.h"
#include "mui/MuEntriesWvw.h"
#include "mui/MuLeafWvw.h"
#include "mui/MuSliderWvw.h"
#include "mui/MuSmallKindsWvw.h"
#include "mui/MuTextsWvw.h"
