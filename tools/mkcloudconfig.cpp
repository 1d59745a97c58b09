// Builds the cloud configuration package "CloudConfig.pkg" and the labelled
// public keys "Kelpie.pub" from RSA keys and CA certificates made elsewhere
// (by openssl in the build tree; no private key is kept in the sources).
//
//   mkcloudconfig --live-key K --integration-key K --certificate PEM... --out DIR
//                 [--bootstrap-uri URI]... [--discovery-uri URI] [--parameter NAME=VALUE]...
//
// The addresses default to the product's; parameters are added after the
// product's own (local stand-ins of the hosted services use these).
//
// The package holds "vendorCfg.Certificates", the unsigned built-in
// "vendorCfg.BootstrapConfig" and "zzz.package.signature", an RSASSA-PSS
// SHA-256 signature over the signable bytes made with the live key.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>

#include "crypto/RandomStream.h"
#include "crypto/Sha.h"
#include "hosted/Bed.h"
#include "hosted/Package.h"
#include "plat/numbers.h"
#include "product/addresses.h"
#include "rdr/MemOutStream.h"

using hosted::BedMap;
using hosted::BedSeq;
using hosted::BedString;
using hosted::BedValuePtr;

namespace {

// An RSA key pair read from a PEM or DER file.
class Key {
public:
  explicit Key(const char* path)
  {
    mbedtls_pk_init(&pk_);
    int rc = mbedtls_pk_parse_keyfile(&pk_, path, nullptr);
    if (rc != 0 || mbedtls_pk_get_type(&pk_) != MBEDTLS_PK_RSA)
      throw plat::Exception(0, "%s: not an RSA private key (%d)", path, rc);
  }
  ~Key() { mbedtls_pk_free(&pk_); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  std::string publicPem()
  {
    unsigned char buf[4096];
    if (mbedtls_pk_write_pubkey_pem(&pk_, buf, sizeof(buf)) != 0)
      throw plat::Exception("mbedtls_pk_write_pubkey_pem failed");
    return reinterpret_cast<char*>(buf);
  }

  plat::MBuf<unsigned char> signPss(const plat::MBuf<unsigned char>& data)
  {
    plat::MBuf<unsigned char> hash;
    crypto::Sha::digest(256, data.length(), data.data(), hash, false);
    mbedtls_rsa_context* rsa = mbedtls_pk_rsa(pk_);
    mbedtls_rsa_set_padding(rsa, MBEDTLS_RSA_PKCS_V21, MBEDTLS_MD_SHA256);
    plat::MBuf<unsigned char> sig((int)mbedtls_rsa_get_len(rsa));
    int rc = mbedtls_rsa_rsassa_pss_sign(rsa, crypto::mbedTlsRandom, nullptr, MBEDTLS_RSA_PRIVATE,
                                         MBEDTLS_MD_SHA256, 32, hash.data(), sig.data());
    if (rc != 0)
      throw plat::Exception(0, "mbedtls_rsa_rsassa_pss_sign failed (%d)", rc);
    return sig;
  }

private:
  mbedtls_pk_context pk_;
};

std::string readAll(const std::string& path)
{
  FILE* f = fopen(path.c_str(), "rbe");
  if (!f)
    throw plat::SystemExceptionFmt(errno, "Error opening \"%s\"", path.c_str());
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
    text.append(buf, n);
  fclose(f);
  return text;
}

void writeAll(const std::string& path, const std::string& text)
{
  FILE* f = fopen(path.c_str(), "wbe");
  if (!f)
    throw plat::SystemExceptionFmt(errno, "Error opening \"%s\"", path.c_str());
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  if (fclose(f) != 0 || !ok)
    throw plat::SystemExceptionFmt(errno, "Error writing \"%s\"", path.c_str());
}

BedValuePtr str(const char* s) { return BedValuePtr(new BedString(s)); }

BedValuePtr certificates(const std::vector<std::string>& paths)
{
  BedSeq* list = new BedSeq;
  BedValuePtr listPtr(list);
  for (const std::string& p : paths) {
    std::string pem = readAll(p);
    BedMap* cert = new BedMap;
    BedValuePtr certPtr(cert);
    cert->set("zarn/PEM-certificate",
              BedValuePtr(new BedString(pem.data(), (int)pem.size())));
    list->append(certPtr);
  }
  BedMap* root = new BedMap;
  BedValuePtr rootPtr(root);
  root->set("certificates", listPtr);
  return rootPtr;
}

BedValuePtr parameter(const char* name, const char* value)
{
  BedMap* p = new BedMap;
  BedValuePtr ptr(p);
  p->set("any/name", str(name));
  p->set("any/value", str(value));
  return ptr;
}

struct Addresses {
  std::vector<std::string> bootstrap;
  std::string discovery = product::kDiscovery;
  std::vector<std::pair<std::string, std::string>> parameters;
};

// The built-in bootstrap configuration, unsigned.
BedValuePtr bootstrapConfig(const Addresses& addresses)
{
  BedSeq* params = new BedSeq;
  BedValuePtr paramsPtr(params);
  params->append(parameter("enterprise/website-uri", product::kWebSite));
  params->append(parameter("enterprise/portal-uri", product::kPortal));
  for (const auto& p : addresses.parameters)
    params->append(parameter(p.first.c_str(), p.second.c_str()));
  BedSeq* uris = new BedSeq;
  BedValuePtr urisPtr(uris);
  if (addresses.bootstrap.empty())
    uris->append(str(product::kBootstrap));
  for (const std::string& u : addresses.bootstrap)
    uris->append(str(u.c_str()));
  BedMap* record = new BedMap;
  BedValuePtr recordPtr(record);
  record->set("any/parameters", paramsPtr);
  record->set("any/valid-from", BedValuePtr(new hosted::BedTime(plat::makeTime(2025, 1, 1, 0, 0, 0))));
  record->set("btp/bootstrap-uris", urisPtr);
  record->set("btp/config-count", BedValuePtr(new hosted::BedInt(1)));
  record->set("btp/initial-discovery-uri", str(addresses.discovery.c_str()));
  record->set("btp/max-age-secs", BedValuePtr(new hosted::BedInt(86400)));
  record->set("btp/max-backoff-secs", BedValuePtr(new hosted::BedInt(300)));
  BedMap* doc = new BedMap;
  BedValuePtr docPtr(doc);
  doc->set("any/signed-data", recordPtr);
  return docPtr;
}

void setBed(hosted::PackageWriter& pkg, const char* name, const hosted::BedValue& value)
{
  rdr::MemOutStream out;
  hosted::BedWriter w(out);
  value.encode(w);
  pkg.setSection(name, out.data(), (int)out.length());
}

int usage()
{
  fprintf(stderr, "usage: mkcloudconfig --live-key K --integration-key K "
                  "--certificate PEM... --out DIR [--bootstrap-uri URI]... "
                  "[--discovery-uri URI] [--parameter NAME=VALUE]...\n");
  return 2;
}

} // namespace

int main(int argc, char** argv)
{
  const char* liveKey = nullptr;
  const char* integrationKey = nullptr;
  const char* outDir = nullptr;
  std::vector<std::string> certs;
  Addresses addresses;
  for (int i = 1; i < argc; i++) {
    if (i + 1 >= argc)
      return usage();
    if (!strcmp(argv[i], "--live-key"))
      liveKey = argv[++i];
    else if (!strcmp(argv[i], "--integration-key"))
      integrationKey = argv[++i];
    else if (!strcmp(argv[i], "--certificate"))
      certs.push_back(argv[++i]);
    else if (!strcmp(argv[i], "--out"))
      outDir = argv[++i];
    else if (!strcmp(argv[i], "--bootstrap-uri"))
      addresses.bootstrap.push_back(argv[++i]);
    else if (!strcmp(argv[i], "--discovery-uri"))
      addresses.discovery = argv[++i];
    else if (!strcmp(argv[i], "--parameter") && strchr(argv[i + 1], '=')) {
      std::string item = argv[++i];
      size_t eq = item.find('=');
      addresses.parameters.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    }
    else
      return usage();
  }
  if (!liveKey || !integrationKey || !outDir || certs.empty())
    return usage();
  try {
    Key live(liveKey), integration(integrationKey);
    hosted::PackageWriter pkg;
    setBed(pkg, "vendorCfg.Certificates", *certificates(certs));
    setBed(pkg, "vendorCfg.BootstrapConfig", *bootstrapConfig(addresses));
    rdr::MemOutStream unsigned_;
    pkg.write(unsigned_);
    hosted::PackageReader reader((int)unsigned_.length(), unsigned_.data());
    plat::MBuf<unsigned char> sig = live.signPss(reader.getSignableBytes());
    pkg.setSection(hosted::kPackageSignatureSection, sig.data(), sig.length());
    std::string dir(outDir);
    pkg.writeFile((dir + "/CloudConfig.pkg").c_str());

    std::string pub = "HostedConfig-Live:\n" + live.publicPem() + "\nHostedConfig-Integration:\n" +
                      integration.publicPem();
    writeAll(dir + "/Kelpie.pub", pub);
  } catch (plat::Exception& e) {
    fprintf(stderr, "mkcloudconfig: %s\n", e.str());
    return 1;
  }
  return 0;
}
