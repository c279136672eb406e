'use strict';
// quenmar-grep for Node.js: search source trees and edit text files by line
// number. Every call runs in the library off the JavaScript thread and
// settles a Promise; searchStream yields match objects as they are found.

const path = require('node:path');

// The addon the install step built beside this file; QUENMAR_GREP_NODE_ADDON
// names another one (the test suite's, in a CMake build tree).
const native = require(process.env.QUENMAR_GREP_NODE_ADDON ||
                       path.join(__dirname, 'build', 'quenmar_grep.node'));

// How a library call ended, as the public header names them; a failure's
// Error carries the name as `code` and the number as `status`.
const { Status } = require('./generated');

/**
 * The options document of a call: a text passed as it is, or an object
 * written as JSON and read by the library under "strict" (unless it says
 * otherwise), so that a misspelt key or a value of the wrong type is
 * refused with its name instead of being ignored.
 */
function optionsText(options) {
  if (options === undefined || options === null) return '{"strict":true}';
  if (typeof options === 'string') return options;
  return JSON.stringify({ strict: true, ...withSyntax(options) });
}

/**
 * `regex: true` means a regular expression in the standard syntax (the one
 * JavaScript's, Python's and ripgrep's patterns share) unless `syntax` names
 * one; `syntax: "dialect"` alone means a pattern of the library's own dialect.
 */
function withSyntax(options) {
  if (options.regex === true && options.syntax === undefined) {
    return { ...options, syntax: 'standard' };
  }
  if (options.syntax === 'dialect' && options.regex === undefined) {
    return { ...options, regex: true };
  }
  return options;
}

/** The library's version text, e.g. "1.0.0". */
function version() {
  return native.version();
}

/** Searches the file or tree at `root`; resolves to the search document. */
async function search(root, pattern, options) {
  return JSON.parse(await native.searchJson(root, pattern, optionsText(options)));
}

/**
 * The files that `search(root, ...)` with the same options would read, in
 * the same order, without reading them; resolves to their paths.
 */
async function listFiles(root, options) {
  return JSON.parse(await native.listFilesJson(root, optionsText(options))).files;
}

/**
 * Searches `text` (a string, or a Buffer in any encoding a file may have) as
 * one file called `name`; resolves to the search document.
 */
async function searchText(name, text, pattern, options) {
  return JSON.parse(await native.searchText(name, text, pattern, optionsText(options)));
}

/**
 * Yields each match object while the search runs. Leaving the loop early
 * (break, return, throw) stops the search: no further file is read. Matches
 * not yet read wait in a bounded queue; the search waits when it is full.
 */
function searchStream(root, pattern, options) {
  const buffered = [];
  let waiter = null;    // {resolve, reject} of a next() waiting for a match
  let finished = null;  // {error} once the search has ended
  let handle = null;
  let started = null;
  let failure = null;  // a match text that could not be read: the stream ends with it
  let parsed = 0;
  let markEnded;
  const ended = new Promise((resolve) => { markEnded = resolve; });

  // Takes the first buffered match, telling the addon that one more was read.
  const take = () => {
    handle.read(1);
    return { value: buffered.shift(), done: false };
  };
  const end = () => {
    const error = failure ?? finished.error;
    failure = null;
    finished.error = null;
    if (error) throw error;
    return { value: undefined, done: true };
  };
  const wake = () => {
    if (waiter === null || (buffered.length === 0 && finished === null)) return;
    const w = waiter;
    waiter = null;
    try {
      w.resolve(buffered.length > 0 ? take() : end());
    } catch (error) {
      w.reject(error);
    }
  };
  const start = async () => {
    handle = native.startStream(root, pattern, optionsText(options),
      (text) => {
        if (failure !== null) return;
        try {
          buffered.push(JSON.parse(text));
          ++parsed;
        } catch (error) {
          failure = error;
          handle.stop();
        }
        wake();
      },
      (error, count) => {
        iterator.count = failure !== null ? parsed : count;
        if (failure !== null) failure.count = parsed;
        if (error && count >= 0) error.count = count;
        finished = { error };
        markEnded();
        wake();
      });
  };

  const iterator = {
    /** Once the search has ended: the matches it found, up to the one it stopped at. */
    count: undefined,
    [Symbol.asyncIterator]() { return this; },
    async next() {
      if (started === null) started = start();
      await started;
      if (buffered.length > 0) return take();
      if (finished !== null) return end();
      return new Promise((resolve, reject) => { waiter = { resolve, reject }; });
    },
    async return() {
      if (started !== null) {
        await started.catch(() => {});
        if (handle !== null) {
          handle.stop();
          await ended;
        }
      }
      buffered.length = 0;
      return { value: undefined, done: true };
    },
  };
  return iterator;
}

/**
 * Searches the file or tree at `root` and resolves to the lines the library
 * prints for it (`text`: PATH:LINE:COL:TEXT, context as PATH-LINE-TEXT with
 * each line once and "--" between groups, or what the printer keys "print",
 * "heading", "color", "line_number", "column" and "with_filename" ask for)
 * and the search's `summary`. With `options.text` (a string or a Buffer),
 * that buffer is searched as one file called `root`; aborting
 * `options.signal` (an AbortSignal) stops the search, which then resolves
 * to what it printed with the status GREP_STOPPED's summary.
 */
async function searchLines(root, pattern, options = {}) {
  const { text, signal, ...rest } = typeof options === 'string' ? {} : options;
  const optionsJson = typeof options === 'string' ? options : optionsText(rest);
  // Aborting `signal` sets the byte the library's search looks at.
  const stop = new Uint8Array(1);
  const abort = () => { stop[0] = 1; };
  if (signal?.aborted) abort();
  signal?.addEventListener('abort', abort);
  try {
    const result = await native.searchLines(root, text ?? null, pattern, optionsJson, stop);
    return { text: result.text, summary: JSON.parse(result.summary) };
  } finally {
    signal?.removeEventListener('abort', abort);
  }
}

