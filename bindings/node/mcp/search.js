'use strict';
// The search tool: the library prints each target's search as the lines
// people read (each line once, context grouped, "--" between groups, a long
// line shown as a window around its match), or the files that match, or
// each file's count of matching lines, with paths below the target and a
// NUL after each path so that a row splits without guessing; the server
// only puts the target's place below its root in front of each path, takes
// the rows of the page asked for (offset, head_limit) and the matched rows
// for the structured content, and keeps the reply within its budget. Files
// come in the order of their paths, so that pages of one search follow on
// from each other. The library stops itself at the call's time limit
// ("timeout_ms"), at the reply's budget ("max_output_bytes") and at the
// matches wanted ("max_results"); the client's cancel and the server's stop
// stop it too.

const path = require('node:path');
const qg = require('..');
const { confine, reachesInside } = require('./confine');
const { Budget, MAX_REPLY_TEXT, MAX_SHOWN_LINE, counted, textResult } = require('./output');

const DEFAULT_RESULTS = 100;
const MAX_RESULTS = 2000;
const MAX_CONTEXT = 10;
/** Rows a page of files or counts shows unless head_limit says. */
const DEFAULT_HEAD = 1000;
const MAX_HEAD = 10000;
const MAX_OFFSET = 1000000;
const OUTPUT_MODES = ['content', 'files_with_matches', 'count'];
// Bytes of printed lines one target's search may give: twice what one reply
// shows, so that a reply is never short for lack of them, and room for the
// rows a page skips (they are printed to be counted), up to MAX_PAGED.
const MAX_PRINTED = 2 * MAX_REPLY_TEXT;
const PRINTED_PER_SKIPPED_ROW = 2 * MAX_SHOWN_LINE;
const MAX_PAGED = 64 * 1024 * 1024;

/** The library's print mode of each output mode. */
const PRINT_MODES = { content: 'lines', files_with_matches: 'files', count: 'count' };

/**
 * Refuses include globs that hold a '/': include globs match file names,
 * which never hold one, so such a glob would silently match nothing.
 */
function checkNameGlobs(include) {
  const globs = include === undefined ? [] : [].concat(include);
  const withSlash = globs.find((glob) => glob.includes('/'));
  if (withSlash !== undefined) {
    throw new Error(`include takes file name globs, and '${withSlash}' holds a '/', which no ` +
      `name does: give globs over paths as glob instead (glob: '${withSlash}')`);
  }
}

/**
 * Refuses dot_ignore: false while .gitignore files are honoured: the
 * library honours .ignore files with them, so the argument would be
 * dropped silently.
 */
function checkIgnoreFiles(args) {
  if (args.dot_ignore === false && args.gitignore !== false) {
    throw new Error('dot_ignore: false passes over .ignore files only with gitignore: false: ' +
      '.ignore files are honoured whenever .gitignore files are');
  }
}

/**
 * The options that choose the files and lines a search reports, from the
 * arguments every searching tool shares: the same arguments give the same
 * lines to search and to replace_pattern. Ignore files are honoured unless
 * turned off; links are not followed, so every file reached lies inside the
 * place searched (search alone may be told to follow them, and then drops
 * what they reach outside the roots).
 */
function matchOptions(args) {
  checkNameGlobs(args.include);
  checkIgnoreFiles(args);
  const options = {
    ignore_case: Boolean(args.ignore_case),
    whole_word: Boolean(args.whole_word),
    follow_links: false,
    gitignore: args.gitignore !== false,
    dot_ignore: args.dot_ignore !== false,
  };
  if (args.regex) options.syntax = 'standard';
  if (args.include !== undefined) options.include_globs = args.include;
  if (args.exclude !== undefined) options.exclude_globs = args.exclude;
  if (args.glob !== undefined) options.path_globs = args.glob;
  return options;
}

