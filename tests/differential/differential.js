#!/usr/bin/env node
// Compares vtsnap-render -color with xterm.js headless, byte for byte, on
// generated streams and on recorded ones.
//
//   node differential.js --render PATH --gen PATH [--wide] [--first N]
//        [--count N] [--recordings DIR] [--work DIR] [--shrink] [--show N]
//        [--quiet]
//
// vtsnap-render reads each generated stream in the blocks the generator picks
// for it and in blocks of one byte, each recording in several block sizes:
// blocks cut characters and sequences anywhere. xterm.js reads each stream
// once, in blocks that cut neither a character nor a run of text (see
// xterm_screen.js). --wide adds the generator's wide, emoji, combining and
// zero-width characters.
// On a difference it prints the seed, the first row that differs on each side
// and, with --shrink, the smallest stream it could find by dropping items.
// Exit code 0 when all agree, 1 on any difference, 2 on a usage error.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFile, execFileSync } = require('child_process');
const { renderXterm } = require('./xterm_screen.js');

function parseArgs(argv) {
  const options = { first: 1, count: 0, shrink: false, show: 10, quiet: false, wide: false };
  for (let i = 2; i < argv.length; ++i) {
    const arg = argv[i];
    const value = () => {
      if (i + 1 >= argv.length) usage(`${arg} needs a value`);
      return argv[++i];
    };
    if (arg === '--render') options.render = value();
    else if (arg === '--gen') options.gen = value();
    else if (arg === '--first') options.first = Number(value());
    else if (arg === '--count') options.count = Number(value());
    else if (arg === '--recordings') options.recordings = value();
    else if (arg === '--work') options.work = value();
    else if (arg === '--show') options.show = Number(value());
    else if (arg === '--shrink') options.shrink = true;
    else if (arg === '--wide') options.wide = true;
    else if (arg === '--quiet') options.quiet = true;
    else usage(`unknown argument ${arg}`);
  }
  if (!options.render) usage('--render is needed');
  if (options.count > 0 && !options.gen) usage('--gen is needed with --count');
  return options;
}

function usage(message) {
  console.error(`differential.js: ${message}`);
  console.error('usage: node differential.js --render PATH --gen PATH [--wide] [--first N] [--count N] ' +
                '[--recordings DIR] [--work DIR] [--shrink] [--show N] [--quiet]');
  process.exit(2);
}

// Bytes shown on one line: printable ASCII as is, the rest escaped.
function escapeBytes(bytes) {
  let out = '';
  for (const b of bytes) {
    if (b === 0x1b) out += '\\e';
    else if (b === 0x5c) out += '\\\\';
    else if (b >= 0x20 && b < 0x7f) out += String.fromCharCode(b);
    else out += '\\x' + b.toString(16).padStart(2, '0');
  }
  return out;
}

