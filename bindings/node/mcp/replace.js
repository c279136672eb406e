'use strict';
// The replace_pattern tool: every match of a pattern, in the lines the
// search tool lists for the same arguments, replaced by a template, with one
// library call per place searched (the path given, or each root in turn) in
// the edits' lane. A call is a preview unless dry_run is false: it lists
// each file that would change with its count of replacements, the SHA-256
// of its bytes as read and its diff. The apply that sends those hashes back
// in `expect` replaces only in those files, each only while its bytes still
// hash the same, so a file changed since its preview fails alone and is left
// as it is; an apply without `expect` replaces in every file it finds.
//
// The search of a call stops at the call's time limit (the files found
// by then are still replaced, each whole); the writing is never cut short,
// so every file is old or new. Paths are shown, and read back from
// `expect`, as the path arguments take them: relative to the first root,
// absolute for the files of the other roots.

const qg = require('..');
const { argumentPath, confine, inside } = require('./confine');
const { shownDiff, shownMessage } = require('./edits');
const { Budget, MAX_REPLY_TEXT, counted, cutLine, errorResult, textResult } = require('./output');
const { matchOptions, searchTargets } = require('./search');

// Bytes of the library's report of one place: twice what one reply shows,
// so that a reply is never short for lack of them.
const MAX_REPORT = 2 * MAX_REPLY_TEXT;

/** True unless the call asks to write: a call is a preview by default. */
function isDryRun(args) {
  return args.dry_run !== false;
}

/**
 * The places to replace in, each { real, root, shown, expect }: the search
 * tool's places for `args.path`; with `args.expect`, each holds the entries
 * (resolved path -> hash) that lie inside it, and a place none lies in is
 * left out. Every path of `expect` is confined before anything is read; one
 * outside the roots, outside the path searched, or naming the file another
 * entry names refuses the call.
 */
function placesOf(roots, args) {
  const places = searchTargets(roots, args.path);
  if (args.expect === undefined) return places;
  const named = new Map();  // resolved path -> the path given
  for (const [given, sha256] of Object.entries(args.expect)) {
    const { real } = confine(roots, given);
    if (named.has(real)) {
      throw new Error(`expect names one file twice: as '${named.get(real)}' and as '${given}'`);
    }
    named.set(real, given);
    const place = places.find((p) => inside(p.real, real));
    if (place === undefined) {
      throw new Error(`expect names '${given}', which is not below the path searched ` +
        `('${args.path}'); call with the path the preview was called with`);
    }
    (place.expect ??= {})[real] = sha256;
  }
  return places.filter((p) => p.expect !== undefined);
}

/**
 * The library's options for replacing in `place`, its search stopped after
 * `timeoutMs`. Files come in the order of their paths, so that a preview
 * and the calls after it list them alike, and a preview cut by the reply's
 * limit shows the same files each time.
 */
function replaceOptions(args, place, timeoutMs) {
  const options = {
    ...matchOptions(args),
    sort: 'path',
    preserve_case: Boolean(args.preserve_case),
    dry_run: isDryRun(args),
    timeout_ms: Math.max(1, timeoutMs),
    max_output_bytes: MAX_REPORT,
  };
  if (place.expect !== undefined) options.expect = place.expect;
  return options;
}

/** Logs each file an apply wrote in `place`, and how many the report could not list. */
function logWritten(server, place, report) {
  for (const f of report.files) server.log(`wrote ${f.file}`);
  if (report.output_limited) {
    server.log(`wrote ${counted(report.files_modified, 'file', 'files')} below ${place.real} ` +
      `in all; the report lists ${report.files.length} (its limit)`);
  }
}

/**
 * Adds one place's report to `outcome` with its paths as the tool shows
 * them: each file { path, replacements, sha256, diff } (diff only in a
 * preview, and only for a file that would change), each failure
 * { path, status, message }, and the totals.
 */
