// Certificates and PEM bundles against openssl's view of the same files,
// and the TLS layer's error texts.
#include <arpa/inet.h>
#include <string.h>

#include <map>

#include "crypto/EcKey.h"
#include "crypto/RsaKey.h"
#include "plat/Resource.h"
#include "plat/utf8.h"
#include "rdr/MemOutStream.h"
#include "ssl/SslException.h"
#include "sslTestUtil.h"

using namespace ssltest;
using ssl::AltName;
using ssl::SslCertificate;
using ssl::SslCertificatePtr;
using ssl::SslException;

namespace {

const char* const kZoo[] = {"root",        "inter",      "badinter",    "otherroot", "valid",
                            "expired",     "future",     "selfsigned",  "unknown",   "sha1",
                            "weak",        "rsaleaf",    "clientonly",  "badku",     "noeku",
                            "underbad",    "wildcard",   "ip",          "twocn",     "cnonly",
                            "emailonly",   "emailcn",    "ouonly",      "oonly",     "emailattr",
                            "countryonly", "revocation", "unusablecrl", "names",     "ladder7",
                            "ladderleaf12"};

// Everything openssl says about one certificate, by field.
struct OpensslView {
  std::string subject, issuer, fingerprint, notBefore, notAfter;
  std::vector<std::string> altNames, ekus;
  unsigned keyUsage = 0;
  bool hasKeyUsage = false, hasEku = false;
};

std::string after(const std::string& line, const std::string& prefix)
{
  return line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : std::string();
}

std::vector<std::string> splitList(const std::string& s)
{
  std::vector<std::string> out;
  size_t start = s.find_first_not_of(' ');
  while (start != std::string::npos && start < s.size()) {
    size_t comma = s.find(", ", start);
    out.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    start = comma == std::string::npos ? comma : comma + 2;
  }
  return out;
}

OpensslView opensslView(const std::string& name)
{
  static const std::map<std::string, unsigned> kUsages = {
      {"Digital Signature", 1}, {"Non Repudiation", 2}, {"Key Encipherment", 4},
      {"Data Encipherment", 8}, {"Key Agreement", 16},  {"Certificate Sign", 32},
      {"CRL Sign", 64}};
  static const std::map<std::string, std::string> kEkus = {
      {"TLS Web Server Authentication", "1.3.6.1.5.5.7.3.1"},
      {"TLS Web Client Authentication", "1.3.6.1.5.5.7.3.2"}};
  OpensslView v;
  std::vector<std::string> lines = tltest::commandLines(
      "openssl x509 -noout -in " + zooPath(name + ".pem") +
      " -nameopt RFC2253 -subject -issuer -fingerprint -sha1 -dateopt iso_8601 -startdate "
      "-enddate -ext subjectAltName,keyUsage,extendedKeyUsage");
  std::string section;
  for (const std::string& l : lines) {
    if (l.compare(0, 4, "    ") == 0) {
      std::vector<std::string> items = splitList(l);
      if (section == "san") {
        for (const std::string& i : items) {
          std::string ip = after(i, "IP Address:");
          if (!ip.empty()) {
            unsigned char raw[16];
            char text[INET6_ADDRSTRLEN];
            int family = ip.find(':') == std::string::npos ? AF_INET : AF_INET6;
            inet_pton(family, ip.c_str(), raw);
            v.altNames.push_back("1 " + std::string(inet_ntop(family, raw, text, sizeof(text))));
          } else if (!after(i, "DNS:").empty()) {
            v.altNames.push_back("0 " + after(i, "DNS:"));
          } else if (!after(i, "email:").empty()) {
            v.altNames.push_back("2 " + after(i, "email:"));
          }
        }
      } else if (section == "ku") {
        for (const std::string& i : items)
          v.keyUsage |= kUsages.at(i);
      } else if (section == "eku") {
        for (const std::string& i : items)
          v.ekus.push_back(kEkus.at(i));
      }
      continue;
    }
    section = l.find("Subject Alternative Name") != std::string::npos ? "san"
              : l.find("Extended Key Usage") != std::string::npos     ? "eku"
              : l.find("Key Usage") != std::string::npos              ? "ku"
                                                                      : "";
    v.hasKeyUsage |= section == "ku";
    v.hasEku |= section == "eku";
    if (!after(l, "subject=").empty())
      v.subject = after(l, "subject=");
    if (!after(l, "issuer=").empty())
      v.issuer = after(l, "issuer=");
    if (!after(l, "sha1 Fingerprint=").empty())
      v.fingerprint = after(l, "sha1 Fingerprint=");
    if (!after(l, "notBefore=").empty())
      v.notBefore = after(l, "notBefore=");
    if (!after(l, "notAfter=").empty())
      v.notAfter = after(l, "notAfter=");
  }
  return v;
}

std::string fingerprintText(const plat::MBuf<unsigned char>& fp)
{
  std::string hex = tltest::toHex(bytes(fp)), out;
  for (size_t i = 0; i < hex.size(); i += 2)
    out += (i ? ":" : "") + hex.substr(i, 2);
  for (char& c : out)
    c = (char)toupper((unsigned char)c);
  return out;
}

// "2020-01-01 00:00:00Z", as openssl writes it.
std::string dateText(plat::Time t)
{
  plat::DString d;
  plat::formatTimeIso(d, t, false);
  std::string s = d.get();
  s[10] = ' ';
  return s;
}

std::vector<std::string> strings(const std::vector<plat::String>& v)
{
  std::vector<std::string> out;
  for (const plat::String& s : v)
    out.push_back(s.str());
  return out;
}

} // namespace

