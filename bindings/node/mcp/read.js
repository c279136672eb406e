'use strict';
// The read_lines tool: numbered lines, at most MAX_READ_LINES of them or
// MAX_READ_BYTES, each line cut to MAX_SHOWN_LINE characters, in the reads'
// own lane. The library's read cannot be stopped; it is bounded by the
// library's file limit (256 MiB), and a read past the call's time limit is
// answered with an error while its slot stays taken until it returns.

const qg = require('..');
const { confine } = require('./confine');
const { MAX_SHOWN_LINE, cutLine, textResult } = require('./output');

const MAX_READ_LINES = 2000;
const MAX_READ_BYTES = 256 * 1024;

/** Rejects after `ms` with a message naming the limit, unless `promise` settles first. */
function withinLimit(promise, ms, limitMs) {
  let timer;
  const limit = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`Stopped at the time limit of ${limitMs} ms`)), ms);
  });
  return Promise.race([promise, limit]).finally(() => clearTimeout(timer));
}

async function readLines(server, args) {
  const arrived = Date.now();
  const target = confine(server.roots, args.path);
  const start = args.start_line ?? 1;
  // One line more than may be shown tells whether the file goes on.
  const lastAllowed = start + MAX_READ_LINES - 1;
  const wanted = args.end_line === undefined || args.end_line < 1 ? Infinity : args.end_line;
  const end = Math.min(wanted, lastAllowed + 1);
  const deadline = arrived + server.timeoutMs;
  const release = await server.lanes.reads.acquire(deadline);
  const read = qg.readLines(target.real, start, Number.isFinite(end) ? end : 0);
  read.then(release, release);
  const text = await withinLimit(read, deadline - Date.now(), server.timeoutMs);
  const rows = text === '' ? [] : text.slice(0, -1).split('\n');
  const shown = [];
  const longLines = [];
  let bytes = 0;
  for (const row of rows.slice(0, MAX_READ_LINES)) {
    const at = row.indexOf(': ');
    const line = row.slice(at + 2);
    const cut = line.length > MAX_SHOWN_LINE ? `${row.slice(0, at + 2)}${cutLine(line)}` : row;
    bytes += Buffer.byteLength(cut) + 1;
    if (bytes > MAX_READ_BYTES && shown.length > 0) break;
    if (cut !== row) longLines.push(row.slice(0, at));
    shown.push(cut);
  }
  let out = shown.join('\n');
  if (longLines.length > 0) {
    out += `\n(Line${longLines.length === 1 ? '' : 's'} ${longLines.join(', ')} ` +
      `${longLines.length === 1 ? 'is' : 'are'} longer than ${MAX_SHOWN_LINE} characters and ` +
      'cut here; search with a pattern to see the parts around its matches, or change it with ' +
      'the edit tool.)';
  }
  if (shown.length < rows.length && start + shown.length <= wanted) {
    const next = start + shown.length;
    out += `\n(Lines ${start}-${next - 1} of ${target.shown} shown; the file goes on: ` +
      `call read_lines with start_line=${next} to read more.)`;
  }
  return textResult(out);
}

module.exports = { MAX_READ_BYTES, MAX_READ_LINES, readLines };
