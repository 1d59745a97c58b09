// Small flag sets in place of runs of bool arguments: an
// `enum class X : unsigned` of single bits, with PLAT_FLAG_OPERATORS(X)
// beside it (in the same namespace) for combining and testing.
#pragma once

#define PLAT_FLAG_OPERATORS(E)                                                                    \
  constexpr E operator|(E a, E b)                                                                 \
  {                                                                                               \
    return E((unsigned)a | (unsigned)b);                                                          \
  }                                                                                               \
  /* Whether set holds any of the flags in e. */                                                  \
  constexpr bool hasAny(E set, E e)                                                               \
  {                                                                                               \
    return ((unsigned)set & (unsigned)e) != 0;                                                    \
  }
