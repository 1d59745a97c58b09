// The pages of the installation road and its two ends: the legal notice
// with the install button, the download with its progress, the package
// tool's run through the elevated helper, the simple launch page and the
// error page. Each reports to the wizard dialog, which owns the package
// that does the work. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>

#include "plat/Exception.h"
#include "plat/Markup.h"
#include "plat/String.h"
#include "tlOrbSetup/Page.h"
#include "tlOrbSetup/Pkg.h"

namespace mui {
class MuMessageBox;
}
namespace muimisc {
class ProgressBar;
}

namespace tlOrbSetup {

// The download bar: 0 while the total is unknown (0 or less), else done
// of total rounded to nearest in 0 .. 65535, without overflow.
uint16_t downloadBarValue(int64_t done, int64_t total);
// The install bar after n output bytes: from 6553 towards, never reaching,
// 65534.
uint16_t installBarValue(int32_t n);
// n + length, held at INT32_MAX; negative lengths add nothing.
int32_t addSaturating(int32_t n, int length);

// The last kMaxKept bytes of a stream of output, preceded on request by a
// line saying how many earlier bytes were left out.
class OutputTail {
public:
  static const size_t kMaxKept = 64 * 1024;
  void append(const char* bytes, size_t length);
  std::string text() const;

private:
  std::string kept_;
  uint64_t dropped_ = 0;
};

class InitialPage : public Page {
public:
  explicit InitialPage(PageHost* dlg);
  void fillTexts() override;
  void activated(mui::MuElement* source, uint32_t code) override;

private:
  plat::LinkCbOpenUrl openUrl_;
  mui::MuText* eula_;
  PageButton install_;
};

class DownloadPage : public Page, public Pkg::DownloadCallback {
public:
  explicit DownloadPage(PageHost* dlg);
  // Starts the package's download; once the page is selected.
  void start();
  void fillTexts() override;
  void activated(mui::MuElement* source, uint32_t code) override;
  // Pkg::DownloadCallback
  void progress(Pkg* pkg, int64_t done, int64_t total) override;
  void done(Pkg* pkg, const plat::Exception& result) override;

  muimisc::ProgressBar* bar() const { return bar_; }

private:
  mui::MuText* text_;
  muimisc::ProgressBar* bar_;
  PageButton cancel_;
  plat::Exception result_{""};
};

class InstallPage : public Page, public Pkg::InstallCallback {
public:
  explicit InstallPage(PageHost* dlg);
  void fillTexts() override;
  void showElevating();
  // Called by the dialog once the helper runs.
  void startInstall();
  void activated(mui::MuElement* source, uint32_t code) override;
  // Pkg::InstallCallback
  void output(Pkg* pkg, int length, const char* bytes) override;
  void done(Pkg* pkg, const char* error) override;

  bool busy() const { return busy_; }
  int32_t bytes() const { return bytes_; }
  muimisc::ProgressBar* bar() const { return bar_; }

private:
  void finish(const char* error);

  mui::MuText* text_;
  muimisc::ProgressBar* bar_;
  PageButton cancel_;
  bool busy_ = false;
  int32_t bytes_ = 0;
  OutputTail output_;
  plat::String error_;
};

class SimpleLaunchPage : public Page {
public:
  explicit SimpleLaunchPage(PageHost* dlg);
  void fillTexts() override;
  void activated(mui::MuElement* source, uint32_t code) override;

private:
  mui::MuText* text_;
  PageButton launch_;
  // A press queued behind the first starts nothing more.
  bool launched_ = false;
};

class ErrorPage : public Page {
public:
  explicit ErrorPage(PageHost* dlg);
  ~ErrorPage() override;
  void fillTexts() override;
  // detail: the package tool's output, or null.
  void setError(const char* text, const char* detail);
  void activated(mui::MuElement* source, uint32_t code) override;

  mui::MuMessageBox* outputBox() const { return box_.get(); }

private:
  plat::LinkCbOpenUrl openUrl_;
  mui::MuText* text1_;
  mui::MuText* text2_;
  mui::MuText* detailText_;
  mui::MuButton* cmdOut_;
  mui::MuText* support_;
  PageButton retry_;
  plat::String detail_;
  std::unique_ptr<mui::MuMessageBox> box_;
};

} // namespace tlOrbSetup
