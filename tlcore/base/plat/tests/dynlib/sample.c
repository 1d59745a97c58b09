/* A shared library for the optional-function tests. */
int tl_dyntest_answer(void)
{
  return 42;
}
