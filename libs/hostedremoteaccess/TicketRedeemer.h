// Exchanges a sign-in ticket for a token at the hosted authentication
// service: POST {"ticket": ...} to the "enterprise/auth-uris" service's
// "/authentication/1.1/tickets/redeem" through a capabilities request,
// without credentials; only a 200 reply holding a JSON object redeems.
//
// The client and callback are borrowed. One redeem is pending at a time; a
// second redeem abandons the first without a callback, and destroying the
// redeemer ends a pending one silently. The callback may destroy the
// redeemer or start the next redeem. Loop thread.
#pragma once

#include <memory>

#include "hostedremoteaccess/CapsRequest.h"
#include "plat/Json.h"
#include "plat/MBuf.h"

namespace hostedremoteaccess {

// "/authentication/1.1/tickets/redeem".
extern const char* const kRedeemPath;

// The request body: the JSON writer's text of {"ticket": ticket}, in a
// secure buffer.
plat::MBuf<unsigned char> redeemBody(const char* ticket);
// The reply of an accepted (200) redeem as an object; a body that is not a
// JSON object of the JSON content type is a HostedException of the
// application stage, kind "JSON", with the parser's message.
plat::JsonPtr<plat::JsonObject> redeemReply(const plat::MBuf<unsigned char>& body,
                                            const char* contentType);

class TicketRedeemer : public CapsRequestCallback {
public:
  // What the owner implements; neither may throw.
  class Callback {
  public:
    // reply is valid during the call only.
    virtual void ticketRedeemed(const plat::JsonObject& reply) = 0;
    // A HostedException or CapsException.
    virtual void ticketRedeemFailed(const plat::Exception& error) = 0;
    virtual ~Callback() = default;
  };

  TicketRedeemer(CapsClient* client, Callback* callback);
  ~TicketRedeemer() override;
  TicketRedeemer(const TicketRedeemer&) = delete;
  TicketRedeemer& operator=(const TicketRedeemer&) = delete;

  void redeem(const char* ticket);

private:
  // --- CapsRequestCallback
  void capsResponse(CapsRequest* request, const plat::MBuf<unsigned char>& body,
                    const char* contentType) override;
  void capsFailed(CapsRequest* request, const hosted::HostedException& error) override;
  bool capsAcceptStatus(CapsRequest* request, int status) override;
  void capsRetrying(int delayMs) override;

  Callback* callback_;
  CapsClient* capsClient_;
  std::unique_ptr<CapsRequest> request_;
};

} // namespace hostedremoteaccess