/** Every key of the options document, with its type, default and documentation. */
function optionsSchema() {
  return JSON.parse(native.optionsSchema()).options;
}

/** Lines start..end of the file as "N: text\n" rows (start < 1: whole file). */
function readLines(file, start = 0, end = 0) {
  return native.readLines(file, start, end);
}

/** The same selection as [number, text] pairs. */
async function numberedLines(file, start = 0, end = 0) {
  const text = await readLines(file, start, end);
  return text.split('\n').filter((row) => row !== '').map((row) => {
    const at = row.indexOf(': ');
    return [Number(row.slice(0, at)), row.slice(at + 2)];
  });
}

/**
 * The batch instructions `edits` (an array of edits, an object with them
 * under "edits", or a JSON text) as the JSON text the library reads, with
 * "dry_run": true when `dryRun`, and "exact": true when `exact` and the
 * instructions do not say. A text is kept byte for byte: the members go in
 * front of its own (the first member of a name counts), and a text that is
 * not JSON is passed on for the library to refuse.
 */
function instructionsText(edits, { dryRun = false, exact = true } = {}) {
  if (typeof edits !== 'string') {
    const doc = Array.isArray(edits) ? { edits } : edits;
    if (doc === null || typeof doc !== 'object') return JSON.stringify(doc);
    const added = { ...doc };
    if (dryRun) added.dry_run = true;
    if (exact && !('exact' in doc)) added.exact = true;
    return JSON.stringify(added);
  }
  let parsed;
  try {
    parsed = JSON.parse(edits);
  } catch {
    return edits;
  }
  const isObject = parsed !== null && typeof parsed === 'object' && !Array.isArray(parsed);
  const members = [];
  if (dryRun) members.push('"dry_run":true');
  if (exact && !(isObject && 'exact' in parsed)) members.push('"exact":true');
  if (members.length === 0) return edits;
  if (Array.isArray(parsed)) return `{"edits":${edits},${members.join(',')}}`;
  if (!isObject) return edits;
  const open = edits.indexOf('{') + 1;
  const more = Object.keys(parsed).length > 0 ? ',' : '';
  return `${edits.slice(0, open)}${members.join(',')}${more}${edits.slice(open)}`;
}

/**
 * Replaces lines start..end with the lines of `text` (start > end inserts).
 * With `expected`, the lines must hold that text now (joined with "\n"; ""
 * for an insertion), else it rejects with code GREP_E_CONFLICT and the file
 * stays as it is. With `exact` (the default) every line the edit does not
 * name keeps its bytes and line end, and a start past the line after the
 * last rejects; `exact: false` writes every line with the file's most
 * common ending.
 */
async function replaceLines(file, start, end, text, { expected, exact = true } = {}) {
  if (expected === undefined) return native.replaceLines(file, start, end, text, Boolean(exact));
  const edit = { file, start_line: start, end_line: end, new_text: text, expected_text: expected };
  await native.editJson(instructionsText({ edits: [edit] }, { exact }));
  return undefined;
}

/** The text of a dry run's diffs; one that is not UTF-8 as its bytes read as UTF-8. */
function diffsText(result) {
  return result.diffs.map((d) => (d.diff_base64 !== undefined
    ? Buffer.from(d.diff_base64, 'base64').toString('utf8') : d.diff)).join('');
}

/**
 * Replaces `oldText` by `newText` in the file (every line ending reads as
 * "\n"); `oldText` must occur once unless `replaceAll`. With `dryRun`
 * nothing is written and it resolves to the unified diff of the change.
 * `exact` as for replaceLines.
 */
async function editText(file, oldText, newText, { replaceAll = false, dryRun = false,
  exact = true } = {}) {
  const edit = { file, old_text: oldText, new_text: newText, replace_all: replaceAll };
  const text = instructionsText({ edits: [edit] }, { dryRun, exact });
  const result = JSON.parse(await native.editJson(text));
  return dryRun ? diffsText(result) : undefined;
}

/**
 * Replaces every match of `pattern` in the lines `search(root, pattern,
 * options)` would report, writing each file once and atomically with every
 * byte outside the matches kept; resolves to the report (`success`,
 * `files_modified`, `total_replacements`, `files`, `errors`, `failures`).
 * `replacement` is a template ($0, $1..$99, ${N}, ${name}, $$). Besides the
 * search's options: `dry_run` (write nothing; each file entry gains its
 * `diff`), `expect` ({path: sha256} from a dry run: only those files, each
 * only while unchanged) and `preserve_case`. Rejects when the call cannot
 * start (a pattern, template or option refused, nothing at `root`).
 */
async function replace(root, pattern, replacement, options) {
  return JSON.parse(await native.replaceJson(root, pattern, replacement, optionsText(options)));
}

/**
 * Applies many edits; resolves to the batch result document. With `dryRun`
 * nothing is written and the document lists each file's diff in `diffs`
 * (with `diff_base64`, the diff's own bytes, where they are not UTF-8).
 * With `exact` (the default) "exact": true is sent unless the instructions
 * say otherwise.
 */
async function batchReplace(edits, { dryRun = false, exact = true } = {}) {
  return JSON.parse(await native.batchJson(instructionsText(edits, { dryRun, exact })));
}

module.exports = {
  Status, version, search, searchText, searchStream, searchLines, listFiles, optionsSchema, readLines,
  numberedLines, replaceLines, editText, batchReplace, replace,
};
