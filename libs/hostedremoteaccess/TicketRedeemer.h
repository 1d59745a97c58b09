// Exchanges a sign-in ticket for a token at the hosted authentication
// service: POST {"ticket": ...} to the "enterprise/auth-uris" service's
// "/authentication/1.1/tickets/redeem" through a capabilities request,
// without credentials; only a 200 reply holding a JSON object redeems.
// Loop thread.
#pragma once

#include "plat/Json.h"
#include "plat/MBuf.h"

namespace hostedremoteaccess {

// "/authentication/1.1/tickets/redeem".
extern const char* const kRedeemPath;

// The request body: the JSON writer's text of {"ticket": ticket}.
plat::MBuf<unsigned char> redeemBody(const char* ticket);
// The reply of an accepted (200) redeem as an object; a body that is not a
// JSON object of the JSON content type is a HostedException of the
// application stage, kind "JSON", with the parser's message.
plat::JsonPtr<plat::JsonObject> redeemReply(const plat::MBuf<unsigned char>& body,
                                            const char* contentType);

} // namespace hostedremoteaccess
