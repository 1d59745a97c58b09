// Composes accented characters from dead keys and from Multi_key (compose)
// sequences inside the program's own edit fields.
//
// The built-in combination tables can be extended, and the dead-key symbols
// replaced, by the JSON file named by the parameter DeadKeyFile. One
// DeadKeyUtil belongs to one edit field, on the user-interface thread.
#pragma once

#include <stdint.h>

#include <map>
#include <set>
#include <vector>

#include "plat/Json.h"
#include "rfb/KeysymTables.h"

namespace rfb {

class DeadKeyUtil {
public:
  // Registers the built-in tables, then reads DeadKeyFile (no language).
  DeadKeyUtil();

  // Reads DeadKeyFile, taking "deadKeys-<language>" over "deadKeys" when a
  // language is given. Errors are logged; what was loaded before stays.
  void readDeadKeyFile(const char* language = nullptr);

  // One key event. The keysyms appended to out are typed text; a true
  // answer means the event itself is dropped.
  bool processKey(uint32_t keysym, bool down, std::vector<uint32_t>& out);

  // The dead key and base of a result (the last table that has it wins).
  bool decompose(uint32_t result, uint32_t& dead, uint32_t& base) const;
  // The first match over the tables in registration order, or 0.
  uint32_t findCombination(uint32_t dead, uint32_t base) const;
  // First matches in the dead-key symbol table, or 0.
  uint32_t deadForSpacing(uint32_t spacing) const;
  uint32_t spacingForDead(uint32_t dead) const;

private:
  void addTable(const CombinationTable& table);
  bool readDeadKeys(const plat::JsonObject& object, const char* key);
  bool readComps(const plat::JsonObject& object, const char* key);

  std::vector<CombinationTable> tables_;
  std::map<uint32_t, const Combination*> byResult_;
  const DeadKeySymbol* deadSymbols_;
  int deadSymbolCount_;
  std::vector<DeadKeySymbol> loadedDeadSymbols_;
  std::vector<Combination> loadedComps_;
  uint32_t pending_ = 0;
  bool composing_ = false;
  std::set<uint32_t> consumed_;
};

} // namespace rfb
