// A resolver that sends each lookup as the named message "IpResolve" to a
// server that does the blocking work and answers "IpResolveResult" in
// request order, and the one kind of server used here: a worker thread
// "IpResolveThread" at the other end of a socket pair.
//
// io::IpResolverIpc belongs to the loop thread. Numeric addresses are
// answered without the server; the server is started by the first request
// that needs it and the connection is closed when the last pending answer
// has arrived. All answers, failures included, are delivered from a later
// pass of the loop. io::IpResolveServer lives wherever its channel does
// (the worker thread) and touches nothing else.
#pragma once

#include <deque>
#include <memory>

#include "io/Io.h"
#include "io/IpResolver.h"
#include "io/MsgIpc.h"
#include "plat/Thread.h"
#include "plat/Timer.h"

namespace io {

class IpResolverIpc : public IpResolver,
                      public MsgIpc::Reader,
                      public MsgIpc::Callback,
                      public plat::Timer::Callback {
public:
  using Callback = IpResolver::Callback;

  IpResolverIpc();
  // Tells the callbacks of unanswered requests resolverGone().
  ~IpResolverIpc() override;

  void resolve(Callback* callback, const char* host, int port, int family) override;
  void cancel(Callback* callback) override;
  int pendingCount() override;

  bool readMsg(const char* name, rdr::FramedInStream& in, MsgIpc* ipc) override;
  void closed(MsgIpc* ipc) override;
  bool timerExpired(plat::Timer* timer) override;

protected:
  // Connects ipc_ to a running server; throws plat::Exception on failure.
  virtual void launchServer() = 0;
  // Closes the connection to the server without telling anyone; the
  // server sees the end at once.
  void closeChannel();

  MsgIpc ipc_;

private:
  // An answer known without the server: addresses, or an error.
  struct Ready {
    Callback* callback;
    IpInfoList addresses;
    std::unique_ptr<plat::Exception> error;
  };

  void failLater(Callback* callback, std::unique_ptr<plat::Exception> error);

  std::deque<Callback*> pending_;
  std::deque<Ready> ready_;
  plat::Timer failTimer_;
  plat::Timer readyTimer_;
};

// Answers "IpResolve" messages on the channel it is registered with
// (borrowed); unregisters when destroyed.
class IpResolveServer : public MsgIpc::Reader {
public:
  explicit IpResolveServer(MsgIpc* channel);
  ~IpResolveServer() override;

  bool readMsg(const char* name, rdr::FramedInStream& in, MsgIpc* channel) override;
};

// The resolver whose server runs on a thread of its own, started per burst
// of requests. Loop thread only; the worker shares only the socket pair and
// a small state record with it.
class IpResolverViaThread : public IpResolverIpc, private plat::ThreadRunner {
public:
  IpResolverViaThread();
  // Closes the connection, which ends the worker, and joins it; a worker
  // still blocked in a lookup is left behind, to be reaped later or settled
  // by the shutdown sequence.
  ~IpResolverViaThread() override;

  // What the owner and its worker share: the worker's end of the socket
  // pair until the worker takes it, and the worker's phase, which tells the
  // owner whether it may wait for the worker or must leave it (see the
  // .cpp).
  struct WorkerState;

protected:
  void launchServer() override;

private:
  void run(plat::Thread* thread) override;
  // Ends the current worker: joined when it can finish, else abandoned.
  void stopWorker();

  IoPtr ourEnd_;
  plat::Thread* thread_ = nullptr;
  std::shared_ptr<WorkerState> workerState_;
};

namespace detail {
// Called by io::resolveSync around the blocking lookup. On a resolver
// worker they record the phase, and park the worker for good once the
// shutdown sequence has stopped waiting for it.
void lookupStarting();
void lookupFinished();
} // namespace detail

} // namespace io
