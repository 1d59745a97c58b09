// The built-in keysym tables (generated into KeysymTables.cpp by
// tools/gen_keysym_tables.py): keysym/code point pairs, dead-key symbols and
// combination tables. Read-only data for the whole process.
#pragma once

#include <stdint.h>

namespace rfb {

struct KeysymPair {
  uint32_t keysym;
  uint32_t ucs;
};

// A dead key and the spacing accent that stands for it.
struct DeadKeySymbol {
  uint32_t spacing;
  uint32_t dead;
};

// result = dead key followed by base key.
struct Combination {
  uint32_t result;
  uint32_t dead;
  uint32_t base;
};

struct CombinationTable {
  int count;
  const Combination* entries;  // not owned
};

extern const KeysymPair kKeysymPairs[748];
extern const DeadKeySymbol kBuiltInDeadSymbols[20];
extern const CombinationTable kBuiltInCombinations[7];

} // namespace rfb