TEST(SslException, TextsAndDetails)
{
  struct Case {
    int code;
    const char* detail;
    const char* message;
  } cases[] = {
      {0, nullptr, "X.509 Error: Invalid certificate"},
      {9, "api.site.test",
       "SSL Error: SSL certificate does not match intended host: api.site.test"},
      {9, nullptr, "SSL Error: SSL certificate does not match intended host"},
      {17, "bad", "X.509 Error: Invalid key: bad"},
      {23, nullptr, "X.509 Error: OCSP responser is not a responder for this certificate"},
      {24, "lost", ""},
      {-1, "lost", ""},
  };
  for (const Case& c : cases) {
    SslException e(c.code, c.detail);
    EXPECT_STREQ(c.message, e.str()) << c.code;
    EXPECT_EQ(c.code, e.getCode());
    EXPECT_STREQ("", e.getType());
  }
  for (int code = 0; code <= 23; code++)
    EXPECT_NE(0u, strlen(SslException::codeText(code))) << code;
  // A long detail is cut within the message limit, on a character boundary.
  std::string longDetail;
  for (int i = 0; i < 200; i++)
    longDetail += "\xc3\xa9";
  SslException e(3, longDetail.c_str());
  EXPECT_LE(strlen(e.str()), 255u);
  EXPECT_TRUE(plat::isValidUtf8(e.str()));
}

