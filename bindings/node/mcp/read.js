'use strict';
// The read_lines tool: numbered lines, at most MAX_READ_LINES of them or
// MAX_READ_BYTES, each line cut to MAX_SHOWN_LINE characters, in the reads'
// own lane, with the version of the file they were read from. The library's
// read cannot be stopped; it is bounded by the library's file limit
// (256 MiB), and a read past the call's time limit is answered with an error
// while its slot stays taken until it returns.

const qg = require('..');
const { argumentPath, confine } = require('./confine');
const { MAX_SHOWN_LINE, cutLine, textResult } = require('./output');
const { fileVersion } = require('./versions');

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

/**
 * The library's read of lines `start`..`end`, where a file of no lines read
 * from line 1 gives no lines (the library refuses any start in it), so that
 * an empty file still reads, with its version.
 */
async function libraryRead(real, start, end) {
  try {
    return await qg.readLines(real, start, end);
  } catch (error) {
    if (start === 1 && await qg.readLines(real, 0, 0).catch(() => null) === '') return '';
    throw error;
  }
}

/** Reads of a file that keeps changing before one of them is taken as it stood. */
const READ_TRIES = 3;

/**
 * Lines `start`..`end` of the file at `real` as the library reads them, and
 * the version they were read from: the file is hashed before and after the
 * read, and the read is taken only when both hashes agree, so the version
 * names the bytes the lines came from. A file that cannot be hashed is
 * answered with the library's own message for it.
 */
async function versionedRead(real, shown, start, end) {
  for (let tries = 0; tries < READ_TRIES; ++tries) {
    let before;
    try {
      before = await fileVersion(real);
    } catch (error) {
      await libraryRead(real, start, end);  // rejects with the library's message
      throw new Error(`Cannot read '${shown}': ${error.code ?? error.message}`);
    }
    const text = await libraryRead(real, start, end);
    if (await fileVersion(real) === before) return { text, version: before };
  }
  throw new Error(`'${shown}' changed while it was read, ${READ_TRIES} times: read it again ` +
    'once it is left alone');
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
  const read = versionedRead(target.real, target.shown, start, Number.isFinite(end) ? end : 0);
  read.then(release, release);
  const { text, version } = await withinLimit(read, deadline - Date.now(), server.timeoutMs);
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
  const more = shown.length < rows.length && start + shown.length <= wanted;
  if (more) {
    const next = start + shown.length;
    out += `\n(Lines ${start}-${next - 1} of ${target.shown} shown; the file goes on: ` +
      `call read_lines with start_line=${next} to read more.)`;
  }
  out += `${out === '' ? '' : '\n'}(Version ${version}: give it as expected_version to an edit ` +
    'to make sure the file is still as read.)';
  return textResult(out, { path: argumentPath(server.roots, target.real), version, start_line: start,
    end_line: start + shown.length - 1, more });
}

module.exports = { MAX_READ_BYTES, MAX_READ_LINES, readLines };
