'use strict';
// The search tool: the library prints each target's search as the lines
// people read (each line once, context grouped, "--" between groups, a long
// line shown as a window around its match), with paths below the target and
// a NUL after each path so that a row splits without guessing; the server
// only puts the target's place below its root in front of each path, takes
// the matched rows for the structured content, and keeps the reply within
// its budget. The library stops itself at the call's time limit
// ("timeout_ms"), at the reply's budget ("max_output_bytes") and at the
// matches wanted ("max_results"); the client's cancel and the server's stop
// stop it too.

const path = require('node:path');
const qg = require('..');
const { confine } = require('./confine');
const { Budget, MAX_REPLY_TEXT, MAX_SHOWN_LINE, counted, textResult } = require('./output');

const DEFAULT_RESULTS = 100;
const MAX_RESULTS = 2000;
const MAX_CONTEXT = 10;
// Bytes of printed lines one target's search may give: twice what one reply
// shows, so that a reply is never short for lack of them.
const MAX_PRINTED = 2 * MAX_REPLY_TEXT;

/**
 * The options that choose the files and lines a search reports, from the
 * arguments every searching tool shares: the same arguments give the same
 * lines to search and to replace_pattern. Links are never followed, so
 * every file reached lies inside the place searched.
 */
function matchOptions(args) {
  const options = {
    ignore_case: Boolean(args.ignore_case),
    whole_word: Boolean(args.whole_word),
    follow_links: false,
  };
  if (args.regex) options.syntax = 'standard';
  if (args.include !== undefined) options.include_globs = args.include;
  if (args.exclude !== undefined) options.exclude_globs = args.exclude;
  return options;
}

/** The options document of one target's search. */
function searchOptions(args, maxResults, timeoutMs) {
  return {
    ...matchOptions(args),
    max_results: maxResults,
    context_lines: args.context ?? 0,
    timeout_ms: Math.max(1, timeoutMs),
    relative_paths: true,
    null_after_path: true,
    max_columns: MAX_SHOWN_LINE,
    max_output_bytes: MAX_PRINTED,
  };
}

/**
 * The places a search looks in, each { real, root, shown }: the confined
 * `given` path, or every root when none is given.
 */
function searchTargets(roots, given) {
  if (given !== undefined) return [confine(roots, given)];
  return roots.map((root) => ({ real: root, root, shown: '.' }));
}

const MATCH_ROW = /^(\d+):(\d+):([^]*)$/;
const CONTEXT_ROW = /^(\d+)-([^]*)$/;

/**
 * The rows of one target's printed lines, each { text, path, line, match }:
 * the row as shown (PATH:LINE:COL:TEXT, PATH-LINE-TEXT, or -- with no path),
 * and for a matched line { path, line, col, text }. Paths are shown below
 * the target's root.
 */
function rowsOf(printed, target) {
  const below = path.relative(target.root, target.real);
  const shownPath = (printedPath) => {
    if (printedPath === target.real) return below || path.basename(target.real);
    return below === '' ? printedPath : path.join(below, printedPath);
  };
  const rows = [];
  for (const row of printed.split('\n')) {
    if (row === '') continue;
    const nul = row.indexOf('\0');
    if (nul < 0) {
      rows.push({ text: row, path: null, line: 0, match: null });  // a break between groups
      continue;
    }
    const shown = shownPath(row.slice(0, nul));
    const rest = row.slice(nul + 1);
    const m = MATCH_ROW.exec(rest);
    if (m !== null) {
      const match = { path: shown, line: Number(m[1]), col: Number(m[2]), text: m[3] };
      rows.push({ text: `${shown}:${rest}`, path: shown, line: match.line, match });
      continue;
    }
    const c = CONTEXT_ROW.exec(rest);
    if (c !== null) rows.push({ text: `${shown}-${rest}`, path: shown, line: Number(c[1]), match: null });
  }
  return rows;
}

/**
 * Runs one target's search for at most `wanted` matches; returns
 * { rows, matches, ended } with `ended` 'done', 'timed_out',
 * 'output_limited' or 'stopped'.
 */
async function searchTarget(server, target, args, wanted, deadline, signal) {
  const controller = new AbortController();
  const stop = () => controller.abort();
  server.stops.add(stop);
  signal?.addEventListener('abort', stop);
  try {
    const options = searchOptions(args, wanted, deadline - Date.now());
    const { text, summary } = await qg.searchLines(target.real, args.pattern,
      { ...options, signal: controller.signal });
    const rows = rowsOf(text, target);
    let ended = 'done';
    if (summary.timed_out) ended = 'timed_out';
    if (summary.output_limited) ended = 'output_limited';
    if (controller.signal.aborted) ended = 'stopped';
    return { rows, matches: summary.total_matches, ended };
  } finally {
    signal?.removeEventListener('abort', stop);
    server.stops.delete(stop);
  }
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
    lines.push('The search stopped early: its matched lines and their context passed what one ' +
      'reply can show. Search with less context, a more specific pattern or a path to see more.');
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
  const targets = searchTargets(server.roots, args.path);
  const deadline = arrived + server.timeoutMs;
  const release = await server.lanes.searches.acquire(deadline);
  const rows = [];
  let found = 0;
  const ends = new Set();
  ends.timeoutMs = server.timeoutMs;
  try {
    for (const target of targets) {
      if (found > max) break;
      if (Date.now() >= deadline) {
        ends.add('timed_out');
        break;
      }
      // One more than shown tells that more exist.
      const one = await searchTarget(server, target, args, max + 1 - found, deadline, extra?.signal);
      if (args.context > 0 && rows.length > 0 && one.rows.length > 0) {
        rows.push({ text: '--', path: null, line: 0, match: null });
      }
      rows.push(...one.rows);
      found += one.matches;
      ends.add(one.ended);
      if (one.ended === 'stopped' || one.ended === 'output_limited') break;
    }
  } finally {
    release();
  }
  let more = found > max || ends.has('output_limited');

  const budget = new Budget(MAX_REPLY_TEXT - 4096);  // room for the closing lines
  const structuredBudget = new Budget(MAX_REPLY_TEXT);
  const shown = [];
  const listed = [];
  for (const row of rows) {
    if (row.match !== null && listed.length === max) break;
    if (!budget.add(row.text) || (row.match !== null && !structuredBudget.add(row.match))) break;
    shown.push(row);
    if (row.match !== null) listed.push(row.match);
  }
  if (listed.length < found) more = true;
  // What follows the last match shown is its context alone, not the
  // leading context of one left out.
  const last = listed.at(-1);
  while (shown.length > 0 && shown.at(-1).match === null && (last === undefined ||
    shown.at(-1).path !== last.path || shown.at(-1).line > last.line + (args.context ?? 0))) {
    shown.pop();
  }
  const lines = shown.map((row) => row.text);
  const files = new Set(listed.map((m) => m.path)).size;
  lines.push(...closingLines(listed.length, files, ends, more));
  const structured = { matches: listed, files, more, timed_out: ends.has('timed_out') };
  return textResult(lines.join('\n'), structured);
}

module.exports = {
  DEFAULT_RESULTS, MAX_CONTEXT, MAX_RESULTS, matchOptions, search, searchTargets,
};