TEST(SslCertificate, AgreesWithOpenssl)
{
  for (const char* name : kZoo) {
    SCOPED_TRACE(name);
    SslCertificatePtr c = cert(name);
    OpensslView v = opensslView(name);
    EXPECT_EQ(v.subject, c->subjectName().str());
    EXPECT_EQ(v.issuer, c->issuerName().str());
    EXPECT_EQ(v.fingerprint, fingerprintText(c->fingerprint()));
    EXPECT_EQ(v.notBefore, dateText(c->notBefore()));
    EXPECT_EQ(v.notAfter, dateText(c->notAfter()));
    std::vector<std::string> alt;
    for (const AltName& a : c->altNames())
      alt.push_back(std::to_string(a.kind) + " " + a.value.str());
    EXPECT_EQ(v.altNames, alt);
    EXPECT_EQ(v.hasEku, c->hasExtKeyUsageExtension());
    EXPECT_EQ(v.ekus, strings(c->extKeyUsages()));
    EXPECT_EQ(v.hasKeyUsage, c->hasKeyUsageExtension());
    EXPECT_EQ(v.keyUsage, c->keyUsage());
    std::string spki = tltest::commandOutput("openssl x509 -noout -pubkey -in " +
                                             zooPath(std::string(name) + ".pem") +
                                             " | openssl pkey -pubin -outform DER");
    EXPECT_EQ(tltest::toHex(spki), tltest::toHex(bytes(c->publicKeyDer())));
    EXPECT_EQ(readFile(zooPath(std::string(name) + ".der")), bytes(c->der()));
    EXPECT_EQ(c->isSelfIssued(), bytes(c->issuerDer()) == bytes(c->subjectDer()));
  }
}

TEST(SslCertificate, AttributesAndDisplayNames)
{
  SslCertificatePtr names = cert("names");
  // Last attribute first, values unescaped.
  std::vector<std::string> attrs;
  for (const ssl::NameAttribute& a : names->subjectAttributes())
    attrs.push_back(std::string(a.oid.str()) + "=" + a.value.str());
  EXPECT_EQ((std::vector<std::string>{
                "2.5.4.3= lead and trail ", "2.5.4.7=#hash <angle> back\\slash", "2.5.4.11=b",
                "2.5.4.11=a", "2.5.4.10=Comma, Semi; Quote\" Inc", "2.5.4.6=US"}),
            attrs);
  EXPECT_EQ((std::vector<std::string>{"b", "a"}),
            strings(SslCertificate::getAttributeValues(names->subjectAttributes(), "2.5.4.11")));
  EXPECT_STREQ("b", SslCertificate::getAttribute(names->subjectAttributes(), "2.5.4.11"));
  EXPECT_EQ(nullptr, SslCertificate::getAttribute(names->subjectAttributes(), "2.5.4.5"));

  struct Case {
    const char* name;
    const char* display;
  } cases[] = {
      {"names", " lead and trail "},   {"twocn", "two.site.test"},
      {"ouonly", "Zoo Unit"},          {"oonly", "Zoo Org"},
      {"emailattr", "attr@site.test"}, {"emailonly", "someone@site.test"},
      {"countryonly", "US"},           {"inter", "Zoo Intermediate CA"},
  };
  for (const Case& c : cases)
    EXPECT_STREQ(c.display, cert(c.name)->displayName().str()) << c.name;
}

TEST(SslCertificate, ExportedKeys)
{
  SslCertificatePtr root = cert("root"), leaf = cert("valid");
  EXPECT_EQ(SslCertificate::kRsaKey, root->keyKind());
  EXPECT_EQ(SslCertificate::kEcKey, leaf->keyKind());

  std::string pkcs1 =
      tltest::commandOutput("openssl x509 -noout -pubkey -in " + zooPath("root.pem") +
                            " | openssl rsa -pubin -RSAPublicKey_out -outform DER 2>/dev/null");
  std::unique_ptr<crypto::RsaPublicKey> rsa = root->rsaPublicKey();
  EXPECT_EQ(2048, rsa->bits());
  EXPECT_EQ(tltest::toHex(pkcs1), tltest::toHex(bytes(rsa->der())));

  // The uncompressed point ends the SubjectPublicKeyInfo.
  std::unique_ptr<crypto::EcKey> ec = leaf->ecPublicKey();
  EXPECT_EQ(crypto::EcKey::P256, ec->curve());
  rdr::MemOutStream out;
  ec->writeRawPublic(out);
  std::string spki = bytes(leaf->publicKeyDer());
  std::string point(reinterpret_cast<const char*>(out.data()), (size_t)out.length());
  ASSERT_GE(spki.size(), point.size());
  EXPECT_EQ(tltest::toHex(spki.substr(spki.size() - 64)),
            tltest::toHex(point.substr(point.size() - 64)));

  EXPECT_EQ("Certificate public key is not an RSA key", errorOf([&] { leaf->rsaPublicKey(); }));
  EXPECT_EQ("Certificate public key is not an ECDSA key", errorOf([&] { root->ecPublicKey(); }));
}

