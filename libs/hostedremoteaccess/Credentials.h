// The cloud identity of a product program that joined a cloud account:
// the record (SCredentialsData, one BED map) and its file
// "CloudCredentials.bed" in a persistent store (SCredentialsFile).
//
// The record holds two secrets (the server secret and the principal's
// password); the encoded bytes pass only through buffers that are wiped
// when freed. Loop thread only.
#pragma once

#include <memory>

#include "hosted/Bed.h"
#include "os/PersistentStore.h"
#include "plat/String.h"
#include "plat/Time.h"

namespace hostedremoteaccess {

struct SCredentialsData {
  SCredentialsData() = default;
  // Reads the map's known keys; BedBadType for a non-map or a wrongly
  // typed key; plat::AssertionFail when a required field is missing.
  explicit SCredentialsData(const hosted::BedValue& value);

  // A new map of the fields that are set.
  hosted::BedValuePtr toBed() const;
  bool isComplete() const;

  struct Team {
    plat::String id;
    plat::String name;
    plat::String label;
  } team;
  plat::String serverId;
  plat::String serverName;
  plat::String serverSecret;
  plat::String principal;
  plat::String principalPassword;
  plat::Time renewFrom = -1;
  plat::Time lastRenewalTime = 0;
};

class SCredentialsFile {
public:
  static constexpr const char* kDefaultName = "CloudCredentials.bed";

  // A borrowed store, or one this accessor owns; a null name is the default.
  explicit SCredentialsFile(os::PersistentStore& store, const char* fileName = nullptr);
  explicit SCredentialsFile(std::unique_ptr<os::PersistentStore> store,
                            const char* fileName = nullptr);
  // The file at path: a store on its directory, its last component as name.
  explicit SCredentialsFile(const char* path);

  // The decoded map, or an empty handle when there is no usable file.
  hosted::BedValuePtr load();
  // Store errors propagate.
  void save(const hosted::BedValue& value);
  void remove();

  const char* fileName() const { return fileName_.str(); }

private:
  std::unique_ptr<os::PersistentStore> ownedStore_;
  os::PersistentStore* store_;
  plat::String fileName_;
};

// One process-wide store, pointed at app's persistent store directory on
// each call.
os::PersistentStoreFile& getAppPersistentStore(const char* app);

} // namespace hostedremoteaccess