/** The options document of one target's search, printing in `mode`. */
function searchOptions(args, mode, maxResults, printed, timeoutMs) {
  return {
    ...matchOptions(args),
    follow_links: args.follow_links === true,
    print: PRINT_MODES[mode],
    sort: 'path',
    max_results: maxResults,
    context_lines: mode === 'content' ? args.context ?? 0 : 0,
    timeout_ms: Math.max(1, timeoutMs),
    relative_paths: true,
    null_after_path: true,
    max_columns: MAX_SHOWN_LINE,
    max_output_bytes: printed,
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

/** A row of a listing with no path: the break between groups of context. */
const BREAK_ROW = Object.freeze({ text: '--', path: null, file: null, line: 0, match: null });

/**
 * The function that takes a printed path of `target`'s search to
 * { shown, file }: the path shown below the target's root, and the file's
 * path on disk.
 */
function pathsOf(target) {
  const below = path.relative(target.root, target.real);
  return (printed) => {
    if (printed === target.real) return { shown: below || path.basename(target.real), file: printed };
    return { shown: below === '' ? printed : path.join(below, printed),
      file: path.join(target.real, printed) };
  };
}

/**
 * The rows of one target's printed lines in `mode`, each { text, path,
 * file, line, match, count }: the row as shown (PATH:LINE:COL:TEXT,
 * PATH-LINE-TEXT or -- for content, PATH for files, PATH:COUNT for counts),
 * for a matched line its { path, line, col, text }, for a count its number.
 */
function rowsOf(printed, target, mode) {
  const pathOf = pathsOf(target);
  if (mode === 'files_with_matches') {
    return printed.split('\0').filter((p) => p !== '').map((p) => {
      const { shown, file } = pathOf(p);
      return { text: shown, path: shown, file, line: 0, match: null };
    });
  }
  const rows = [];
  for (const row of printed.split('\n')) {
    if (row === '') continue;
    const nul = row.indexOf('\0');
    if (nul < 0) {
      rows.push(BREAK_ROW);
      continue;
    }
    const { shown, file } = pathOf(row.slice(0, nul));
    const rest = row.slice(nul + 1);
    if (mode === 'count') {
      rows.push({ text: `${shown}:${rest}`, path: shown, file, line: 0, match: null, count: Number(rest) });
      continue;
    }
    const m = MATCH_ROW.exec(rest);
    if (m !== null) {
      const match = { path: shown, line: Number(m[1]), col: Number(m[2]), text: m[3] };
      rows.push({ text: `${shown}:${rest}`, path: shown, file, line: match.line, match });
      continue;
    }
    const c = CONTEXT_ROW.exec(rest);
    if (c !== null) rows.push({ text: `${shown}-${rest}`, path: shown, file, line: Number(c[1]), match: null });
  }
  return rows;
}

/**
 * The rows whose files lie inside the roots: a search that follows links
 * may reach files elsewhere, which it never shows. Breaks left with nothing
 * between them go too.
 */
function confinedRows(rows, roots) {
  const verdicts = new Map();
  const insideRoots = (file) => {
    if (!verdicts.has(file)) verdicts.set(file, reachesInside(roots, file));
    return verdicts.get(file);
  };
  const kept = rows.filter((row) => row.file === null || insideRoots(row.file));
  return kept.filter((row, i) => row.path !== null || (i > 0 && i < kept.length - 1 &&
    kept[i - 1].path !== null));
}

/**
 * Runs one target's search as `query` says ({ mode, wanted: the most
 * matches, 0 for every one, printed: the most bytes printed, deadline });
 * returns { rows, ended } with `ended` 'done', 'timed_out',
 * 'output_limited' or 'stopped'.
 */
async function searchTarget(server, target, args, query, signal) {
  const controller = new AbortController();
  const stop = () => controller.abort();
  server.stops.add(stop);
  signal?.addEventListener('abort', stop);
  try {
    const options = searchOptions(args, query.mode, query.wanted, query.printed,
      query.deadline - Date.now());
    const { text, summary } = await qg.searchLines(target.real, args.pattern,
      { ...options, signal: controller.signal });
    let rows = rowsOf(text, target, query.mode);
    if (args.follow_links === true) rows = confinedRows(rows, server.roots);
    let ended = 'done';
    if (summary.timed_out) ended = 'timed_out';
    if (summary.output_limited) ended = 'output_limited';
    if (controller.signal.aborted) ended = 'stopped';
    return { rows, ended };
  } finally {
    signal?.removeEventListener('abort', stop);
    server.stops.delete(stop);
  }
}

/**
 * The page a call asks for: `offset` rows of the listing skipped, then at
 * most `rows` rows and, in content mode, at most `matches` matched lines.
 */
function pageOf(args, mode) {
  const content = mode === 'content';
  return {
    offset: args.offset ?? 0,
    rows: args.head_limit ?? (content ? Infinity : DEFAULT_HEAD),
    matches: content ? args.max_results ?? DEFAULT_RESULTS : Infinity,
  };
}

/**
 * The matches (content) or files (files_with_matches) the library needs to
 * list so that the page, and one row past it, are printed; 0 (no limit) for
 * counts, whose rows the library cannot bound. Every match is a row at
 * least, so the rows before the page hold at most `offset` of them.
 */
function wantedOf(mode, page, listed) {
  if (mode === 'count') return 0;
  const past = mode === 'content' ? Math.min(page.matches, page.rows) : page.rows;
  return page.offset + past + 1 - listed;
}

/**
 * The rows of every target in turn, as far as the page needs them; returns
 * { rows, ends } with the ways the searches ended (a Set).
 */
async function collectRows(server, targets, args, mode, page, deadline, signal) {
  const rows = [];
  let listed = 0;  // matched lines (content) or rows (files) so far
  const ends = new Set();
  const printed = Math.min(MAX_PAGED, MAX_PRINTED + page.offset * PRINTED_PER_SKIPPED_ROW);
  for (const target of targets) {
    const wanted = wantedOf(mode, page, listed);
    if (mode !== 'count' && wanted <= 0) break;
    if (Date.now() >= deadline) {
      ends.add('timed_out');
      break;
    }
    const one = await searchTarget(server, target, args, { mode, wanted, printed, deadline }, signal);
    if (args.context > 0 && rows.length > 0 && one.rows.length > 0) rows.push(BREAK_ROW);
    rows.push(...one.rows);
    listed += mode === 'content' ? one.rows.filter((r) => r.match !== null).length : one.rows.length;
    ends.add(one.ended);
    if (one.ended === 'stopped' || one.ended === 'output_limited') break;
  }
  return { rows, ends };
}

/**
 * The rows of the page that fit the reply: from `offset`, while the page's
 * bounds and the budgets allow. A page that shows a match ends with that
 * match's own context, not the leading context of one left out.
 */
function pageRows(rows, page, context) {
  const budget = new Budget(MAX_REPLY_TEXT - 4096);  // room for the closing lines
  const structuredBudget = new Budget(MAX_REPLY_TEXT);
  const shown = [];
  let matches = 0;
  for (const row of rows.slice(page.offset)) {
    if (shown.length === page.rows || (row.match !== null && matches === page.matches)) break;
    const entry = row.match ?? row.path;
    if (!budget.add(row.text) || (entry !== null && !structuredBudget.add(entry))) break;
    shown.push(row);
    if (row.match !== null) ++matches;
  }
  const last = shown.findLast((row) => row.match !== null);
  while (last !== undefined && shown.at(-1).match === null && (shown.at(-1).path !== last.path ||
    shown.at(-1).line > last.line + context)) {
    shown.pop();
  }
  return shown;
}

/** The line that closes a page: what it shows. */
function countLine(mode, shown) {
  const files = new Set(shown.filter((r) => r.path !== null).map((r) => r.path)).size;
  if (mode === 'files_with_matches') return counted(files, 'file', 'files');
  if (mode === 'count') {
    const lines = shown.reduce((sum, r) => sum + r.count, 0);
    return `${counted(lines, 'matching line', 'matching lines')} in ${counted(files, 'file', 'files')}`;
  }
  const matches = shown.filter((r) => r.match !== null).length;
  return `${counted(matches, 'match', 'matches')} in ${counted(files, 'file', 'files')}`;
}

/** The lines that close a search result: the count, and why it is not all there is. */
function closingLines(mode, shown, ends, next, timeoutMs) {
  const lines = [];
  const count = countLine(mode, shown);
  if (next !== undefined) {
    lines.push(`${count} shown; more exist. Narrow the search (a path, glob, include or exclude ` +
      'globs, a more specific pattern, less context)' + (mode === 'content'
      ? ` or raise max_results (at most ${MAX_RESULTS}) or head_limit.` : ' or raise head_limit.'));
    lines.push(`Next page: call search again with the same arguments and offset=${next}.`);
  } else {
    lines.push(count);
  }
  if (ends.has('output_limited')) {
    lines.push('The search stopped early: its matched lines and their context passed what one ' +
      'reply can show. Search with less context, a more specific pattern or a path to see more.');
  }
  if (ends.has('timed_out')) {
    lines.push(`The search stopped at the time limit of ${timeoutMs} ms; ` +
      'more matches may exist. Narrow it with a path or globs.');
  }
  return lines;
}

/** The structured content of a page in `mode`; `next_offset` only when more exist. */
function structuredPage(mode, shown, ends, next) {
  const rowsWithPath = shown.filter((r) => r.path !== null);
  const structured = {
    matches: shown.filter((r) => r.match !== null).map((r) => r.match),
    files: new Set(rowsWithPath.map((r) => r.path)).size,
    more: next !== undefined,
    timed_out: ends.has('timed_out'),
  };
  if (mode === 'files_with_matches') structured.paths = rowsWithPath.map((r) => r.path);
  if (mode === 'count') structured.counts = rowsWithPath.map((r) => ({ path: r.path, count: r.count }));
  if (next !== undefined) structured.next_offset = next;
  return structured;
}

async function search(server, args, extra) {
  const arrived = Date.now();
  const mode = args.output_mode ?? 'content';
  matchOptions(args);  // refuses what the library would not take before the call waits
  const page = pageOf(args, mode);
  const targets = searchTargets(server.roots, args.path);
  const deadline = arrived + server.timeoutMs;
  const release = await server.lanes.searches.acquire(deadline);
  let collected;
  try {
    collected = await collectRows(server, targets, args, mode, page, deadline, extra?.signal);
  } finally {
    release();
  }
  const { rows, ends } = collected;
  const shown = pageRows(rows, page, args.context ?? 0);
  const end = page.offset + shown.length;
  const more = end < rows.length || ends.has('output_limited');
  const next = more ? end : undefined;
  const lines = [...shown.map((row) => row.text),
    ...closingLines(mode, shown, ends, next, server.timeoutMs)];
  return textResult(lines.join('\n'), structuredPage(mode, shown, ends, next));
}

module.exports = {
  checkIgnoreFiles, DEFAULT_HEAD, DEFAULT_RESULTS, MAX_CONTEXT, MAX_HEAD, MAX_OFFSET, MAX_RESULTS, OUTPUT_MODES,
  matchOptions, search, searchTargets,
};