TEST(SslCertificate, RevocationLocations)
{
  std::vector<std::string> crl, ocsp;
  for (const std::string& l : tltest::commandLines(
           "openssl x509 -noout -ext crlDistributionPoints -in " + zooPath("revocation.pem"))) {
    std::string uri = after(l.substr(l.find_first_not_of(' ')), "URI:");
    for (const char* scheme : {"http://", "https://", "ldap://", "ldaps://"})
      if (uri.compare(0, strlen(scheme), scheme) == 0)
        crl.push_back(uri);
  }
  for (const std::string& uri :
       tltest::commandLines("openssl x509 -noout -ocsp_uri -in " + zooPath("revocation.pem")))
    if (uri.compare(0, 7, "http://") == 0 || uri.compare(0, 8, "https://") == 0)
      ocsp.push_back(uri);
  SslCertificatePtr c = cert("revocation");
  EXPECT_EQ(2u, crl.size());
  EXPECT_EQ(crl, strings(c->crlUrls()));
  EXPECT_EQ(2u, ocsp.size());
  EXPECT_EQ(ocsp, strings(c->ocspUrls()));

  EXPECT_TRUE(cert("valid")->crlUrls().empty());
  EXPECT_TRUE(cert("valid")->ocspUrls().empty());
  EXPECT_EQ("code 10: X.509 Error: The CRL distribution points do not contain a supported "
            "endpoint: nameRelativeToCRLIssuer given, no URLs specifying the CRL given, no CRL "
            "found with all reasons, no CRL with matching issuer given",
            errorOf([] { cert("unusablecrl")->crlUrls(); }));
}