function addReport(outcome, report, roots) {
  for (const f of report.files) {
    const shown = argumentPath(roots, f.file);
    outcome.files.push({ path: shown, replacements: f.replacements, sha256: f.sha256,
      diff: f.diff === undefined ? undefined : shownDiff(f.diff, f.file, shown) });
  }
  for (const f of report.failures) {
    const shown = argumentPath(roots, f.file);
    outcome.failures.push({ path: shown, status: f.status,
      message: shownMessage(f.message, [{ real: f.file, shown }]) });
  }
  outcome.files_modified += report.files_modified;
  outcome.total_replacements += report.total_replacements;
  outcome.files_searched += report.files_searched;
  outcome.timed_out ||= report.timed_out === true;
  outcome.output_limited ||= report.output_limited === true;
}

/**
 * Replaces in each place in turn, in the edits' lane, each search within
 * what is left of the call's time; resolves to the merged outcome, or null
 * when the server began stopping before a place. The first place's refusal
 * (a pattern, template or path refused, which nothing was written before)
 * is the call's; a later place that cannot start fails alone.
 */
async function runReplace(server, places, args, deadline) {
  const release = await server.lanes.edits.acquire(deadline);
  const outcome = { files: [], failures: [], files_modified: 0, total_replacements: 0,
    files_searched: 0, timed_out: false, output_limited: false };
  try {
    for (const [i, place] of places.entries()) {
      if (server.stopping) {
        server.log(`stopped a replace after ${i} of ${counted(places.length, 'place', 'places')}; ` +
          'the others were left as they were');
        return null;
      }
      if (Date.now() >= deadline) {
        outcome.timed_out = true;
        break;
      }
      let report;
      try {
        report = await qg.replace(place.real, args.pattern, args.replacement,
          replaceOptions(args, place, deadline - Date.now()));
      } catch (error) {
        if (i === 0) throw error;
        const shown = argumentPath(server.roots, place.real);
        outcome.failures.push({ path: shown, status: error.code ?? error.name,
          message: shownMessage(error.message, [{ real: place.real, shown }]) });
        continue;
      }
      if (!isDryRun(args)) logWritten(server, place, report);
      addReport(outcome, report, server.roots);
    }
  } finally {
    release();
  }
  return outcome;
}

/**
 * The text of one file's entry: its path and count, and in a preview its
 * hash and diff (each line cut), or that it would not change.
 */
function fileText(file, dryRun) {
  const count = counted(file.replacements, 'replacement', 'replacements');
  if (!dryRun) return `${file.path}: ${count}`;
  if (file.diff === undefined) return `${file.path}: ${count}, no change (each match is its own replacement)`;
  const diff = file.diff.replace(/\n$/, '').split('\n').map(cutLine);
  return [`${file.path}: ${count}, sha256 ${file.sha256}`, ...diff].join('\n');
}

/**
 * The files the reply shows, while its budgets allow: each one's text, its
 * structured entry and, in a preview, its place in `expect`. Returns
 * { texts, entries, expect }.
 */
function shownFiles(files, dryRun, budget, structuredBudget) {
  const shown = { texts: [], entries: [], expect: {} };
  for (const file of files) {
    const text = fileText(file, dryRun);
    const entry = { path: file.path, replacements: file.replacements, sha256: file.sha256 };
    const applies = dryRun && file.diff !== undefined;
    const cost = applies ? `${text}\n${JSON.stringify({ [file.path]: file.sha256 })}` : text;
    if (!budget.add(cost) || !structuredBudget.add(entry)) break;
    shown.texts.push(text);
    shown.entries.push(entry);
    if (applies) shown.expect[file.path] = file.sha256;
  }
  return shown;
}

/** The failures the reply shows, while its budgets allow: { texts, entries }. */
function shownFailures(failures, budget, structuredBudget) {
  const shown = { texts: [], entries: [] };
  for (const failure of failures) {
    const text = cutLine(`Failed: ${failure.path}: ${failure.message}`);
    if (!budget.add(text) || !structuredBudget.add(failure)) break;
    shown.texts.push(text);
    shown.entries.push(failure);
  }
  return shown;
}

