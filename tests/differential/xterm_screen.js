// Runs a byte stream through xterm.js headless and writes its screen in
// vtsnap's file format (with colours), so the two can be compared byte for
// byte. Only the foreground and background colours are kept, as vtsnap does.
'use strict';

const { Terminal } = require('@xterm/headless');

const COLS = 120;

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
    for (let x = 0; x < COLS; ++x) {
      line.getCell(x, cell);
      const chars = cell.getChars() || ' ';
      const [fgMode, fg] = colorOf(cell, true);
      const [bgMode, bg] = colorOf(cell, false);
      cells.push({ chars, fg: `${fgMode}:${fg}`, bg: `${bgMode}:${bg}`, fgMode, fgValue: fg, bgMode, bgValue: bg });
    }
    rows.push(cells);
  }
  const occupied = (cells) => cells.some((c) => c.chars !== ' ');
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

// Feeds `data` in blocks of `chunk` bytes to a fresh 120 x rows terminal
// without scrollback; resolves to the file bytes.
function renderXterm(data, rows, chunk) {
  const term = new Terminal({ cols: COLS, rows, scrollback: 0, allowProposedApi: true, logLevel: 'off' });
  return new Promise((resolve, reject) => {
    try {
      for (let at = 0; at < data.length; at += chunk) term.write(data.subarray(at, at + chunk));
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

module.exports = { renderXterm, COLS };
