'use strict';
// The search tool: the library's streamed search of each target, each match
// cut to what is shown as it arrives (so no match's whole line, however
// long, is kept), stopped inside the library at the call's time limit
// ("timeout_ms"), at its output cap ("max_output_bytes"), when enough is held
// for a reply, when the client cancels, or when the server stops; then the
// reply, built within its budget.

const path = require('node:path');
const qg = require('..');
const { confine } = require('./confine');
const { Budget, MAX_REPLY_TEXT, counted, cutLine, matchWindow, textResult } = require('./output');

const DEFAULT_RESULTS = 100;
const MAX_RESULTS = 2000;
const MAX_CONTEXT = 10;
// The most bytes of match objects one target's search hands over: room for a
// single line of 100 MiB, and a bound on what the server parses per call.
const MAX_LIBRARY_OUTPUT = 128 * 1024 * 1024;
// Bytes of shown lines held before the search is stopped: twice what one
// reply can show, so that a reply is never short for lack of them.
const MAX_HELD = 2 * MAX_REPLY_TEXT;

/** The options document of one search. */
function searchOptions(args, maxResults, timeoutMs) {
  const options = {
    ignore_case: Boolean(args.ignore_case),
    whole_word: Boolean(args.whole_word),
    max_results: maxResults,
    context_lines: args.context ?? 0,
    timeout_ms: Math.max(1, timeoutMs),
    follow_links: false,
    match_length: true,
    max_output_bytes: MAX_LIBRARY_OUTPUT,
  };
  if (args.regex) options.syntax = 'standard';
  if (args.include !== undefined) options.include_globs = args.include;
  if (args.exclude !== undefined) options.exclude_globs = args.exclude;
  return options;
}

/**
 * A match as shown: its path below its root, its line and column, the window
 * of its line around the match, and its context lines (the matched line's
 * place empty), each cut; with the bytes they hold.
 */
function shownMatch(m, target, context) {
  const first = Math.max(1, m.line - context);
  const lines = context > 0 && Array.isArray(m.context)
    ? m.context.map((text, i) => (first + i === m.line ? null : cutLine(text))) : [];
  const text = matchWindow(m.text, m.col, m.length);
  let bytes = text.length;
  for (const line of lines) bytes += line === null ? 0 : line.length;
  return { path: path.relative(target.root, m.file) || path.basename(m.file), line: m.line,
    col: m.col, text, context: lines, first, bytes };
}

/**
 * The rows of a search result, each with the match it shows (or null for a
 * context line): each match as PATH:LINE:COL:TEXT, its context lines as
 * PATH-LINE-TEXT, each line once (a line that matches is shown as a match
 * even inside another's context), `--` between groups of a file that do not
 * touch and between files when context is shown.
 */
function matchRows(matches, context) {
  const files = new Map();  // path -> Map(line -> row), in the order first seen
  for (const m of matches) {
    if (!files.has(m.path)) files.set(m.path, new Map());
    const rows = files.get(m.path);
    rows.set(m.line, { match: m, text: m.text });
    m.context.forEach((text, i) => {
      if (text !== null && !rows.has(m.first + i)) rows.set(m.first + i, { match: null, text });
    });
  }
  const out = [];
  for (const [file, rows] of files) {
    let last = -1;
    for (const n of [...rows.keys()].sort((a, b) => a - b)) {
      if (context > 0 && out.length > 0 && n !== last + 1) out.push({ match: null, text: '--' });
      const row = rows.get(n);
      out.push({ match: row.match,
        text: row.match ? `${file}:${n}:${row.match.col}:${row.text}` : `${file}-${n}-${row.text}` });
      last = n;
    }
  }
  return out;
}

/**
 * Runs one target's search, adding its shown matches to `found` until
 * `wanted` are there; returns how it ended: 'done', 'timed_out',
 * 'output_limited', 'held' (enough kept for a reply) or 'stopped'.
 */
