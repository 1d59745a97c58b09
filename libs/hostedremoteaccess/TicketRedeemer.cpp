#include "hostedremoteaccess/TicketRedeemer.h"

#include <string.h>

#include <memory>

#include "hosted/HostedException.h"
#include "hostedremoteaccess/JsonErrors.h"

namespace hostedremoteaccess {

const char* const kRedeemPath = "/authentication/1.1/tickets/redeem";

plat::MBuf<unsigned char> redeemBody(const char* ticket)
{
  plat::JsonObject body;
  body.set("ticket", new plat::JsonString(ticket));
  std::unique_ptr<char[]> text(body.toString());
  return plat::MBuf<unsigned char>(reinterpret_cast<const unsigned char*>(text.get()),
                                   (int)strlen(text.get()));
}

plat::JsonPtr<plat::JsonObject> redeemReply(const plat::MBuf<unsigned char>& body,
                                            const char* contentType)
{
  try {
    return parseJsonBody(body, contentType);
  } catch (plat::Exception& e) {
    throw hosted::HostedException(hosted::HostedException::kApplication, "JSON", e.str());
  }
}

} // namespace hostedremoteaccess
