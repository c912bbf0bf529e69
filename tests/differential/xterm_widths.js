#!/usr/bin/env node
// Compares charWidth (terminal/char_width.hpp) with the widths xterm.js gives
// with its Unicode 11 addon, on every code point that Unicode 11 assigns.
//
//   node xterm_widths.js --widths PATH --ucd DIR
//
// PATH prints charWidth of U+0000..U+10FFFF, a signed byte each
// (vtsnap-widths); DIR is the Unicode Character Database (its DerivedAge.txt
// tells what Unicode 11 assigns). xterm.js's width is read off its screen:
// each code point is printed after an 'a' at the start of a row, and the
// cells show whether it joined the 'a' (0), took one or two cells of its own,
// or was dropped (-1). The controls U+0000-U+001F and U+007F-U+009F are left
// out: both hand them to the parser, not to the table.
// Exit code 0 when all agree, 1 on any difference, 2 on a usage error.
'use strict';

const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const { newTerminal } = require('./xterm_screen.js');

const LIMIT = 0x110000;

function parseArgs(argv) {
  const options = {};
  for (let i = 2; i < argv.length; ++i) {
    if (argv[i] === '--widths' && i + 1 < argv.length) options.widths = argv[++i];
    else if (argv[i] === '--ucd' && i + 1 < argv.length) options.ucd = argv[++i];
    else usage(`unknown argument ${argv[i]}`);
  }
  if (!options.widths || !options.ucd) usage('--widths and --ucd are needed');
  return options;
}

function usage(message) {
  console.error(`xterm_widths.js: ${message}`);
  console.error('usage: node xterm_widths.js --widths PATH --ucd DIR');
  process.exit(2);
}

// Code points assigned in Unicode 11.0 or before, from DerivedAge.txt.
function assignedBy11(ucd) {
  const assigned = new Uint8Array(LIMIT);
  for (const line of fs.readFileSync(path.join(ucd, 'DerivedAge.txt'), 'utf8').split('\n')) {
    const data = line.split('#')[0].trim();
    if (!data) continue;
    const [span, age] = data.split(';').map((s) => s.trim());
    const [major, minor] = age.split('.').map(Number);
    if (major > 11 || (major === 11 && minor > 0)) continue;
    const [first, last] = span.split('..').map((s) => parseInt(s, 16));
    assigned.fill(1, first, (last === undefined ? first : last) + 1);
  }
  return assigned;
}

function utf8(cp) {
  if (cp < 0x80) return [cp];
  if (cp < 0x800) return [0xc0 | (cp >> 6), 0x80 | (cp & 0x3f)];
  if (cp < 0x10000) return [0xe0 | (cp >> 12), 0x80 | ((cp >> 6) & 0x3f), 0x80 | (cp & 0x3f)];
  return [0xf0 | (cp >> 18), 0x80 | ((cp >> 12) & 0x3f), 0x80 | ((cp >> 6) & 0x3f), 0x80 | (cp & 0x3f)];
}

// xterm.js's width of each code point in `codes`, a screen of rows at a time.
async function xtermWidths(codes) {
  const rows = 1000;
  const term = newTerminal(rows);
  const cell = term.buffer.active.getNullCell();
  const widths = new Map();
  for (let at = 0; at < codes.length; at += rows) {
    const batch = codes.slice(at, at + rows);
    const bytes = [];
    batch.forEach((cp, row) => bytes.push(...Buffer.from(`\x1b[${row + 1}H\x1b[2Ka`), ...utf8(cp)));
    await new Promise((resolve) => term.write(new Uint8Array(bytes), resolve));
    batch.forEach((cp, row) => {
      const line = term.buffer.active.getLine(row);
      const first = line.getCell(0, cell).getChars();
      const second = line.getCell(1, cell);
      let width = 'unreadable';
      if (first === 'a' + String.fromCodePoint(cp)) width = 0;
      else if (first === 'a' && second.getChars() === '') width = -1;
      else if (first === 'a' && second.getChars() === String.fromCodePoint(cp)) width = second.getWidth();
      widths.set(cp, width);
    });
  }
  term.dispose();
  return widths;
}

const hex = (cp) => 'U+' + cp.toString(16).toUpperCase().padStart(4, '0');

// Where the screen parts from xterm.js on purpose: noncharacters and the line
// and paragraph separators are dropped like controls; xterm.js shows them.
function droppedOnPurpose(cp, ours, theirs) {
  const noncharacter = (cp >= 0xfdd0 && cp <= 0xfdef) || (cp & 0xfffe) === 0xfffe;
  return ours === -1 && theirs === 1 && (noncharacter || cp === 0x2028 || cp === 0x2029);
}

async function main() {
  const options = parseArgs(process.argv);
  const ours = new Int8Array(execFileSync(options.widths, { maxBuffer: 2 * LIMIT }).buffer);
  if (ours.length !== LIMIT) throw new Error(`${options.widths} wrote ${ours.length} widths, not ${LIMIT}`);
  const assigned = assignedBy11(options.ucd);
  const codes = [];
  for (let cp = 0; cp < LIMIT; ++cp) {
    const control = cp < 0x20 || (cp >= 0x7f && cp < 0xa0);
    if (assigned[cp] && !control) codes.push(cp);
  }
  const theirs = await xtermWidths(codes);
  const differences = [];
  let onPurpose = 0;
  for (const cp of codes) {
    if (ours[cp] === theirs.get(cp)) continue;
    if (droppedOnPurpose(cp, ours[cp], theirs.get(cp))) ++onPurpose;
    else differences.push(cp);
  }
  for (const cp of differences.slice(0, 30)) {
    console.log(`DIFFERENT: ${hex(cp)}: charWidth ${ours[cp]}, xterm.js ${theirs.get(cp)}`);
  }
  console.log(`widths: ${codes.length} code points of Unicode 11 compared, ${differences.length} different, ` +
              `${onPurpose} noncharacters and separators dropped on purpose`);
  process.exit(differences.length ? 1 : 0);
}

main().catch((e) => {
  console.error(e.stack || String(e));
  process.exit(3);
});
