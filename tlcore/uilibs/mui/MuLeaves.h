// The leaf kinds: the controls of a dialog. Each is built through its
// factory by the bound back-end, which derives from the kind; a kind's
// create operation adds the new element to its parent, which owns it from
// then on. The model part of each kind answers what the automation channel
// and the application see: its type word, its state lines, the named actions
// it accepts and the events they raise. An action is refused (false) while
// the element is disabled or locked, unless the kind says otherwise, and a
// value it changes is set through the kind's operation and then announced
// with kChanged, as a user's input would be.
//
// Where the widget holds a value (a check's state, an edit's text, the items
// of a choice) the operation is pure here and the back-end answers it. The
// spacer needs no back-end: it keeps its own geometry. Loop thread only.
//
// The kinds are declared one family to a header, all included here:
// MuButtons.h (button, check), MuEntries.h (edit, choice, superbox),
// MuList.h, MuSlider.h, MuTexts.h (static and marked-up text) and
// MuSmallKinds.h (image, line, spacer).
#pragma once

#include "mui/MuButtons.h"
#include "mui/MuEntries.h"
#include "mui/MuList.h"
#include "mui/MuSlider.h"
#include "mui/MuSmallKinds.h"
#include "mui/MuTexts.h"
