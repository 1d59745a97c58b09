// A ticket redeem through the capabilities request (its node recorded, so
// no discovery) against a bare hosted request posting the same body to the
// same node of the authentication stand-in, over the same kept-alive TLS
// connection pool. The request adds only its bookkeeping and the JSON body
// and reply, so it is held to 1.2 times the bare request.
// The stand-in's CA and certificate are made by openssl at start-up.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "bench_util.h"
#include "hosted/HostedRequest.h"
#include "hostedremoteaccess/CapsClient.h"
#include "hostedremoteaccess/CloudConfig.h"
#include "hostedremoteaccess/TicketRedeemer.h"
#include "io/FdSelectManager.h"
#include "os/AppInfo.h"
#include "os/dirs.h"

namespace {

using namespace hostedremoteaccess;

const char kReply[] = "{\"type\":\"server-join\",\"value\":\"token-of-some-length-0123456789\"}";

// The stand-in with a sticky 200 reply on node 1, and everything over it.
struct Setup {
  std::string dir;
  pid_t pid = -1;
  int in = -1;
  std::string node;
  std::unique_ptr<io::FdSelectManager> mgr;
  hosted::HostedClientContextPtr context;
  std::unique_ptr<hosted::HostedHttpSession> session;
  std::unique_ptr<CapsClient> client;

  bool start()
  {
    char tmpl[] = "/tmp/bench_redeem_XXXXXX";
    dir = mkdtemp(tmpl);
    std::string cmd =
        "cd " + dir + " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=BenchCA"
        " -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign"
        " -keyout ca.key -out ca.pem && openssl req -newkey rsa:2048 -nodes -subj /CN=standin"
        " -keyout s.key -out s.csr && printf 'subjectAltName=IP:127.0.0.1\\nextendedKeyUsage="
        "serverAuth\\n' > s.ext && openssl x509 -req -in s.csr -CA ca.pem -CAkey ca.key"
        " -CAcreateserial -days 2 -extfile s.ext -out s.pem";
    if (system((cmd + " >/dev/null 2>&1").c_str()) != 0)
      return false;
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
      return false;
    pid = fork();
    if (pid == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      execl("/usr/bin/python3", "python3", TL_STANDIN_SCRIPT, (dir + "/s.pem").c_str(),
            (dir + "/s.key").c_str(), (dir + "/log").c_str(), "2", TL_MKCLOUDCONFIG,
            TL_CLOUDCONFIG_DIR "/keys", (dir + "/ca.pem").c_str(), dir.c_str(), (char*)nullptr);
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in = toChild[1];
    FILE* out = fdopen(fromChild[0], "r");
    int p0 = 0, p1 = 0;
    if (fscanf(out, "%d %d", &p0, &p1) != 2)
      return false;
    std::string command = std::string("{\"node\":1,\"sticky\":true,\"headers\":[[\"Content-Type\","
                                      "\"application/json\"]],\"body\":") +
                          "\"{\\\"type\\\":\\\"server-join\\\",\\\"value\\\":\\\"token-of-some-"
                          "length-0123456789\\\"}\"}\n";
    if (write(in, command.data(), command.size()) != (ssize_t)command.size())
      return false;
    char ok[4] = {};
    if (fscanf(out, "%3s", ok) != 1)
      return false;
    node = "https://127.0.0.1:" + std::to_string(p1);
    os::AppInfo::setAppName("bench");
    os::setSystemConfigDir(dir.c_str());
    mgr.reset(new io::FdSelectManager);
    context = loadCloudConfig();
    session.reset(new hosted::HostedHttpSession(context, nullptr));
    client.reset(new CapsClient(context, session.get()));
    client->recordUrl(CapsClient::kAuth, node.c_str(), 300, {});
    return true;
  }
  ~Setup()
  {
    client.reset();
    session.reset();
    mgr.reset();
    if (pid > 0) {
      close(in);
      waitpid(pid, nullptr, 0);
    }
    if (!dir.empty())
      system(("rm -rf " + dir).c_str());
  }
};

Setup* setup;

struct Owner : TicketRedeemer::Callback {
  void ticketRedeemed(const plat::JsonObject&) override { done = ok = true; }
  void ticketRedeemFailed(const plat::Exception&) override { done = true; }
  bool done = false, ok = false;
};

struct Bare : hosted::HostedRequestCallback {
  void requestSucceeded(hosted::HostedRequest*, const http::SharedBytes& body, const char*) override
  {
    done = true;
    ok = body && body->length() == (int)sizeof(kReply) - 1;
  }
  void requestFailed(hosted::HostedRequest*, const plat::Exception&) override { done = true; }
  bool acceptStatus(hosted::HostedRequest*, int status) override { return status == 200; }
  bool done = false, ok = false;
};

template <class T> bool runUntilDone(T& cb)
{
  for (int i = 0; i < 100000 && !cb.done; i++)
    setup->mgr->processOnce(1000);
  return cb.ok;
}

void BM_caps_redeem(benchmark::State& state)
{
  Owner owner;
  TicketRedeemer redeemer(setup->client.get(), &owner);
  for (auto _ : state) {
    owner = Owner();
    redeemer.redeem("ticket-0123456789-abcdefghij");
    if (!runUntilDone(owner)) {
      state.SkipWithError("redeem failed");
      return;
    }
  }
}

void BM_bare_hosted_request(benchmark::State& state)
{
  const std::string url = setup->node + kRedeemPath;
  for (auto _ : state) {
    Bare bare;
    plat::MBuf<unsigned char> body = redeemBody("ticket-0123456789-abcdefghij");
    hosted::HostedRequest request(*setup->session, url.c_str(), &bare, *setup->context,
                                  hosted::HostedRequest::Auth::kNone, "POST", body,
                                  "application/json");
    request.send();
    if (!runUntilDone(bare)) {
      state.SkipWithError("request failed");
      return;
    }
  }
}

BENCHMARK(BM_caps_redeem)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_bare_hosted_request)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
  Setup s;
  setup = &s;
  if (!s.start()) {
    fprintf(stderr, "bench_redeem: the stand-in did not start\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "redeem through the capabilities request vs bare hosted request",
                      "BM_caps_redeem", "BM_bare_hosted_request", 1.2);
  return 0;
}
