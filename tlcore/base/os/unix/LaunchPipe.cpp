#include "os/LaunchPipe.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "crypto/RandomStream.h"
#include "crypto/Sha.h"
#include "loc/Localize.h"
#include "os/AppInfo.h"
#include "os/NamedPipeListener.h"
#include "os/UnixIo.h"
#include "os/inheritedFd.h"
#include "os/paths.h"
#include "plat/Log.h"
#include "plat/Time.h"

namespace os {

plat::BoolParameter lppDebug("_lppDebug", "Ask a child started over a launch pipe for a debug log",
                             false);

namespace {

plat::LogSrc listenerLog("LaunchPipeListener");
plat::LogSrc namedLog("LaunchWithNamedPipe");

std::atomic<void (*)()> forkHook{nullptr};

void sha256(const unsigned char* data, int length, unsigned char (&out)[32])
{
  crypto::Sha sha(256, false);
  sha.update(length, data);
  sha.final(out, sizeof(out));
}

int hexValue(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// The debug log lives in the user's private temporary folder: at a fixed
// name in /tmp another user could plant a FIFO (hanging the child) or a
// link there first. A folder that is not private gets no log.
plat::String debugLogPath()
{
  if (!*AppInfo::getPathComp(true))
    return plat::String("/dev/null"); // no identity yet, so no folder
  try {
    return plat::format("%s/lppDebug.log", getTmpPath(nullptr).get());
  } catch (plat::Exception&) {
    return plat::String("/dev/null");
  }
}

// The first process waits for the middle one and leaves; the middle one
// starts a session and the grandchild; only the grandchild goes on.
void doubleFork()
{
  if (void (*hook)() = forkHook.load()) {
    hook();
    return;
  }
  pid_t pid = fork();
  if (pid < 0)
    throw plat::SystemException("fork", errno);
  if (pid > 0) {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    _exit(0);
  }
  setsid();
  pid = fork();
  if (pid < 0) {
    fprintf(stderr, "fork error %s\n", strerror(errno));
    _exit(1);
  }
  if (pid > 0)
    _exit(0);
}

bool allDigits(const char* s)
{
  if (!*s)
    return false;
  for (; *s; s++)
    if (*s < '0' || *s > '9')
      return false;
  return true;
}

} // namespace

ElevateCancelled::ElevateCancelled() : plat::Exception(LOC_TR("os_launchwithpipe_elevate_cancelled"))
{
  setType("ElevateCancelled");
}

LaunchFailed::LaunchFailed(const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setType("LaunchFailed");
}

// --- The launcher's side ----------------------------------------------------------

class LaunchPipeListener::Pipe : public NamedPipeListener {
public:
  using NamedPipeListener::NamedPipeListener;
  io::IoPtr acceptNow() { return acceptConnection(); }
};

LaunchPipeListener::LaunchPipeListener(LaunchProcess::Cfg& cfg, LaunchWithPipeCallback* callback)
  : cfg_(&cfg), callback_(callback)
{
  unsigned char number[4];
  {
    crypto::RandomStream random;
    random.readBytes(number, 4);
    random.readBytes(challenge_, 16);
    random.readBytes(challenge_ + 16, 16);
  }
  uint32_t pipeNumber = ((uint32_t)number[0] << 24) | ((uint32_t)number[1] << 16) |
                        ((uint32_t)number[2] << 8) | number[3];
  std::string user = cfg.asUid ? std::to_string((unsigned)cfg.asUid) : std::string();
  plat::String path = makeNamedPipePath("launchpipe", cfg.asUid ? user.c_str() : nullptr, nullptr,
                                        (long long)pipeNumber, -1);
  if (lppDebug)
    cfg.args.emplace_back("-lppDebug");
  unsigned char digest[32];
  sha256(challenge_, sizeof(challenge_), digest);
  char hex[65];
  for (int i = 0; i < 32; i++)
    snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  cfg.args.emplace_back("-hash");
  cfg.args.emplace_back(hex);
  cfg.args.emplace_back("-fork");
  cfg.args.push_back(path);
  cfg.args.insert(cfg.args.end(), cfg.extraArgs.begin(), cfg.extraArgs.end());
  cfg.extraArgs.clear();

  NamedPipeListener::Config config;
  config.path = path;
  config.owner = cfg.asUid ? (uint32_t)cfg.asUid : NamedPipeListener::kNoOwner;
  config.createDir = true;
  config.ownerOnly = true;
  pipe_.reset(new Pipe(config));
  if (callback_)
    pipe_->setAcceptor(this);
}

LaunchPipeListener::~LaunchPipeListener()
{
  memset(challenge_, 0, sizeof(challenge_));
}

const char* LaunchPipeListener::path() const
{
  return pipe_->getPath();
}

void LaunchPipeListener::sendChallenge(io::Io* io)
{
  io->out()->writeBytes(challenge_, sizeof(challenge_));
  io->out()->flush();
}

void LaunchPipeListener::ioAccept(io::IoPtr io)
{
  if (handedOn_) {
    // The child is connected: nobody else gets the challenge.
    listenerLog.error("Refused a second connection");
    io.release()->shutdown(io::Shutdown::kDrop);
    return;
  }
  handedOn_ = true;
  try {
    sendChallenge(io.get());
  } catch (plat::Exception& e) {
    if (e.getType()[0])
      listenerLog.error("ioAccept error: [%s] %s", e.getType(), e.str());
    else
      listenerLog.error("ioAccept error: %s", e.str());
    io.release()->shutdown(io::Shutdown::kDrop);
  }
  callback_->launched(std::move(io)); // may destroy this
}

bool LaunchPipeListener::waitReadable(int timeoutMs)
{
  return pipe_->waitReadable(timeoutMs);
}

io::IoPtr LaunchPipeListener::acceptIo(int timeoutMs)
{
  io::IoPtr io = pipe_->waitReadable(timeoutMs) ? pipe_->acceptNow() : io::IoPtr();
  if (!io)
    throw LaunchFailed("Launch failed: acceptIo() failed for %s",
                       cfg_->args.empty() ? "" : cfg_->args[0].str());
  sendChallenge(io.get());
  return io;
}

// --- The child's side -------------------------------------------------------------

#ifdef TL_TEST_HOOKS
void LaunchedProcessPipe::setForkForTest(void (*fork)())
{
  forkHook.store(fork);
}
#endif

void LaunchedProcessPipe::parseArgs(Args& args, char**& argv, int need)
{
  for (;;) {
    const char* a = *argv;
    if (!a)
      break;
    if (!strcmp(a, "-lppDebug")) {
      args.logPath = debugLogPath();
      argv++;
    } else if (!strcmp(a, "-hash")) {
      argv++;
      const char* h = *argv;
      size_t n = h ? strlen(h) : 0;
      if (!h || n == 0 || n % 2)
        throw plat::Exception("-hash argument bad or missing");
      std::vector<unsigned char> hash;
      for (size_t i = 0; i < n; i += 2) {
        int hi = hexValue(h[i]), lo = hexValue(h[i + 1]);
        if (hi < 0 || lo < 0)
          throw plat::Exception("-hash argument bad or missing");
        hash.push_back((unsigned char)(hi * 16 + lo));
      }
      args.hash = hash;
      argv++;
    } else if (!strcmp(a, "-fork")) {
      argv++;
      doubleFork();
    } else {
      break;
    }
  }
  const char* name = *argv;
  if (!name || name[0] == '-')
    throw plat::ExceptionFmt("Bad command-line: got %s instead of pipe name", name ? name : "<null>");
  args.pipeName = plat::String(name);
  argv++;
  for (int i = 0; i < need; i++) {
    if (!argv[i])
      throw plat::Exception(LOC_TR("plat_this_program_not_directly"));
  }
}

void LaunchedProcessPipe::redirectStderr(const Args& args)
{
  // Non-blocking: opening a FIFO would otherwise wait for a reader.
  int fd =
      open(args.logPath.str(),
           O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  struct stat st;
  // Only the user's own regular file is written, and kept private.
  if (fd >= 0 && strcmp(args.logPath.str(), "/dev/null") != 0 &&
      (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
       ((st.st_mode & 077) && fchmod(fd, 0600) != 0))) {
    close(fd);
    fd = -1;
  }
  if (fd >= 0)
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (fd < 0)
    fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (fd < 0)
    throw plat::SystemExceptionFmt(errno, "open(%s)", args.logPath.str());
  if (fd != 2) {
    while (dup2(fd, 2) < 0 && errno == EINTR) {
    }
    close(fd);
  }
}

io::IoPtr LaunchedProcessPipe::connect(Args& args, char**& argv, int need)
{
  if (*argv && !strcmp(*argv, "-dummy")) {
    argv++;
    return wrapInheritedFd(0);
  }
  parseArgs(args, argv, need);
  if (allDigits(args.pipeName.get()))
    return wrapInheritedFd(atoi(args.pipeName.get()));
  try {
    redirectStderr(args);
    char when[32];
    time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    strftime(when, sizeof(when), "%Y-%m-%d %H:%M:%SZ", &tm);
    fprintf(stderr, "%s: connecting to '%s'\n", when, args.pipeName.get());
    int fd = UnixIo::connectUnix(args.pipeName.get(), UnixIo::kStream);
    if (!args.hash.empty()) {
      unsigned char got[32];
      size_t have = 0;
      while (have < sizeof(got)) {
        ssize_t n = read(fd, got + have, sizeof(got) - have);
        if (n < 0 && errno == EINTR)
          continue;
        if (n <= 0)
          break;
        have += (size_t)n;
      }
      unsigned char digest[32];
      sha256(got, (int)have, digest);
      if (have != sizeof(got) || args.hash.size() != sizeof(digest) ||
          memcmp(args.hash.data(), digest, sizeof(digest)) != 0) {
        close(fd);
        throw plat::Exception("Bad hash");
      }
    }
    return io::IoPtr(new UnixIo(args.pipeName.get(), fd));
  } catch (plat::Exception& e) {
    fprintf(stderr, "%s\n", e.str());
    throw;
  }
}

// --- The elevated launch -------------------------------------------------------------

LaunchWithNamedPipe::LaunchWithNamedPipe(LaunchProcess::Cfg& cfg) : cfg_(&cfg), timer_(this) {}

LaunchWithNamedPipe::~LaunchWithNamedPipe()
{
  timer_.stop();
}

bool LaunchWithNamedPipe::start(bool async)
{
  PLAT_ASSERT_TEXT(!listener_ && !io_, "!lpl && !io");
  listener_.reset(new LaunchPipeListener(*cfg_, async ? this : nullptr));
  try {
    elevator_.reset(new LaunchProcess(*cfg_));
    elevator_->start();
  } catch (...) {
    elevator_.reset();
    listener_.reset();
    throw;
  }
  return true;
}

void LaunchWithNamedPipe::launchAsync(LaunchWithPipeCallback* callback)
{
  callback_ = callback;
  timer_.start(start(true) ? 100 : 0);
}

void LaunchWithNamedPipe::launched(io::IoPtr io)
{
  // The listener goes on the timer's pass, not inside its own callback.
  io_ = std::move(io);
  elevator_.reset();
  timer_.start(0);
}

bool LaunchWithNamedPipe::timerExpired(plat::Timer*)
{
  if (!io_ && elevator_ && elevator_->pid() >= 0) {
    try {
      int code = -1;
      if (!elevator_->wait(&code, 0))
        return true;
      elevator_.reset();
      if (code == 0) {
        timer_.start(5000);
        return false;
      }
    } catch (plat::Exception& e) {
      namedLog.error("handleTimeout error: %s", e.str());
      elevator_.reset();
    }
  }
  finish();
  return false;
}

void LaunchWithNamedPipe::finish()
{
  listener_.reset();
  LaunchWithPipeCallback* callback = callback_;
  callback_ = nullptr;
  if (callback)
    callback->launched(std::move(io_)); // may destroy this
}

io::IoPtr LaunchWithNamedPipe::launchSync()
{
  if (!start(false))
    throw ElevateCancelled();
  PLAT_ASSERT_TEXT(cfg_->elevate, "cfg->elevate");
  std::unique_ptr<LaunchPipeListener> listener = std::move(listener_);
  std::unique_ptr<LaunchProcess> elevator = std::move(elevator_);
  const char* program = cfg_->args.empty() ? "" : cfg_->args[0].str();
  plat::Time deadline = 0;
  for (;;) {
    if (listener->waitReadable(100))
      return listener->acceptIo(-1);
    if (!deadline) {
      int code = 0;
      if (elevator->pid() < 0 || elevator->wait(&code, 0)) { // detached: as ended well
        if (code != 0)
          throw LaunchFailed("Launch failed: elevate prog failed with status %d for %s", code,
                             program);
        deadline = plat::getMonoTime() + 5 * plat::kTicksPerSecond;
      }
    } else if (plat::getMonoTime() > deadline) {
      throw LaunchFailed("Launch failed: timed out waiting for %s", program);
    }
  }
}

} // namespace os
