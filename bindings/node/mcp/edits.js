'use strict';
// The edit tools (replace_lines, edit, batch_edit): their edits, sent with
// "exact", are applied one file at a time, one library call per file, in
// the edits' lane. One file's edits go together (whatever paths name it:
// edits are grouped by the file they reach), so each file is checked and
// written whole, and files stand or fall one by one. Between two files the
// runner looks whether the server is stopping: then it ends after the file
// in hand, reports nothing, and the log names every file it wrote, so an
// interrupted batch leaves each file old or new and says which. Edits have no
// time limit: a write abandoned half-way would leave the assistant unsure.
// An edit that gives `expected_version` is refused, its file left as it is,
// when the file's bytes no longer hash to it.

const fs = require('node:fs');
const qg = require('..');
const { confine } = require('./confine');
const {
  Budget, MAX_REPLY_TEXT, counted, cutLine, errorResult, textResult,
} = require('./output');
const { fileVersion, staleMessage } = require('./versions');

/** What identifies the file at `real`: the file itself where it exists, else its path. */
function identity(real) {
  try {
    const stat = fs.statSync(real, { bigint: true });
    return `${stat.dev}:${stat.ino}`;
  } catch {
    return `path:${real}`;
  }
}

/** The diff with the resolved path in its header lines replaced by `shown`. */
function shownDiff(diff, real, shown) {
  const lines = diff.split('\n');
  for (let i = 0; i < 2 && i < lines.length; ++i) {
    if (lines[i] === `--- ${real}`) lines[i] = `--- ${shown}`;
    if (lines[i] === `+++ ${real}`) lines[i] = `+++ ${shown}`;
  }
  return lines.join('\n');
}

/** Every resolved path in `message` written as the assistant named it. */
function shownMessage(message, targets) {
  let out = message;
  for (const t of targets) out = out.split(t.real).join(t.shown);
  return out;
}

/**
 * The edits grouped by the file they reach, in the order each file is first
 * named; each group's `versions` holds the versions its edits expect (in
 * lower case), which the library's edits do not take.
 */
function groupsOf(edits, targets) {
  const groups = new Map();
  edits.forEach(({ expected_version: version, ...edit }, i) => {
    const key = identity(targets[i].real);
    if (!groups.has(key)) groups.set(key, { target: targets[i], edits: [], targets: [], versions: new Set() });
    const group = groups.get(key);
    group.edits.push({ ...edit, file: targets[i].real });
    group.targets.push(targets[i]);
    if (version !== undefined) group.versions.add(version.toLowerCase());
  });
  return [...groups.values()];
}

/**
 * The failure of a group whose edits expect a version its file no longer
 * has (or two versions at once), or null when the file has the one expected.
 * The file is hashed here, in the edits' lane, right before the library's
 * call: the library's batch takes no hash to check under its lock, so a
 * program that writes the file between this hash and the library's read is
 * not caught by the version (the library still refuses a change made
 * between its own read and its write). Edits through this server never
 * fall in that window: they run one at a time in the lane.
 */
async function versionFailure(group) {
  if (group.versions.size === 0) return null;
  const shown = group.target.shown;
  const failure = (status, message) => ({ path: shown, status, message });
  if (group.versions.size > 1) {
    return failure('GREP_E_ARGUMENT', `The edits of '${shown}' expect ${group.versions.size} ` +
      'different versions: give each the one read_lines reported last');
  }
  const [expected] = group.versions;
  let now;
  try {
    now = await fileVersion(group.target.real);
  } catch (error) {
    return failure(error.code === 'ENOENT' ? 'GREP_E_NOT_FOUND' : 'GREP_E_IO',
      `Cannot read '${shown}' to check its version (${error.code ?? error.message})`);
  }
  return now === expected ? null : failure('GREP_E_CONFLICT', staleMessage(shown, expected));
}

/**
 * Applies one group's edits in one library call; returns
 * { ok, diffs: [{path, diff}], errors: [text], written }.
 */
async function applyGroup(group, dryRun) {
  const stale = await versionFailure(group);
  if (stale !== null) return { ok: false, diffs: [], written: false, errors: [stale] };
  const instructions = { edits: group.edits, diffs: true, exact: true };
  if (dryRun) instructions.dry_run = true;
  let result;
  try {
    result = await qg.batchReplace(instructions);
  } catch (error) {
    // The report could not be had (its diff is longer than a JavaScript
    // string): the file may have been written all the same.
    const what = dryRun ? 'would change' : 'may have been written';
    return { ok: false, diffs: [], written: !dryRun, errors: [{ path: group.target.shown,
      status: error.code, message: `${error.message} (the file ${what}; read it with read_lines ` +
      'to see it)' }] };
  }
  const diffs = (result.diffs ?? []).map((d) => ({ path: group.target.shown,
    diff: shownDiff(d.diff, d.file, group.target.shown) }));
  // The report's failures, by status and message: nothing is read out of a
  // "path: message" text.
  const errors = (result.failures ?? []).map((f) => ({ path: group.target.shown, status: f.status,
    message: shownMessage(f.message, group.targets) }));
  return { ok: result.success, diffs, errors, written: !dryRun && result.files_modified > 0 };
}