TEST(SslCertificate, ValidityAndBadInput)
{
  SslCertificatePtr expired = cert("expired"), future = cert("future"), valid = cert("valid");
  struct Case {
    SslCertificate* c;
    plat::Time at;
    std::string error;
  } cases[] = {
      {valid.get(), zooNow(), ""},
      {expired.get(), zooNow(), "code 2: X.509 Error: Certificate expired"},
      {expired.get(), plat::makeTime(2020, 6, 1, 0, 0, 0), ""},
      {expired.get(), plat::makeTime(2019, 6, 1, 0, 0, 0),
       "code 1: X.509 Error: Certificate not yet valid"},
      {future.get(), zooNow(), "code 1: X.509 Error: Certificate not yet valid"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.error, errorOf([&] { c.c->checkValidityAt(c.at); })) << c.c->subjectName().str();

  // A name that is no UTF-8 is refused; bytes that are no certificate give
  // code 0 with the library's text.
  std::string der = readFile(zooPath("valid.der"));
  size_t at = der.find("valid.site.test");
  ASSERT_NE(std::string::npos, at);
  der[at] = '\xff';
  auto fromDer = [](const std::string& d) {
    return SslCertificate::createFromDer((int)d.size(),
                                         reinterpret_cast<const unsigned char*>(d.data()));
  };
  EXPECT_EQ("bad UTF-8 in certificate", errorOf([&] { fromDer(der); }));
  for (const std::string& bad : {std::string("\x30\x03\x02\x01\x00", 5), std::string("garbage")})
    EXPECT_EQ(0u, errorOf([&] {
                    fromDer(bad);
                  }).find("code 0: X.509 Error: Invalid certificate: X509 - "));
  EXPECT_EQ(0u, errorOf([] {
                  SslCertificate::createFromPem(
                      "-----BEGIN CERTIFICATE-----\n!!!!\n-----END CERTIFICATE-----\n");
                }).find("code 0: X.509 Error: Invalid certificate: PEM - "));
}

TEST(ParsePemCertificates, EdgeCases)
{
  std::string valid = readFile(zooPath("valid.pem")), root = readFile(zooPath("root.pem")),
              inter = readFile(zooPath("inter.pem")), expired = readFile(zooPath("expired.pem"));
  std::string damaged = inter;
  damaged[damaged.size() / 2] = '!';
  std::string noEnd = inter.substr(0, inter.find("-----END"));
  std::string crlf;
  for (char c : valid + root)
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string noNewline = valid.substr(0, valid.size() - 1) + root;
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> subjects;
    size_t logLines;
  } cases[] = {
      {"damaged block in the middle",
       valid + damaged + root,
       {"CN=valid.site.test,O=Zoo Test,C=US", "CN=Zoo Root CA,O=Zoo Test,C=US"},
       1},
      {"block without END",
       valid + noEnd + root,
       {"CN=valid.site.test,O=Zoo Test,C=US", "CN=Zoo Root CA,O=Zoo Test,C=US"},
       1},
      {"files joined without newline",
       noNewline,
       {"CN=valid.site.test,O=Zoo Test,C=US", "CN=Zoo Root CA,O=Zoo Test,C=US"},
       0},
      {"CRLF line ends and text around",
       "junk\r\n" + crlf + "trailer",
       {"CN=valid.site.test,O=Zoo Test,C=US", "CN=Zoo Root CA,O=Zoo Test,C=US"},
       0},
      {"expired kept", expired, {"CN=expired.site.test"}, 1},
      {"END before BEGIN",
       "-----END CERTIFICATE-----\n" + root,
       {"CN=Zoo Root CA,O=Zoo Test,C=US"},
       0},
      {"no blocks", "nothing here", {}, 0},
      {"BEGIN only", "-----BEGIN CERTIFICATE-----\nMII", {}, 0},
  };
  for (const Case& c : cases) {
    tltest::LogCapture log("SslCertificate");
    std::vector<std::string> subjects;
    for (const SslCertificatePtr& p : ssl::parsePemCertificates((int)c.text.size(), c.text.data()))
      subjects.push_back(p->subjectName().str());
    EXPECT_EQ(c.subjects, subjects) << c.what;
    EXPECT_EQ(c.logLines, log.lines().size()) << c.what;
    for (const std::string& l : log.lines())
      EXPECT_EQ(0u, l.find("Bad cert in PEM file: X.509 Error: ")) << l;
  }
  tltest::LogCapture log("SslCertificate");
  ssl::parsePemCertificates((int)expired.size(), expired.data());
  EXPECT_EQ((std::vector<std::string>{"Bad cert in PEM file: X.509 Error: Certificate expired"}),
            log.lines());
}

TEST(ParsePemCertificates, DebianBundleLoadsWhole)
{
  const char* path = "/etc/ssl/certs/ca-certificates.crt";
  std::string text = readFile(path);
  std::string total = tltest::commandOutput(std::string("openssl storeutl -noout -certs ") + path);
  size_t at = total.rfind("Total found: ");
  ASSERT_NE(std::string::npos, at);
  EXPECT_EQ(std::stoul(total.substr(at + 13)),
            ssl::parsePemCertificates((int)text.size(), text.data()).size());

  // The built-in bundle is made from the same certificates.
  plat::BuiltInResource res = plat::findBuiltInResource("cacerts.pem");
  ASSERT_NE(nullptr, res.data);
  std::string builtIn(static_cast<const char*>(res.data), res.size);
  size_t blocks = 0;
  for (size_t p = 0; (p = builtIn.find("-----BEGIN CERTIFICATE-----", p)) != std::string::npos; p++)
    blocks++;
  EXPECT_GT(blocks, 100u);
  EXPECT_EQ(blocks, ssl::parsePemCertificates((int)res.size, builtIn.data()).size());
}
