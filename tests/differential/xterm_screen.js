// Runs a byte stream through xterm.js headless, with the Unicode 11 widths of
// @xterm/addon-unicode11, and writes its screen in vtsnap's file format (with
// colours), so the two can be compared byte for byte. Only the foreground and
// background colours are kept, as vtsnap does.
'use strict';

const { Terminal } = require('@xterm/headless');
const { Unicode11Addon } = require('@xterm/addon-unicode11');

const COLS = 120;

// A fresh 120 x rows terminal without scrollback, measuring characters with
// Unicode 11's widths.
function newTerminal(rows) {
  const term = new Terminal({ cols: COLS, rows, scrollback: 0, allowProposedApi: true, logLevel: 'off' });
  term.loadAddon(new Unicode11Addon());
  term.unicode.activeVersion = '11';
  return term;
}

function colorSequence(foreground, mode, value) {
  if (mode === 'default') return foreground ? '\x1b[39m' : '\x1b[49m';
  if (mode === 'rgb') {
    const r = (value >> 16) & 0xff, g = (value >> 8) & 0xff, b = value & 0xff;
    return `\x1b[${foreground ? 38 : 48};2;${r};${g};${b}m`;
  }
  if (value < 8) return `\x1b[${(foreground ? 30 : 40) + value}m`;
  if (value < 16) return `\x1b[${(foreground ? 82 : 92) + value}m`;
  return `\x1b[${foreground ? 38 : 48};5;${value}m`;
}

function colorOf(cell, foreground) {
  if (foreground) {
    if (cell.isFgDefault()) return ['default', 0];
    return [cell.isFgRGB() ? 'rgb' : 'palette', cell.getFgColor()];
  }
  if (cell.isBgDefault()) return ['default', 0];
  return [cell.isBgRGB() ? 'rgb' : 'palette', cell.getBgColor()];
}

// The screen as vtsnap renders its own: BOM, the rows from the first to the
// last that hold anything but spaces, each cut after its last character that
// is neither space nor TAB, colour changes as SGR, CR LF after each row.
function screenFile(term) {
  const buffer = term.buffer.active;
  const rows = [];
  const cell = buffer.getNullCell();
  for (let y = 0; y < term.rows; ++y) {
    const line = buffer.getLine(buffer.baseY + y);
    const cells = [];
    let wide = false;
    for (let x = 0; x < COLS; ++x) {
      line.getCell(x, cell);
      // A wide character's second cell adds nothing (chars ''); an empty
      // cell anywhere else is a blank. A cell holds its character followed
      // by the marks joined to it.
      const continuation = wide && cell.getWidth() === 0 && cell.getChars() === '';
      wide = cell.getWidth() === 2;
      const chars = continuation ? '' : cell.getChars() || ' ';
      const [fgMode, fg] = colorOf(cell, true);
      const [bgMode, bg] = colorOf(cell, false);
      cells.push({ chars, fg: `${fgMode}:${fg}`, bg: `${bgMode}:${bg}`, fgMode, fgValue: fg, bgMode, bgValue: bg });
    }
    rows.push(cells);
  }
  const occupied = (cells) => cells.some((c) => c.chars !== ' ' && c.chars !== '');
  let first = 0;
  while (first < rows.length && !occupied(rows[first])) ++first;
  let last = rows.length - 1;
  while (last > first && !occupied(rows[last])) --last;

  let out = '\ufeff';
  if (first === rows.length) return Buffer.from(out, 'utf8');
  for (let y = first; y <= last; ++y) {
    const cells = rows[y];
    let end = cells.length;
    while (end > 0 && (cells[end - 1].chars === ' ' || cells[end - 1].chars === '\t')) --end;
    let fg = 'default:0', bg = 'default:0';
    for (let x = 0; x < end; ++x) {
      const c = cells[x];
      if (c.chars === '') continue;  // a wide character has the colours of its first cell
      if (c.fg !== fg) out += colorSequence(true, c.fgMode, c.fgValue);
      if (c.bg !== bg) out += colorSequence(false, c.bgMode, c.bgValue);
      fg = c.fg;
      bg = c.bg;
      out += c.chars;
    }
    if (fg !== 'default:0' || bg !== 'default:0') out += '\x1b[0m';
    out += '\r\n';
  }
  return Buffer.from(out, 'utf8');
}

// Where xterm.js's blocks end: after the first C0 control at or past each
// multiple of `chunk` bytes, so that no character and no run of text is cut.
// The screen takes any cut, but xterm.js does not, in two ways:
//   - its UTF-8 decoder keeps the bytes of a character cut at a block's end,
//     and loses them (with the character) when one of the continuation bytes
//     it kept is 0x80;
//   - text is printed a run at a time, and only at the start of a run does
//     it blank a wide character whose second half the cursor is on, which
//     matters after a wide character was dropped at the margin (auto-wrap off).
// Blocks stay below 64 KiB even without a control (cut before a byte that
// starts a character), well under the 128 KiB that xterm.js cuts blocks into.
function xtermCuts(data, chunk) {
  const limit = 65536;
  const cuts = [];
  let start = 0;
  while (start < data.length) {
    let end = Math.min(data.length, start + Math.max(1, Math.min(chunk, limit)));
    while (end < data.length && end - start < limit && data[end - 1] >= 0x20) ++end;
    if (end < data.length && data[end - 1] >= 0x20) {
      while (end > start + 1 && (data[end] & 0xc0) === 0x80) --end;
    }
    cuts.push(end);
    start = end;
  }
  return cuts;
}

// Feeds `data` to a fresh 120 x rows terminal without scrollback, in blocks
// of about `chunk` bytes (see xtermCuts); resolves to the file bytes.
function renderXterm(data, rows, chunk) {
  const term = newTerminal(rows);
  return new Promise((resolve, reject) => {
    try {
      let start = 0;
      for (const end of xtermCuts(data, chunk)) {
        term.write(data.subarray(start, end));
        start = end;
      }
      term.write(new Uint8Array(0), () => {
        try {
          resolve(screenFile(term));
        } catch (e) {
          reject(e);
        } finally {
          term.dispose();
        }
      });
    } catch (e) {
      term.dispose();
      reject(e);
    }
  });
}

module.exports = { renderXterm, newTerminal, COLS };
