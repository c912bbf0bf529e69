// Feeds a recorded stream to xterm.js headless in 4096-byte blocks, waits for
// the parse, prints the screen's text and exits: one process per measurement,
// like vtsnap-render.
//   node xterm_feed.js FILE [ROWS]
const fs = require('fs');
const { Terminal } = require('@xterm/headless');

const data = fs.readFileSync(process.argv[2]);
const rows = Number(process.argv[3] || 100);
const term = new Terminal({ cols: 120, rows, allowProposedApi: true, scrollback: 0 });

for (let at = 0; at < data.length; at += 4096) term.write(data.subarray(at, at + 4096));
term.write('', () => {
  const buffer = term.buffer.active;
  const lines = [];
  for (let r = 0; r < rows; ++r) lines.push(buffer.getLine(buffer.viewportY + r).translateToString(true));
  process.stdout.write(lines.join('\n') + '\n');
});
