// The cloud credential record and its file in a persistent store.
#include <gtest/gtest.h>

#include <string>

#include "hostedremoteaccess/Credentials.h"
#include "os/dirs.h"
#include "rdr/MemOutStream.h"
#include "testutil.h"

using namespace hostedremoteaccess;
using hosted::BedValuePtr;

namespace {

SCredentialsData complete()
{
  SCredentialsData d;
  d.team.id = plat::String("t-1");
  d.team.name = plat::String("Team");
  d.serverId = plat::String("s-1");
  d.serverName = plat::String("host");
  d.serverSecret = plat::String("secret");
  d.principal = plat::String("p");
  d.principalPassword = plat::String("pw");
  d.renewFrom = 0;
  return d;
}

std::string fields(const SCredentialsData& d)
{
  auto s = [](const plat::String& v) { return v.isNull() ? std::string("-") : v.str(); };
  return s(d.team.id) + "|" + s(d.team.name) + "|" + s(d.team.label) + "|" + s(d.serverId) + "|" +
         s(d.serverName) + "|" + s(d.serverSecret) + "|" + s(d.principal) + "|" +
         s(d.principalPassword) + "|" + std::to_string(d.renewFrom) + "|" +
         std::to_string(d.lastRenewalTime);
}

std::string failure(const hosted::BedValue& v)
{
  try {
    SCredentialsData d(v);
    return "ok";
  } catch (plat::Exception& e) {
    return e.getType();
  }
}

TEST(Credentials, CompleteAndIncompleteRecords)
{
  SCredentialsData d = complete();
  EXPECT_EQ(fields(d), fields(SCredentialsData(*d.toBed())));
  d.team.label = plat::String("label");
  d.renewFrom = 5;
  d.lastRenewalTime = plat::makeTime(2025, 1, 1, 0, 0, 0);
  EXPECT_EQ(fields(d), fields(SCredentialsData(*d.toBed())));
  EXPECT_TRUE(SCredentialsData(*complete().toBed()).team.label.isNull());

  SCredentialsData noRenew = complete();
  noRenew.renewFrom = -1;
  BedValuePtr bed = noRenew.toBed();
  EXPECT_EQ(nullptr, bed->asMap().find("cloud/principal-renew-from"));
  try {
    SCredentialsData r(*bed);
    FAIL();
  } catch (plat::AssertionFail& e) {
    EXPECT_STREQ("serverId && serverName && serverSecret && team.name && team.id && principal && "
                 "principalPassword && renewFrom >= 0",
                 e.getExpression());
  }
  for (plat::String SCredentialsData::*field :
       {&SCredentialsData::serverId, &SCredentialsData::serverName,
        &SCredentialsData::serverSecret, &SCredentialsData::principal,
        &SCredentialsData::principalPassword}) {
    SCredentialsData partial = complete();
    partial.*field = plat::String();
    EXPECT_EQ("AssertionFail", failure(*partial.toBed()));
  }
  EXPECT_EQ("HostedBED", failure(hosted::BedSeq()));
  BedValuePtr wrong = complete().toBed();
  wrong->asMap().set("cloud/my-id", BedValuePtr(new hosted::BedInt(1)));
  EXPECT_EQ("HostedBED", failure(*wrong));
  wrong = complete().toBed();
  wrong->asMap().set("cloud/principal-renew-from", BedValuePtr(new hosted::BedString("0")));
  EXPECT_EQ("HostedBED", failure(*wrong));
}

TEST(Credentials, FileInAStore)
{
  tltest::TempDir dir("tltest_creds");
  os::PersistentStoreFile store(dir.path().c_str());
  SCredentialsFile file(store);
  EXPECT_STREQ("CloudCredentials.bed", file.fileName());
  EXPECT_FALSE(file.load());

  SCredentialsData d = complete();
  d.lastRenewalTime = 77 * plat::kTicksPerSecond;
  file.save(*d.toBed());
  BedValuePtr back = file.load();
  ASSERT_TRUE(back);
  EXPECT_EQ(fields(d), fields(SCredentialsData(*back)));

  SCredentialsFile byPath((dir.path() + "/CloudCredentials.bed").c_str());
  EXPECT_STREQ("CloudCredentials.bed", byPath.fileName());
  ASSERT_TRUE(byPath.load());

  SCredentialsFile other(std::unique_ptr<os::PersistentStore>(
                             new os::PersistentStoreFile(dir.path().c_str())),
                         "sub/Other.bed");
  other.save(*d.toBed());
  EXPECT_TRUE(other.load());
  other.remove();
  EXPECT_FALSE(other.load());
  EXPECT_FALSE(tltest::commandOutput("ls " + dir.path()).find("sub") != std::string::npos);

  // Bad files load as nothing.
  rdr::MemOutStream out;
  hosted::BedWriter w(out);
  d.toBed()->encode(w);
  std::string bytes((const char*)out.data(), out.length());
  for (std::string bad : {bytes.substr(0, bytes.size() - 1), bytes + "x", std::string("junk")}) {
    dir.write("CloudCredentials.bed", bad);
    EXPECT_FALSE(file.load());
  }
  dir.write("CloudCredentials.bed", bytes);
  EXPECT_TRUE(file.load());
  hosted::maxBedSize.setValue((int)bytes.size() / 2, 1000);
  EXPECT_FALSE(file.load());
  hosted::maxBedSize.unset(1000, false);
  file.remove();
  EXPECT_FALSE(file.load());
}

TEST(Credentials, AppStoreFollowsTheApp)
{
  os::PersistentStoreFile& a = getAppPersistentStore("appA");
  EXPECT_STREQ(os::getPersistentStorePath("appA").str(), a.getDirectory());
  os::PersistentStoreFile& b = getAppPersistentStore("appB");
  EXPECT_EQ(&a, &b);
  EXPECT_STREQ(os::getPersistentStorePath("appB").str(), b.getDirectory());
}

} // namespace
