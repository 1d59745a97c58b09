// The product package's handling of ticket redeem replies: the input is one
// JSON value; an object is one reply, an array's elements are successive
// replies. The token phase ends at most once, only kinds the package
// accepts are applied, each once, and nothing throws out of the handler.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <set>
#include <string>

#include "fuzz_util.h"
#include "plat/Json.h"
#include "tlOrbSetup/Pkg.h"

namespace {

class FuzzPkg : public tlOrbSetup::Pkg, public tlOrbSetup::Pkg::ApplyTokenCallback {
public:
  FuzzPkg() : Pkg(nullptr, nullptr, "https://dl.example/p.deb", "Fuzz")
  {
    apps_.emplace_back("viewer");
    apps_.emplace_back("server");
    tokenKinds_.emplace_back("viewer-session");
    tokenKinds_.emplace_back("server-join");
  }
  void launch() override {}
  void applyToken(const char* kind) override
  {
    FUZZ_CHECK(strcmp(kind, "viewer-session") == 0 || strcmp(kind, "server-join") == 0);
    FUZZ_CHECK(applied.insert(kind).second);
    // A token that cannot be applied ends the phase.
    if (strcmp(kind, "server-join") == 0 && tokens_.find(plat::String(kind))->second.length() == 0)
      throw plat::Exception("No server exe found");
  }
  void done(Pkg*, const plat::Exception&) override { dones++; }

  std::set<std::string> applied;
  int dones = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzQuietLogs();
  plat::JsonPtr<plat::JsonValue> value;
  try {
    value = plat::JsonValue::parse(data, (int)size, nullptr);
  } catch (plat::Exception&) {
    return 0;
  }
  FuzzPkg pkg;
  tlOrbSetup::Pkg::TicketMap tickets;
  tickets[plat::String("viewer")] = plat::SecureString("v");
  tickets[plat::String("server")] = plat::SecureString("s");
  int started = 0;
  pkg.applyTokens(
      &pkg,
      [&started](tlOrbSetup::Pkg&, const char*) {
        started++;
        return std::make_unique<tlOrbSetup::Pkg::Redeemer>();
      },
      tickets);
  auto feed = [&](plat::JsonValue& v) {
    if (v.kind() == plat::JsonValue::kObject)
      pkg.ticketRedeemed(v.asObject());
  };
  if (value->kind() == plat::JsonValue::kArray) {
    plat::JsonArray& list = value->asArray();
    for (int i = 0; i < list.size(); i++)
      feed(*list.get(i));
  } else {
    feed(*value);
  }
  FUZZ_CHECK(pkg.dones <= 1);
  FUZZ_CHECK(started >= 1 && started <= 2);
  return 0;
}
