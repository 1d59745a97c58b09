// Keyboard mnemonics of labels: "Save &As" shows as "Save As" with 'A' as
// its mnemonic. Stateless; any thread.
#pragma once

namespace plat {

// Edits label in place: "&&" becomes '&', a single '&' is dropped and marks
// the character after it (only the first such marker counts), and a '&' at
// the very end is dropped. Returns the marked character's code point, 0 when
// nothing is marked, or -1 when the marked character is not valid UTF-8.
// pos, when given, receives the marked character inside the edited label,
// or null.
int parseMnemonic(char* label, char** pos);

} // namespace plat