/** The line that says which files a reply cut by its limit leaves out, and what to do. */
function cutFilesLine(outcome, shown, dryRun) {
  const all = counted(outcome.files_modified, 'file', 'files');
  if (!dryRun) return `Not every file is listed (the reply's limit): ${all} were changed in all.`;
  const head = `Not every file is shown (the reply's limit): ${all} would change in all`;
  if (shown === 0) {
    return `${head}, and the diff of the first is longer than one reply. Narrow the preview with ` +
      'path, include, exclude or a more specific pattern.';
  }
  return `${head}, the first ${shown} are shown, and only those are in expect below. Apply these, ` +
    'then preview again for the rest, or narrow with path, include or exclude.';
}

/** The lines that say what the reply leaves out: files, failures, files past the time limit. */
function omissionLines(outcome, files, failures, dryRun, timeoutMs) {
  const lines = [];
  if (files.entries.length < outcome.files.length || outcome.output_limited) {
    lines.push(cutFilesLine(outcome, files.entries.length, dryRun));
  }
  const unlisted = outcome.failures.length - failures.entries.length;
  if (unlisted > 0) lines.push(`… ${counted(unlisted, 'more failure', 'more failures')} not shown.`);
  if (outcome.timed_out) {
    lines.push(`The search stopped at the time limit of ${timeoutMs} ms: ` + (dryRun
      ? 'files past it were not searched and may hold matches too. Narrow it with a path or globs.'
      : 'the files found by then were replaced, each whole; files past it were not searched and ' +
        'were left as they were. Preview again to see what is left.'));
  }
  return lines;
}

/** The closing lines: the totals, and after a preview how to apply it. */
function summaryLines(outcome, expect, dryRun) {
  const made = `${counted(outcome.total_replacements, 'replacement', 'replacements')} in ` +
    `${counted(outcome.files_modified, 'file', 'files')}`;
  const searched = `${counted(outcome.files_searched, 'file', 'files')} searched`;
  const failed = outcome.failures.length;
  const failures = failed === 0 ? '' : `; ${counted(failed, 'file', 'files')} failed`;
  if (!dryRun) {
    return [`Replaced: ${made} (${searched})${failures}.` + (failed === 0 ? ''
      : ' Failed files were left as they were; preview again to see them as they are now.')];
  }
  const lines = [`Dry run: nothing was written. ${made} would be made (${searched})${failures}.`];
  if (Object.keys(expect).length > 0) {
    lines.push('To apply: call replace_pattern again with the same arguments, dry_run: false and ' +
      `expect: ${JSON.stringify(expect)}. Only these files are written, each only while it is as ` +
      'previewed: one changed since fails alone and is left as it is.');
  }
  return lines;
}

/**
 * The reply to a replace: each file and failure while the budget allows
 * (failures first, so that many files never hide one), then what it all
 * comes to.
 */
function replaceAnswer(outcome, dryRun, timeoutMs) {
  const budget = new Budget(MAX_REPLY_TEXT - 4096);  // room for the closing lines
  const structuredBudget = new Budget(MAX_REPLY_TEXT - 1024);  // room for the totals
  const failures = shownFailures(outcome.failures, budget, structuredBudget);
  const files = shownFiles(outcome.files, dryRun, budget, structuredBudget);
  const lines = [...files.texts, ...failures.texts,
    ...omissionLines(outcome, files, failures, dryRun, timeoutMs),
    ...summaryLines(outcome, files.expect, dryRun)];
  const result = textResult(lines.join('\n'), {
    dry_run: dryRun,
    files: files.entries,
    failures: failures.entries,
    files_modified: outcome.files_modified,
    total_replacements: outcome.total_replacements,
    files_searched: outcome.files_searched,
    more: files.entries.length < outcome.files.length || outcome.output_limited,
    timed_out: outcome.timed_out,
  });
  if (outcome.failures.length > 0) result.isError = true;
  return result;
}

/**
 * The replace_pattern tool: a preview, or with dry_run false an apply, of
 * `args` over the places it names; every path is confined before anything
 * is read.
 */
async function replacePattern(server, args) {
  const deadline = Date.now() + server.timeoutMs;
  const places = placesOf(server.roots, args);
  const outcome = await runReplace(server, places, args, deadline);
  if (outcome === null) return errorResult('The server is stopping');
  return replaceAnswer(outcome, isDryRun(args), server.timeoutMs);
}

module.exports = { replacePattern };
