// Feeds a recorded stream to xterm.js headless in 4096-byte blocks and
// prints the best MB/s of five passes (each pass waits for the parse).
const fs = require('fs');
const { Terminal } = require('@xterm/headless');

const data = fs.readFileSync(process.argv[2]);
const rows = Number(process.argv[3] || 100);
const term = new Terminal({ cols: 120, rows, allowProposedApi: true, scrollback: 0 });

function pass() {
  return new Promise((resolve) => {
    const start = process.hrtime.bigint();
    for (let at = 0; at < data.length; at += 4096) term.write(data.subarray(at, at + 4096));
    term.write('', () => resolve(Number(process.hrtime.bigint() - start) / 1e9));
  });
}

(async () => {
  let best = 0;
  for (let i = 0; i < 5; ++i) best = Math.max(best, data.length / (await pass()) / 1e6);
  console.log(best.toFixed(1));
})();
