/* A stand-in for the proxy-discovery library, built by the proxy settings
 * test: the answer comes from FAKE_PX_ANSWER (unset: no answer), the URL
 * asked for is left in FAKE_PX_ASKED, and FAKE_PX_NEW_FAILS makes the
 * factory fail. Answers are malloc'd, as the caller frees them. */
#include <stdlib.h>
#include <string.h>

static int factory;

void* px_proxy_factory_new(void)
{
  return getenv("FAKE_PX_NEW_FAILS") ? NULL : &factory;
}

char** px_proxy_factory_get_proxies(void* f, const char* url)
{
  if (f != &factory)
    abort();
  setenv("FAKE_PX_ASKED", url, 1);
  const char* answer = getenv("FAKE_PX_ANSWER");
  if (!answer)
    return NULL;
  char** list = malloc(3 * sizeof(char*));
  list[0] = strdup(answer);
  list[1] = strdup("direct://");
  list[2] = NULL;
  return list;
}

void px_proxy_factory_free(void* f)
{
  if (f != &factory)
    abort();
}
