#include "hostedremoteaccess/TicketRedeemer.h"

#include <string.h>

#include "hosted/HostedException.h"
#include "hostedremoteaccess/JsonErrors.h"

namespace hostedremoteaccess {

const char* const kRedeemPath = "/authentication/1.1/tickets/redeem";

plat::MBuf<unsigned char> redeemBody(const char* ticket)
{
  plat::JsonObject body;
  body.set("ticket", new plat::JsonString(ticket));
  std::unique_ptr<char[]> text(body.toString());
  int length = (int)strlen(text.get());
  plat::MBuf<unsigned char> out(reinterpret_cast<const unsigned char*>(text.get()), length, true);
  plat::secureZero(text.get(), length);
  return out;
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

TicketRedeemer::TicketRedeemer(CapsClient* client, Callback* callback)
    : callback_(callback), capsClient_(client)
{
}

TicketRedeemer::~TicketRedeemer() = default;

void TicketRedeemer::redeem(const char* ticket)
{
  request_.reset();
  request_ = std::make_unique<CapsRequest>(capsClient_, CapsClient::kAuth, kRedeemPath, this,
                                           "POST", redeemBody(ticket));
  request_->start();
}

bool TicketRedeemer::capsAcceptStatus(CapsRequest*, int status)
{
  return status == 200;
}

void TicketRedeemer::capsResponse(CapsRequest*, const plat::MBuf<unsigned char>& body,
                                  const char* contentType)
{
  // Detached first: the callback may destroy this redeemer.
  std::unique_ptr<CapsRequest> done(std::move(request_));
  Callback* callback = callback_;
  plat::JsonPtr<plat::JsonObject> reply;
  try {
    reply = redeemReply(body, contentType);
  } catch (hosted::HostedException& e) {
    callback->ticketRedeemFailed(e);
    return;
  }
  callback->ticketRedeemed(*reply);
}

void TicketRedeemer::capsFailed(CapsRequest*, const hosted::HostedException& error)
{
  std::unique_ptr<CapsRequest> done(std::move(request_));
  callback_->ticketRedeemFailed(error);
}

void TicketRedeemer::capsRetrying(int) {}

} // namespace hostedremoteaccess