/**
 * Runs the edits of confined `targets` (one per edit) file by file. Returns
 * { ok, diffs, errors }, or null when the server began stopping meanwhile.
 */
async function runEdits(server, edits, targets, dryRun) {
  const groups = groupsOf(edits, targets);
  const release = await server.lanes.edits.acquire();
  const outcome = { ok: true, diffs: [], errors: [] };
  let written = 0;
  try {
    for (const group of groups) {
      if (server.stopping) {
        server.log(`stopped a batch of ${counted(groups.length, 'file', 'files')} after ` +
          `${counted(written, 'file', 'files')} written; the others were left as they were`);
        return null;
      }
      const one = await applyGroup(group, dryRun);
      if (one.written) {
        ++written;
        server.log(`wrote ${group.target.real}`);
      }
      outcome.ok = outcome.ok && one.ok;
      outcome.diffs.push(...one.diffs);
      outcome.errors.push(...one.errors);
    }
  } finally {
    release();
  }
  return outcome;
}

/**
 * Appends the lines of `text` (each cut) to `lines` while `budget` allows;
 * false once it did not.
 */
function addLines(lines, text, budget) {
  for (const line of text.split('\n')) {
    const shown = cutLine(line);
    if (!budget.add(shown)) return false;
    lines.push(shown);
  }
  return true;
}

/** The note that closes a reply cut by its budget. */
function cutNote(budget, dryRun) {
  return `… ${counted(budget.omitted, 'more line', 'more lines')} not shown (the reply's limit). ` +
    (dryRun ? 'Nothing was written; run the edits in smaller calls to see every diff.'
      : 'The files were written as reported; read them with read_lines to see the result.');
}

/** The text of one file's edit: its diff, or what went wrong. */
function oneFileAnswer(outcome, target, dryRun) {
  if (outcome === null) return errorResult('The server is stopping');
  if (!outcome.ok) return errorResult(cutLine(outcome.errors[0]?.message ?? 'The edit failed'));
  const diff = outcome.diffs[0]?.diff ?? '';
  if (diff === '') return textResult(`No change to ${target.shown}.`);
  const budget = new Budget(MAX_REPLY_TEXT - 4096);
  const lines = [dryRun ? `Dry run: nothing was written. The edit would change ${target.shown}:`
    : `Edited ${target.shown}:`];
  if (!addLines(lines, diff, budget)) lines.push(cutNote(budget, dryRun));
  return textResult(lines.join('\n'));
}

async function replaceLines(server, args) {
  const target = confine(server.roots, args.path);
  const edit = { start_line: args.start_line, end_line: args.end_line, new_text: args.new_text };
  if (args.expected_text !== undefined) edit.expected_text = args.expected_text;
  if (args.expected_version !== undefined) edit.expected_version = args.expected_version;
  return oneFileAnswer(await runEdits(server, [edit], [target], args.dry_run), target, args.dry_run);
}

async function edit(server, args) {
  const target = confine(server.roots, args.path);
  const change = { old_text: args.old_text, new_text: args.new_text,
    replace_all: Boolean(args.replace_all) };
  if (args.expected_version !== undefined) change.expected_version = args.expected_version;
  return oneFileAnswer(await runEdits(server, [change], [target], args.dry_run), target, args.dry_run);
}

async function batchEdit(server, args) {
  // Every path is checked before anything is read or written.
  const targets = args.edits.map((e) => confine(server.roots, e.path));
  const edits = args.edits.map(({ path: _, ...members }) => members);
  const outcome = await runEdits(server, edits, targets, args.dry_run);
  if (outcome === null) return errorResult('The server is stopping');
  const budget = new Budget(MAX_REPLY_TEXT - 4096);
  const lines = [];
  let whole = true;
  for (const d of outcome.diffs) {
    whole = whole && addLines(lines, d.diff === '' ? `No change to ${d.path}.` : d.diff, budget);
  }
  for (const e of outcome.errors) {
    whole = whole && addLines(lines, `Failed: ${e.path}: ${e.message}`, budget);
  }
  if (!whole) lines.push(cutNote(budget, args.dry_run));
  const verb = args.dry_run ? 'would change' : 'changed';
  lines.push(`${counted(outcome.diffs.length, 'file', 'files')} ${verb}, ` +
    `${outcome.errors.length} failed${args.dry_run ? ' (dry run: nothing was written)' : ''}.`);
  const result = textResult(lines.join('\n'));
  if (!outcome.ok) result.isError = true;
  return result;
}

module.exports = { batchEdit, edit, replaceLines, shownDiff, shownMessage };
