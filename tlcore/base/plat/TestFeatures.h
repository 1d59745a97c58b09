// The test-features gate: whether this machine unlocks the features that
// exist for our own testing (UI automation, a configurable trust store,
// overridable service addresses).
//
// The features are unlocked by a key file "TestFeaturesEnableKey" in one of
// the application's data directories (or its persistent store directory)
// whose SHA-256 digest equals the digest built into the program. Release
// builds carry the fixed release digest; a test build may be configured with
// the digest of the key file kept in the test fixtures instead, which a
// release build therefore never accepts.
//
// The first call decides and logs; later calls return the same answer
// without touching the file system. Called on the main thread; the state is
// plain, not locked.
#pragma once

#include <vector>

#include "plat/String.h"

namespace plat {

bool isTestFeaturesEnabled();

// The digest this build accepts (32 bytes) and the release digest.
const unsigned char* getTestFeaturesDigest();
const unsigned char* getReleaseTestFeaturesDigest();

#ifdef TL_TEST_HOOKS
// --- Test hooks: test builds only, so that nothing in a release build can
// open the gate.
// Forgets the answer so that the next call decides again.
void resetTestFeaturesGateForTests();
// Searches these directories instead of the application's (null restores
// them). The vector is borrowed.
void setTestFeaturesDirsForTests(const std::vector<String>* dirs);
// Compares with this 32-byte digest instead of the built-in one (null
// restores it). Borrowed.
void setTestFeaturesDigestForTests(const unsigned char* digest);
#endif

} // namespace plat
