// The process's one application loop: it runs until some component asks it
// to end with an exit status, then hands that status back to the program's
// entry.
//
// There is at most one os::AppLoop at a time, made and run on the main
// thread; os::AppLoop::exit may be called from any callback the loop runs.
// The loop owns its implementation: the plain one drives the select
// manager; the X-serving variant adds its event pump. Both reach the one
// process-wide select manager through os::AppLoop::selectManager(), made on
// first use and kept until exit. A stopped loop never runs again: a later
// run returns the stored status at once. Nested (modal) loops are not
// os::AppLoops; they run passes of the same manager themselves.
#pragma once

#include <memory>

namespace io {
class FdSelectManager;
}

namespace os {

class AppLoop {
public:
  // What actually runs the loop.
  class Impl {
  public:
    virtual ~Impl() = default;
    // Runs passes until quit; returns the process's exit status.
    virtual int run() = 0;
    // Makes run return after the pass in progress.
    virtual void quit() = 0;
  };

  // Becomes the process's loop (a second one is the fatal assertion
  // "!inst"). Null impl: an os::AppLoopImpl over selectManager().
  explicit AppLoop(std::unique_ptr<Impl> impl = nullptr);
  virtual ~AppLoop();
  AppLoop(const AppLoop&) = delete;
  AppLoop& operator=(const AppLoop&) = delete;

  // Replays the messages logged since start-up into the configured
  // destinations, then runs the implementation; its result.
  int run();

  // Stores status and ends the loop; the last status stored before run
  // returns wins. Fatal ("inst") when no loop exists.
  static void exit(int status);
  // The current loop, or null.
  static AppLoop* instance();
  // The process's select manager (current on the main thread once made).
  static io::FdSelectManager& selectManager();

private:
  std::unique_ptr<Impl> impl_;
};

// Runs passes of a select manager (borrowed; may be null) without limit.
class AppLoopImpl : public AppLoop::Impl {
public:
  explicit AppLoopImpl(io::FdSelectManager* manager) : manager_(manager) {}

  int run() override;
  void quit() override;

protected:
  // The status stored by the last AppLoop::exit (0 before any), which a
  // variant's run returns too.
  static int exitStatus();

  io::FdSelectManager* manager_;
  bool stop_ = false;
};

} // namespace os