// File bytes as rows, each shown escaped but for its UTF-8 text.
function fileRows(file) {
  const text = file.toString('utf8').replace(/^\ufeff/, '');
  const rows = text.split('\r\n');
  rows.pop();
  return rows.map((row) => row.replace(/\x1b/g, '\\e').replace(/[\x00-\x1f\x7f-\x9f]/g,
    (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0')));
}

function firstDifference(expected, actual) {
  const a = fileRows(expected), b = fileRows(actual);
  for (let i = 0; i < Math.max(a.length, b.length); ++i) {
    if (a[i] !== b[i]) {
      return `first differing file row ${i + 1} (of ${a.length} / ${b.length}):\n` +
             `    xterm.js: ${a[i] === undefined ? '(none)' : JSON.stringify(a[i])}\n` +
             `    vtsnap:   ${b[i] === undefined ? '(none)' : JSON.stringify(b[i])}`;
    }
  }
  return 'the files differ in bytes that do not show per row';
}

function renderVtsnap(render, input, rows, chunk) {
  return new Promise((resolve, reject) => {
    const args = ['-color', `-rows=${rows}`, `-chunk=${chunk}`, input, '-'];
    execFile(render, args, { encoding: 'buffer', maxBuffer: 1 << 26 }, (error, stdout, stderr) => {
      if (error) reject(new Error(`${render} ${args.join(' ')}: ${error.message} ${stderr}`));
      else resolve(stdout);
    });
  });
}

function renderVtsnapSync(render, bytes, rows, chunk) {
  return execFileSync(render, ['-color', `-rows=${rows}`, `-chunk=${chunk}`, '-', '-'],
                      { input: bytes, maxBuffer: 1 << 26 });
}

// Generates one stream without the items in `drop`; returns its bytes and
// what the generator says about it.
function generate(options, seed, drop, file) {
  const args = options.wide ? ['--wide'] : [];
  args.push('--seed', String(seed));
  if (drop.size) args.push('--drop', [...drop].join(','));
  args.push(file);
  const [header, kinds] = execFileSync(options.gen, args, { encoding: 'utf8' }).split('\n');
  const [, rows, chunk, items] = header.split(' ').map(Number);
  return { bytes: fs.readFileSync(file), rows, chunk, items, kinds: kinds.trim() };
}

// Drops items one at a time, last first, while the difference stays; then
// again while that helps. Bounded, so a stubborn stream costs seconds.
async function shrink(options, seed, chunk, work) {
  const file = path.join(work, `shrink-${seed}.vt`);
  const full = generate(options, seed, new Set(), file);
  const differs = async (s) => {
    const expected = await renderXterm(s.bytes, s.rows, s.chunk);
    return Buffer.compare(expected, renderVtsnapSync(options.render, s.bytes, s.rows, chunk)) !== 0;
  };
  const drop = new Set();
  let best = full;
  let budget = 1500;
  for (let progress = true; progress && budget > 0;) {
    progress = false;
    for (let i = full.items - 1; i >= 0 && budget > 0; --i) {
      if (drop.has(i)) continue;
      drop.add(i);
      --budget;
      const candidate = generate(options, seed, drop, file);
      if (await differs(candidate)) {
        best = candidate;
        progress = true;
      } else {
        drop.delete(i);
      }
    }
  }
  fs.rmSync(file, { force: true });
  return best;
}

// Recordings are named NAME.rROWS.vt: the rows of the terminal they were made on.
function recordings(dir) {
  if (!dir) return [];
  return fs.readdirSync(dir).filter((f) => /\.r\d+\.vt$/.test(f)).sort().map((f) => ({
    name: f, file: path.join(dir, f), rows: Number(f.match(/\.r(\d+)\.vt$/)[1]),
  }));
}

async function main() {
  const options = parseArgs(process.argv);
  const work = options.work || fs.mkdtempSync(path.join(os.tmpdir(), 'vtsnap-differential-'));
  fs.mkdirSync(work, { recursive: true });
  const start = Date.now();
  const failures = [];
  let compared = 0;

  // Up to two vtsnap-render jobs run while xterm.js works on the next stream.
  const jobs = [];
  const compare = async (label, bytes, input, rows, chunks, seed) => {
    const expected = await renderXterm(bytes, rows, chunks[0]);
    const job = Promise.all(chunks.map((chunk) => renderVtsnap(options.render, input, rows, chunk).then((actual) => {
      ++compared;
      if (Buffer.compare(expected, actual) !== 0) failures.push({ label, bytes, rows, chunk, seed, expected, actual });
    }))).then(() => {
      if (seed !== undefined) fs.rmSync(input, { force: true });
    });
    jobs.push(job);
    if (jobs.length >= 2) await jobs.shift();
  };

  if (options.count > 0) {
    const args = options.wide ? ['--wide'] : [];
    args.push('--batch', String(options.first), String(options.count), work);
    const listing = execFileSync(options.gen, args, { encoding: 'utf8', maxBuffer: 1 << 26 });
    for (const line of listing.trim().split('\n')) {
      const [seed, rows, chunk] = line.split(' ').map(Number);
      const input = path.join(work, `${seed}.vt`);
      await compare(`seed ${seed}`, fs.readFileSync(input), input, rows, chunk === 1 ? [1] : [chunk, 1], seed);
    }
  }
  const recorded = recordings(options.recordings);
  for (const r of recorded) {
    const bytes = fs.readFileSync(r.file);
    await compare(`recording ${r.name}`, bytes, r.file, r.rows, [4096, 1, 3, 17, 256, 1048576]);
  }
  await Promise.all(jobs);

  let shown = 0;
  for (const f of failures) {
    if (shown++ >= options.show) break;
    console.log(`DIFFERENT: ${f.label}, ${f.rows} rows, blocks of ${f.chunk} bytes, ${f.bytes.length} bytes`);
    console.log('  ' + firstDifference(f.expected, f.actual).replace(/\n/g, '\n  '));
    if (options.shrink && f.seed !== undefined) {
      const small = await shrink(options, f.seed, f.chunk, work);
      console.log(`  smallest found (${small.bytes.length} bytes, ${small.rows} rows, blocks of ${f.chunk}):`);
      console.log(`    items: ${small.kinds}`);
      console.log(`    bytes: ${escapeBytes(small.bytes)}`);
      const expected = await renderXterm(small.bytes, small.rows, small.chunk);
      const actual = renderVtsnapSync(options.render, small.bytes, small.rows, f.chunk);
      console.log('    ' + firstDifference(expected, actual).replace(/\n/g, '\n    '));
    } else if (!options.quiet && f.bytes.length <= 400) {
      console.log(`  bytes: ${escapeBytes(f.bytes)}`);
    }
  }
  if (!options.work) fs.rmSync(work, { recursive: true, force: true });
  const seconds = ((Date.now() - start) / 1000).toFixed(1);
  console.log(`differential: ${compared} comparisons (${options.count} generated streams from seed ${options.first}, ` +
              `${recorded.length} recordings), ${failures.length} different, ${seconds} s`);
  process.exit(failures.length ? 1 : 0);
}

main().catch((e) => {
  console.error(e.stack || String(e));
  process.exit(3);
});
