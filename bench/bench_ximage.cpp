// Images on screen: a 560x460 put of a TXImage, through shared memory and
// plain, against bare XShmPutImage and XPutImage of a same-size XImage on
// the same window of an Xvfb of our own (each put waits for the server with
// XSync). The goal is 0.9 of the bare rate, a time ratio of at most 1.11,
// on the medians of interleaved repetitions.
#include <stdio.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <memory>

#include "bench_util.h"
#include "os/AppInfo.h"
#include "tx/TXImage.h"
#include "tx/TXUtil.h"
#include "tx/TXWindow.h"
#include "xvfb.h"

namespace {

constexpr int kWidth = 560, kHeight = 460;
tx::TXWindow* window;

void fill(uint8_t* p, size_t n)
{
  for (size_t i = 0; i < n; i++)
    p[i] = (uint8_t)(i * 7 + (i >> 11));
}

void oursPut(benchmark::State& state, tx::TXImage::Shm shm)
{
  tx::TXImage img(rfb::Point(kWidth, kHeight), nullptr, 0, shm);
  if ((shm == tx::TXImage::Shm::IfAvailable) != img.isShared())
    state.SkipWithError("not the kind of image asked for");
  fill(img.data, (size_t)img.stride * kHeight * img.bytesPerPixel());
  for (auto _ : state) {
    img.put(window->window(), img.rect);
    XSync(tx::display(), False);
  }
}

void BM_OursSharedPut(benchmark::State& state) { oursPut(state, tx::TXImage::Shm::IfAvailable); }
BENCHMARK(BM_OursSharedPut)->Repetitions(7);

void BM_OursPlainPut(benchmark::State& state) { oursPut(state, tx::TXImage::Shm::Never); }
BENCHMARK(BM_OursPlainPut)->Repetitions(7);

void BM_XShmPutImage(benchmark::State& state)
{
  Display* dpy = tx::display();
  Visual* visual = DefaultVisual(dpy, DefaultScreen(dpy));
  const int depth = DefaultDepth(dpy, DefaultScreen(dpy));
  XShmSegmentInfo info{};
  XImage* im = XShmCreateImage(dpy, visual, (unsigned)depth, ZPixmap, nullptr, &info, kWidth, kHeight);
  info.shmid = shmget(IPC_PRIVATE, (size_t)im->bytes_per_line * kHeight, IPC_CREAT | 0600);
  info.shmaddr = im->data = static_cast<char*>(shmat(info.shmid, nullptr, 0));
  XShmAttach(dpy, &info);
  XSync(dpy, False);
  shmctl(info.shmid, IPC_RMID, nullptr);
  fill(reinterpret_cast<uint8_t*>(im->data), (size_t)im->bytes_per_line * kHeight);
  for (auto _ : state) {
    XShmPutImage(dpy, window->window(), tx::defaultGC(), im, 0, 0, 0, 0, kWidth, kHeight, False);
    XSync(dpy, False);
  }
  XShmDetach(dpy, &info);
  XSync(dpy, False);
  shmdt(info.shmaddr);
  XDestroyImage(im);
}
BENCHMARK(BM_XShmPutImage)->Repetitions(7);

void BM_XPutImage(benchmark::State& state)
{
  Display* dpy = tx::display();
  Visual* visual = DefaultVisual(dpy, DefaultScreen(dpy));
  const int depth = DefaultDepth(dpy, DefaultScreen(dpy));
  XImage* im = XCreateImage(dpy, visual, (unsigned)depth, ZPixmap, 0, nullptr, kWidth, kHeight, 32, 0);
  im->data = static_cast<char*>(malloc((size_t)im->bytes_per_line * kHeight));
  fill(reinterpret_cast<uint8_t*>(im->data), (size_t)im->bytes_per_line * kHeight);
  for (auto _ : state) {
    XPutImage(dpy, window->window(), tx::defaultGC(), im, 0, 0, 0, 0, kWidth, kHeight);
    XSync(dpy, False);
  }
  XDestroyImage(im);
}
BENCHMARK(BM_XPutImage)->Repetitions(7);

} // namespace

int main(int argc, char** argv)
{
  tltest::Xvfb server;
  os::AppInfo::set("tlbench", "Tessaly", "tlbench", nullptr, nullptr);
  tx::openDisplay(server.display().c_str());
  window = new tx::TXWindow(kWidth, kHeight);
  window->map();
  tlbench::initialize(argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "560x460 shared put / XShmPutImage", "BM_OursSharedPut/repeats:7", "BM_XShmPutImage/repeats:7", 1.11);
  tlbench::printRatio(reporter, "560x460 plain put / XPutImage", "BM_OursPlainPut/repeats:7", "BM_XPutImage/repeats:7", 1.11);
  benchmark::Shutdown();
  delete window;
  return 0;
}
