#include "hostedremoteaccess/Credentials.h"

#include "os/dirs.h"
#include "plat/Path.h"
#include "rdr/MemOutStream.h"

namespace hostedremoteaccess {

namespace {

const char* const kMyId = "cloud/my-id";
const char* const kMyName = "cloud/my-name";
const char* const kMySecret = "cloud/my-secret";
const char* const kTeamId = "cloud/team-id";
const char* const kTeamName = "cloud/team-name";
const char* const kPrincipal = "cloud/principal";
const char* const kPrincipalPassword = "cloud/principal-password";
const char* const kLabel = "label";
const char* const kRenewFrom = "cloud/principal-renew-from";
const char* const kLastRenewal = "cloud/last-renewal-time";

void readString(const hosted::BedMap& map, const char* key, plat::String& field)
{
  if (const hosted::BedMap::Entry* e = map.find(key))
    field = plat::String(e->value->asString().value());
}

void readTime(const hosted::BedMap& map, const char* key, plat::Time& field)
{
  if (const hosted::BedMap::Entry* e = map.find(key))
    field = e->value->asTime().value();
}

void writeString(hosted::BedMap& map, const char* key, const plat::String& field)
{
  if (!field.isNull())
    map.set(key, hosted::BedValuePtr(new hosted::BedString(field.str())));
}

void writeTime(hosted::BedMap& map, const char* key, plat::Time field)
{
  if (field >= 0)
    map.set(key, hosted::BedValuePtr(new hosted::BedTime(field)));
}

} // namespace

SCredentialsData::SCredentialsData(const hosted::BedValue& value)
{
  const hosted::BedMap& map = value.asMap();
  readString(map, kMyId, serverId);
  readString(map, kMyName, serverName);
  readString(map, kMySecret, serverSecret);
  readString(map, kTeamId, team.id);
  readString(map, kTeamName, team.name);
  readString(map, kPrincipal, principal);
  readString(map, kPrincipalPassword, principalPassword);
  readString(map, kLabel, team.label);
  readTime(map, kRenewFrom, renewFrom);
  readTime(map, kLastRenewal, lastRenewalTime);
  if (!isComplete())
    throw plat::AssertionFail("serverId && serverName && serverSecret && team.name && team.id && "
                              "principal && principalPassword && renewFrom >= 0",
                              __FILE__, __LINE__);
}

bool SCredentialsData::isComplete() const
{
  return !serverId.isNull() && !serverName.isNull() && !serverSecret.isNull() &&
         !team.name.isNull() && !team.id.isNull() && !principal.isNull() &&
         !principalPassword.isNull() && renewFrom >= 0;
}

hosted::BedValuePtr SCredentialsData::toBed() const
{
  hosted::BedMap* map = new hosted::BedMap;
  hosted::BedValuePtr result(map);
  writeString(*map, kMyId, serverId);
  writeString(*map, kMyName, serverName);
  writeString(*map, kMySecret, serverSecret);
  writeString(*map, kTeamId, team.id);
  writeString(*map, kTeamName, team.name);
  writeString(*map, kPrincipal, principal);
  writeString(*map, kPrincipalPassword, principalPassword);
  writeTime(*map, kRenewFrom, renewFrom);
  writeString(*map, kLabel, team.label);
  writeTime(*map, kLastRenewal, lastRenewalTime);
  return result;
}

SCredentialsFile::SCredentialsFile(os::PersistentStore& store, const char* fileName)
  : store_(&store), fileName_(fileName ? fileName : kDefaultName)
{
}

SCredentialsFile::SCredentialsFile(std::unique_ptr<os::PersistentStore> store,
                                   const char* fileName)
  : ownedStore_(std::move(store)), store_(ownedStore_.get()),
    fileName_(fileName ? fileName : kDefaultName)
{
}

SCredentialsFile::SCredentialsFile(const char* path)
  : ownedStore_(new os::PersistentStoreFile(plat::dirName(path).str())),
    store_(ownedStore_.get()), fileName_(plat::baseName(path))
{
}

hosted::BedValuePtr SCredentialsFile::load()
{
  // Wiped when freed, whatever the store says: the record holds secrets.
  plat::MBuf<unsigned char> bytes(0, true);
  try {
    if (!store_->read(fileName_.str(), bytes))
      return hosted::BedValuePtr();
    bytes.setSecure(true);
    hosted::BedReader reader(bytes.length(), bytes.data());
    return hosted::decodeBed(reader, nullptr, true);
  } catch (plat::Exception&) {
    return hosted::BedValuePtr();
  }
}

void SCredentialsFile::save(const hosted::BedValue& value)
{
  rdr::MemOutStream out;
  out.setSecure(true);
  hosted::BedWriter writer(out);
  value.encode(writer);
  store_->write(fileName_.str(), out.data(), (int)out.length());
}

void SCredentialsFile::remove() { store_->remove(fileName_.str()); }

os::PersistentStoreFile& getAppPersistentStore(const char* app)
{
  static os::PersistentStoreFile* store = new os::PersistentStoreFile(nullptr);
  plat::String dir = os::getPersistentStorePath(app);
  if (plat::strCmpNull(dir.get(), store->getDirectory()) != 0)
    store->setDirectory(dir.get());
  return *store;
}

} // namespace hostedremoteaccess
