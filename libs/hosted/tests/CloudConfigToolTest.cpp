// The configuration package and key file made in the build tree by the
// packaging tool: python decodes the package, openssl verifies its
// signature with the "HostedConfig-Live" key of "Kelpie.pub".
#include <gtest/gtest.h>

#include <string>

#include "crypto/RsaKey.h"
#include "hosted/Bed.h"
#include "hosted/Package.h"
#include "plat/Json.h"
#include "plat/Resource.h"
#include "testutil.h"

namespace {

const std::string kDir = TL_CLOUDCONFIG_DIR;
const std::string kPkg = kDir + "/CloudConfig.pkg";
const std::string kRef = "/usr/bin/python3 " + std::string(TL_TEST_SUPPORT_DIR) + "/bed_reference.py";

// The PEM block under a label of the key file.
std::string labelledKey(const std::string& text, const std::string& label)
{
  size_t at = text.find(label + ":\n");
  EXPECT_NE(std::string::npos, at) << label;
  size_t start = at + label.size() + 2;
  size_t end = text.find("-----END PUBLIC KEY-----", start);
  return text.substr(start, end + 25 - start);
}

TEST(CloudConfigTool, PythonDecodesThePackage)
{
  std::string dump = tltest::commandOutput(kRef + " package-dump " + kPkg);
  plat::JsonPtr<plat::JsonObject> doc =
      plat::toJsonObject(plat::JsonValue::parse(dump.data(), (int)dump.size(), nullptr));
  EXPECT_EQ(3, doc->size());
  const plat::JsonObject& cfg =
      doc->get("vendorCfg.BootstrapConfig")->asObject().get("any/signed-data")->asObject();
  EXPECT_EQ(1, cfg.get("btp/config-count")->asNumber().value());
  EXPECT_STREQ("https://bootstrap.daziziz.example/btp/",
               cfg.get("btp/bootstrap-uris")->asArray().get(0)->asString().str());
  const plat::JsonArray& certs =
      doc->get("vendorCfg.Certificates")->asObject().get("certificates")->asArray();
  ASSERT_EQ(1, certs.size());
  EXPECT_EQ(0, strncmp("-----BEGIN CERTIFICATE-----",
                       certs.get(0)->asObject().get("zarn/PEM-certificate")->asString().str(), 27));
  EXPECT_EQ(512u, strlen(doc->get("zzz.package.signature")->asString().str()));

  // Our reader finds the same, and the BED sections are strict documents.
  hosted::PackageReader r(kPkg.c_str());
  for (const char* name : {"vendorCfg.Certificates", "vendorCfg.BootstrapConfig"}) {
    plat::MBuf<unsigned char> s = hosted::packageSection(r, name);
    hosted::BedReader reader(s.length(), s.data());
    EXPECT_NO_THROW(hosted::decodeBed(reader, hosted::kBedMediaType, true)) << name;
  }
}

TEST(CloudConfigTool, OpensslVerifiesTheSignature)
{
  std::string keys = tltest::commandOutput("cat " + kDir + "/Kelpie.pub");
  EXPECT_EQ(std::string::npos, keys.find("PRIVATE"));
  EXPECT_EQ(0u, keys.find("HostedConfig-Live:\n-----BEGIN PUBLIC KEY-----\n"));
  EXPECT_NE(std::string::npos, keys.find("-----END PUBLIC KEY-----\n\nHostedConfig-Integration:\n"));

  tltest::TempDir dir("tltest_cloudcfg");
  std::string live = dir.write("live.pem", labelledKey(keys, "HostedConfig-Live"));
  std::string integration = dir.write("int.pem", labelledKey(keys, "HostedConfig-Integration"));
  tltest::commandOutput(kRef + " signable " + kPkg + " " + dir / "signable");
  tltest::commandOutput(kRef + " section " + kPkg + " zzz.package.signature " + dir / "sig");
  auto verify = [&](const std::string& key) {
    return "openssl dgst -sha256 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:-2 -verify " +
           key + " -signature " + dir / "sig" + " " + dir / "signable";
  };
  EXPECT_EQ("Verified OK\n", tltest::commandOutput(verify(live)));
  EXPECT_NE(0, system((verify(integration) + " >/dev/null 2>&1").c_str()));

  // The same check with our own key code, as the client will make it.
  hosted::PackageReader r(kPkg.c_str());
  std::vector<crypto::RsaPublicKey> pub = crypto::RsaPublicKey::keysFromBundle(keys.c_str());
  ASSERT_EQ(2u, pub.size());
  plat::MBuf<unsigned char> signable = r.getSignableBytes();
  plat::MBuf<unsigned char> sig = r.getSection("zzz.package.signature");
  EXPECT_TRUE(pub[0].verifyPss(sig.length(), sig.data(), signable.length(), signable.data(), 256,
                               crypto::PssSalt::AnyLength));
}

TEST(CloudConfigTool, BothFilesAreBuiltIn)
{
  for (const char* name : {"CloudConfig.pkg", "Kelpie.pub"}) {
    plat::BuiltInResource r = plat::findBuiltInResource(name);
    ASSERT_NE(nullptr, r.data) << name;
    EXPECT_EQ(tltest::commandOutput("cat " + kDir + "/" + name),
              std::string((const char*)r.data, r.size));
  }
}

} // namespace
