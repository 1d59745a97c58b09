// Socket addresses: text forms against Python's ipaddress, the loopback
// and same-host rules, and real sockets on 127.0.0.1 and ::1.
#include "io/IpInfo.h"

#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "loc/Localize.h"
#include "netReference.h"
#include "os/socket.h"

namespace {

io::IpInfo withScope(const char* text, int port, uint32_t scope)
{
  io::IpInfo a(text, port);
  sockaddr_in6 sin6;
  memcpy(&sin6, a.sockAddr(), sizeof(sin6));
  sin6.sin6_scope_id = scope;
  return io::IpInfo(reinterpret_cast<sockaddr*>(&sin6), sizeof(sin6));
}

// glibc's numeric lookup takes "*" as no host at all: it names no address.
TEST(IpInfo, OnlyAddressesAreNumeric)
{
  for (const char* t : {"*", "[*]", "", "a.test"})
    EXPECT_FALSE(io::isNumericAddress(t)) << t;
  EXPECT_TRUE(io::isNumericAddress("[::1]"));
}

TEST(IpInfo, TextFormsMatchPython)
{
  const char* texts[] = {
      "192.0.2.7", "0.0.0.0",      "169.254.3.4", "2001:db8:0:0:0:0:0:1", "::",
      "fe80::1",   "FE80:0::abcd", "2001:db8::",  "1:2:3:4:5:6:7:8",      "[::1]"};
  std::vector<std::pair<std::string, std::string>> requests;
  for (const char* t : texts) {
    std::string bare(t);
    if (bare[0] == '[')
      bare = bare.substr(1, bare.size() - 2);
    requests.push_back({"ip", bare});
  }
  std::vector<std::string> expected = nettest::pythonReference(requests);
  ASSERT_EQ(requests.size(), expected.size());
  for (size_t i = 0; i < requests.size(); i++) {
    io::IpInfo a(texts[i], 443);
    std::string host = a.numericHost();
    std::string ours = host + " " + (a.isLinkLocal() ? "1" : "0") + " " + (a.isAny() ? "1" : "0");
    EXPECT_EQ(expected[i], ours) << texts[i];
    bool v6 = host.find(':') != std::string::npos;
    EXPECT_EQ((v6 ? "[" + host + "]" : host) + "::443", a.toString()) << texts[i];
  }

  EXPECT_STREQ("[::1]::80", io::IpInfo("[::1]", 80).toString());
  EXPECT_STREQ("127.0.0.1::5900", io::IpInfo("127.0.0.1", 5900).toString());
  EXPECT_EQ(std::string("2001:db8::1::443 (TCP)"),
            io::IpInfo("2001:db8::1", 443).describe("TCP", nullptr).get());
  EXPECT_EQ(std::string("srv::443 (TCP)"),
            io::IpInfo("2001:db8::1", 443).describe("TCP", "srv").get());
}

TEST(IpInfo, ConstructionFailures)
{
  // Names are never resolved here.
  try {
    io::IpInfo a("localhost", 80);
    FAIL() << "no exception";
  } catch (io::GetAddrInfoException& e) {
    EXPECT_EQ(EAI_NONAME, e.code());
    EXPECT_EQ(std::string("getaddrinfo: '") + gai_strerror(EAI_NONAME) + "' (-2)", e.str());
    EXPECT_STREQ("GetAddrInfo", e.getType());
    EXPECT_STREQ(loc::translate("io_error_eai_noname", nullptr, 0, false), e.userMessage());
  }
  EXPECT_STREQ(io::GetAddrInfoException("x", EAI_FAIL).str(),
               io::GetAddrInfoException("x", EAI_FAIL).userMessage());

  sockaddr_in sin;
  memset(&sin, 0, sizeof(sin));
  sin.sin_family = AF_UNIX;
  const struct {
    std::function<void()> make;
    const char* expression;
  } cases[] = {
      {[&] { io::IpInfo(reinterpret_cast<sockaddr*>(&sin), sizeof(sin)); },
       "family() == 2 || ((family()) == 10)"},
      {[&] { io::IpInfo(reinterpret_cast<sockaddr*>(&sin), 12); },
       "len == sizeof(sockaddr_in) || ((len) == sizeof(sockaddr_in6))"},
      {[] { io::IpInfo(80, true, AF_UNIX); }, "family == 2 || ((family) == 10)"},
      {[] { io::IpInfo(plat::MBuf<unsigned char>(5), 80); },
       "binAddr.length() == 4 || ((binAddr.length()) == 16)"},
  };
  for (const auto& c : cases) {
    try {
      c.make();
      ADD_FAILURE() << c.expression;
    } catch (plat::AssertionFail& e) {
      EXPECT_STREQ(c.expression, e.getExpression());
    }
  }
}

TEST(IpInfo, LoopbackAndSameHost)
{
  struct Case {
    const char* text;
    bool loopback;
  };
  for (const Case& c : {Case{"127.0.0.1", true}, Case{"127.0.0.2", false}, Case{"::1", true},
                        Case{"::ffff:127.0.0.1", false}, Case{"0.0.0.0", false}})
    EXPECT_EQ(c.loopback, io::IpInfo(c.text, 1).isLoopback()) << c.text;
  EXPECT_TRUE(io::IpInfo(7, true, AF_INET) == io::IpInfo("127.0.0.1", 7));
  EXPECT_TRUE(io::IpInfo(7, false, AF_INET6).isAny());

  io::IpInfo a("fe80::1", 80), b = withScope("fe80::1", 80, 3), c("fe80::1", 81);
  EXPECT_FALSE(a == b);
  EXPECT_FALSE(a.sameHost(b));
  EXPECT_FALSE(a == c);
  EXPECT_TRUE(a.sameHost(c));
  EXPECT_FALSE(io::IpInfo("::1", 80) == io::IpInfo("127.0.0.1", 80));

  // A copy makes its own texts; the original keeps its.
  io::IpInfo original("192.0.2.1", 1);
  const char* text = original.toString();
  io::IpInfo copy(original);
  copy = io::IpInfo("192.0.2.2", 2);
  EXPECT_STREQ("192.0.2.2::2", copy.toString());
  EXPECT_EQ(text, original.toString());
  EXPECT_STREQ("192.0.2.1::1", text);

  io::IpInfoList x(std::vector<io::IpInfo>{a, io::IpInfo("192.0.2.1", 1)}, "x");
  EXPECT_TRUE(io::IpInfoList::intersects(x, io::IpInfoList(io::IpInfo("192.0.2.1", 1), "y")));
  EXPECT_FALSE(io::IpInfoList::intersects(x, io::IpInfoList(c, "y")));
}

// A TCP connection and a datagram with packet information on each
// loopback address.
TEST(IpInfo, RealSockets)
{
  for (const char* host : {"127.0.0.1", "::1"}) {
    io::IpInfo any(host, 0);
    int listener = os::bindSocket(any, SOCK_STREAM, false);
    ASSERT_EQ(0, listen(listener, 1));
    io::IpInfo bound(listener, true);
    EXPECT_TRUE(bound.isLoopback()) << host;
    int client = os::connectSocket(bound, SOCK_STREAM, true);
    int server = accept(listener, nullptr, nullptr);
    ASSERT_GE(server, 0);
    EXPECT_TRUE(io::IpInfo(client, false) == bound) << host;
    EXPECT_TRUE(io::IpInfo(server, false) == io::IpInfo(client, true)) << host;
    close(server);
    close(client);
    close(listener);

    int family = any.family();
    int udp = os::bindSocket(any, SOCK_DGRAM, false);
    io::IpInfo self(udp, true);
    EXPECT_FALSE(io::PktInfo::isEnabled(udp, family));
    io::PktInfo::setEnabled(udp, family, true);
    EXPECT_TRUE(io::PktInfo::isEnabled(udp, family));

    // Sent with the source address in a control message, received with the
    // destination in one.
    char byte = 'x';
    iovec iov = {&byte, 1};
    char control[64];
    msghdr msg;
    memset(&msg, 0, sizeof(msg));
    msg.msg_name = const_cast<sockaddr*>(self.sockAddr());
    msg.msg_namelen = self.len();
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    io::PktInfo(self, 0).toMsg(msg);
    EXPECT_EQ((size_t)io::PktInfo::controlSpace(family), msg.msg_controllen);
    ASSERT_EQ(1, sendmsg(udp, &msg, 0)) << host << " " << strerror(errno);

    memset(&msg, 0, sizeof(msg));
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    ASSERT_EQ(1, recvmsg(udp, &msg, 0));
    io::PktInfo received;
    received.fromMsg(msg);
    ASSERT_EQ(family, received.family()) << host;
    io::IpInfo dest(received, self.port());
    EXPECT_TRUE(dest == self) << host << " " << dest.toString();
    close(udp);
  }
}

// A control buffer too small for the message is refused untouched.
TEST(IpInfo, PktInfoToMsgNeedsFullSpace)
{
  for (int family : {AF_INET, AF_INET6}) {
    io::PktInfo info(io::IpInfo(0, true, family), 0);
    int space = io::PktInfo::controlSpace(family);
    EXPECT_EQ(family == AF_INET ? 32 : 40, space);
    std::vector<unsigned char> buf(space + 8, 0xaa);
    msghdr msg;
    memset(&msg, 0, sizeof(msg));
    msg.msg_control = buf.data();
    msg.msg_controllen = space - 1;
    EXPECT_THROW(info.toMsg(msg), plat::AssertionFail) << family;
    for (unsigned char b : buf)
      ASSERT_EQ(0xaa, b);

    msg.msg_controllen = space;
    info.toMsg(msg);
    EXPECT_EQ((size_t)space, msg.msg_controllen);
    for (size_t i = space; i < buf.size(); i++)
      EXPECT_EQ(0xaa, buf[i]) << family;
    io::PktInfo back;
    back.fromMsg(msg);
    EXPECT_EQ(family, back.family());
  }
}

} // namespace
