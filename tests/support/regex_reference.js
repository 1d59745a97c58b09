// Reference results of JavaScript regular expressions for the Regex tests.
// Input: a file of lines, each a JSON array [pattern, flags, text,
// replacement]. Output: one JSON line per input line,
//   {"m": [start, end, [groupStart, groupEnd] or null, ...] or null,
//    "r": text with every match replaced, "f": with the first replaced,
//    "s": the pieces of splitting the text (null for unset groups)}
// or {"e": message} when the pattern does not compile.
'use strict';
const fs = require('fs');

const lines = fs.readFileSync(process.argv[2], 'utf8').split('\n').filter((l) => l.length);
const out = [];
for (const line of lines) {
  const [pattern, flags, text, replacement] = JSON.parse(line);
  let re;
  try {
    re = new RegExp(pattern, flags + 'd');
  } catch (e) {
    out.push(JSON.stringify({e: e.message}));
    continue;
  }
  const m = re.exec(text);
  let match = null;
  if (m) {
    match = [m.index, m.index + m[0].length];
    for (let i = 1; i < m.length; i++)
      match.push(m.indices[i] === undefined ? null : m.indices[i]);
  }
  const split = text.split(new RegExp(pattern, flags)).map((s) => (s === undefined ? null : s));
  out.push(JSON.stringify({
    m: match,
    r: text.replace(new RegExp(pattern, flags + 'g'), replacement),
    f: text.replace(new RegExp(pattern, flags), replacement),
    s: split,
  }));
}
process.stdout.write(out.join('\n') + (out.length ? '\n' : ''));
