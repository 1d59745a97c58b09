// The JSON parser on arbitrary bytes, with strict numbers and without: a
// refusal must be a JsonException, and a document that parses must be
// written in valid UTF-8, parse again to an equal value, and be written the
// same way the second time. formatJson never throws.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "plat/Json.h"
#include "plat/utf8.h"

using namespace plat;

namespace {

void check(bool ok)
{
  if (!ok)
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1 << 20))
    return 0;
  for (bool strict : {true, false}) {
    JsonPtr<JsonValue> v;
    try {
      v = JsonValue::parse(data, (int)size, nullptr, strict);
    } catch (JsonException&) {
      continue;
    }
    std::unique_ptr<char[]> text(v->toString());
    int len = (int)strlen(text.get());
    check(isValidUtf8(text.get()));
    // Anything else than a value here is a fault: let it escape and abort.
    JsonPtr<JsonValue> again = JsonValue::parse(text.get(), len, nullptr, strict);
    check(jsonEqual(*v, *again));
    std::unique_ptr<char[]> text2(again->toString());
    check(strcmp(text.get(), text2.get()) == 0);
    check(jsonEqual(*v, *JsonValue::clone(*v)));
  }
  String formatted;
  formatJson(formatted, data, (int)size, "application/json", size % 2 == 0);
  check(!formatted.isNull());
  return 0;
}
