// What the setup engine needs from the user interface above it: modal
// message boxes and the kind of desktop the user runs. The wizard's front
// end implements it and registers it at start-up; a test program registers
// its own scripted answers.
//
// Loop thread only. The registration borrows the implementation and puts
// the previous one back when it ends, so registrations nest. Without one,
// message boxes are logged and answered "No" (nothing is asked, nothing is
// changed), and no desktop is detected.
#pragma once

namespace tlOrbSetup {

class EngineUi {
public:
  // Style bits as the UI model's message box takes them.
  enum Style : int {
    kButtonsOk = 0,
    kButtonsYesNo = 4,
    kIconError = 0x10,
    kIconQuestion = 0x20,
  };
  enum class TextKind { kPlain, kMarkup };

  virtual ~EngineUi() = default;
  // Shows a modal message box; true when OK or Yes was chosen. Links in
  // markup open through the process's open-URL callback.
  virtual bool messageBox(const char* text, int style, TextKind kind) = 0;
  // The detected desktop kind (8 and 9 are GNOME); 0 when none is known.
  virtual int detectDesktopKind() = 0;

  class Registration {
  public:
    explicit Registration(EngineUi* ui);
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

  private:
    EngineUi* previous_;
  };

  // The registered implementation, or the headless default.
  static EngineUi& get();
};

} // namespace tlOrbSetup
