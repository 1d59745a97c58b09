// The one ordered shutdown of the process-wide singletons that are tied to
// the application loop or run threads of their own (signal handling, child
// processes, resolver threads, IPC logging). Each registers a step; the steps
// run once, in ascending order, either when the application calls
// shutdownSingletons() at the end of main or, at the latest, from an exit
// handler installed whenever a step is added to an empty sequence. Both
// come before the destruction of the static objects that existed when the
// step was added, so no step and no thread it stops meets a destroyed log
// source or parameter.
//
// Steps are added and run on the loop thread; a step added while the
// sequence runs is run in it too. A singleton made again after a shutdown
// adds its step again.
#pragma once

namespace plat {

// Where each kind of singleton stands in the sequence: the ones that feed
// the loop stop first, logging last.
enum ShutdownOrder {
  kShutdownSignals = 100,
  kShutdownChildren = 200,
  kShutdownResolvers = 300,
  kShutdownIpcLog = 400,
};

// Adds a step; the same step twice is kept once.
void addShutdownStep(int order, void (*step)());
// Runs and removes every registered step, lowest order first.
void shutdownSingletons();
// True once the shutdown at process exit has begun: an object destroyed
// then must not reach singletons whose steps have already run.
bool isExiting();

} // namespace plat