async function searchTarget(server, target, args, wanted, deadline, found, signal) {
  const context = args.context ?? 0;
  const stream = qg.searchStream(target.real, args.pattern,
    searchOptions(args, wanted - found.length, deadline - Date.now()));
  let ended = 'done';
  const stopFor = (why) => () => {
    if (ended === 'done') ended = why;
    stream.return();
  };
  const stop = stopFor('stopped');
  server.stops.add(stop);
  signal?.addEventListener('abort', stop);
  // The library stops itself at the limit; this only stops a stream whose
  // matches JavaScript is still reading then.
  const timer = setTimeout(stopFor('timed_out'), Math.max(0, deadline - Date.now()) + 50);
  let held = found.reduce((sum, m) => sum + m.bytes, 0);
  try {
    for await (const m of stream) {
      const shown = shownMatch(m, target, context);
      found.push(shown);
      held += shown.bytes;
      if (found.length >= wanted) break;
      if (held > MAX_HELD) {
        ended = 'held';
        break;
      }
    }
  } catch (error) {
    if (error.code === 'GREP_TIMED_OUT') {
      ended = 'timed_out';
    } else if (error.code === 'GREP_OUTPUT_LIMITED') {
      ended = 'output_limited';
    } else if (ended === 'done') {
      throw error;
    }
  } finally {
    clearTimeout(timer);
    signal?.removeEventListener('abort', stop);
    server.stops.delete(stop);
  }
  return ended;
}

/** The lines that close a search result: the count, and why it is not all there is. */
function closingLines(shown, files, ends, more) {
  const lines = [];
  const count = `${counted(shown, 'match', 'matches')} in ${counted(files, 'file', 'files')}`;
  if (more) {
    lines.push(`${count} shown; more exist. Narrow the search (a path, include or exclude globs, ` +
      `a more specific pattern, less context) or raise max_results (at most ${MAX_RESULTS}).`);
  } else {
    lines.push(count);
  }
  if (ends.has('output_limited')) {
    lines.push(`The search stopped early: its matched lines and their context passed the ` +
      `${MAX_LIBRARY_OUTPUT / (1024 * 1024)} MiB a search reads (the lines are long). Search ` +
      'with less context, a more specific pattern or a path to see more.');
  }
  if (ends.has('timed_out')) {
    lines.push(`The search stopped at the time limit of ${ends.timeoutMs} ms; ` +
      'more matches may exist. Narrow it with a path or globs.');
  }
  return lines;
}

async function search(server, args, extra) {
  const arrived = Date.now();
  const max = args.max_results ?? DEFAULT_RESULTS;
  const targets = args.path === undefined
    ? server.roots.map((root) => ({ real: root, root }))
    : [confine(server.roots, args.path)];
  const deadline = arrived + server.timeoutMs;
  const release = await server.lanes.searches.acquire(deadline);
  const found = [];
  const ends = new Set();
  ends.timeoutMs = server.timeoutMs;
  try {
    for (const target of targets) {
      if (found.length > max) break;
      if (Date.now() >= deadline) {
        ends.add('timed_out');
        break;
      }
      // One more than shown tells that more exist.
      const ended = await searchTarget(server, target, args, max + 1, deadline, found, extra?.signal);
      ends.add(ended);
      if (ended === 'held' || ended === 'stopped') break;
    }
  } finally {
    release();
  }
  let more = found.length > max || ends.has('held');
  if (found.length > max) found.length = max;

  const budget = new Budget(MAX_REPLY_TEXT - 4096);  // room for the closing lines
  const structuredBudget = new Budget(MAX_REPLY_TEXT);
  const lines = [];
  const listed = [];
  for (const row of matchRows(found, args.context ?? 0)) {
    const entry = row.match === null ? null
      : { path: row.match.path, line: row.match.line, col: row.match.col, text: row.match.text };
    if (!budget.add(row.text) || (entry !== null && !structuredBudget.add(entry))) break;
    lines.push(row.text);
    if (entry !== null) listed.push(entry);
  }
  if (listed.length < found.length) more = true;
  const files = new Set(listed.map((m) => m.path)).size;
  lines.push(...closingLines(listed.length, files, ends, more));
  const structured = { matches: listed, files, more, timed_out: ends.has('timed_out') };
  return textResult(lines.join('\n'), structured);
}

module.exports = { DEFAULT_RESULTS, MAX_CONTEXT, MAX_RESULTS, search };
