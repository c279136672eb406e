'use strict';
// Confinement of the tool server to its roots: every path an assistant names
// is resolved as the system resolves it when the file is opened (each link
// followed where it stands, and a `..` after a link taken from the link's
// target, never folded away as text), and must lie inside one of the roots,
// resolved the same way. What is handed to the library is the resolved
// path, so a path that passed the check names what was checked.
//
// The check and the use are two steps: a process that swaps a folder for a
// link between them can lead one call elsewhere (docs/mcp.md says so).

const fs = require('node:fs');
const path = require('node:path');

/** A path outside the roots; its message is what the assistant reads. */
class AccessDenied extends Error {
  constructor(given) {
    super(`Access denied: '${given}' is outside the allowed roots`);
    this.name = 'AccessDenied';
  }
}

/**
 * The roots as given on the command line, each resolved; throws with a
 * message naming the first one that does not exist or is not a directory.
 */
function resolveRoots(given) {
  if (given.length === 0) throw new Error('no ROOT given: name at least one folder to serve');
  return given.map((root) => {
    let real;
    try {
      real = fs.realpathSync.native(root);
    } catch {
      throw new Error(`ROOT '${root}' does not exist`);
    }
    if (!fs.statSync(real).isDirectory()) throw new Error(`ROOT '${root}' is not a directory`);
    return real;
  });
}

/** True when `real` is `root` or lies below it. */
function inside(root, real) {
  if (real === root) return true;
  const prefix = root.endsWith(path.sep) ? root : root + path.sep;
  return real.startsWith(prefix);
}

/** The parts of `p` between separators ('/', and '\' on Windows), empty ones dropped. */
function partsOf(p) {
  return p.split(path.sep === '\\' ? /[\\/]+/ : /\/+/).filter((part) => part !== '');
}

/** The path of the first `n` parts of an absolute path whose leading part is `lead`. */
function prefixOf(lead, parts, n) {
  const joined = parts.slice(0, n).join(path.sep);
  if (lead === path.sep) return path.sep + joined;
  // A drive ("C:") names its root folder only with a separator after it.
  return n <= 1 ? parts[0] + path.sep : joined;
}

/**
 * The path the system reaches for the absolute path `absolute`, taken as it
 * is (no `..` folded as text): the real path of its longest prefix that
 * exists (the system's own resolution, links and `..` in turn), then the
 * parts after it, which name nothing yet.
 */
function reachedPath(absolute) {
  const lead = /^[A-Za-z]:/.test(absolute) ? absolute.slice(0, 2) : path.sep;
  const parts = partsOf(absolute);
  for (let n = parts.length; n > 0; --n) {
    let real;
    try {
      real = fs.realpathSync.native(prefixOf(lead, parts, n));
    } catch (error) {
      if (error.code === 'ENOENT' || error.code === 'ENOTDIR') continue;
      throw error;
    }
    const rest = parts.slice(n);
    return { real, rest };
  }
  return { real: fs.realpathSync.native(lead === path.sep ? path.sep : lead + path.sep), rest: parts };
}

/**
 * Resolves `given` (absolute, or relative to the first root) and returns
 * { real, root, shown }: the resolved path, the root holding it, and the path
 * relative to that root for messages. Throws AccessDenied for a path outside
 * every root. Parts after the longest existing prefix are kept as given, so
 * a `..` among them fails where the system would fail it (a folder that does
 * not exist cannot be left); the check takes them at their widest reach.
 */
function confine(roots, given) {
  const absolute = path.isAbsolute(given) ? given : roots[0] + path.sep + given;
  const { real: existing, rest } = reachedPath(absolute);
  const real = rest.length === 0 ? existing : existing + path.sep + rest.join(path.sep);
  const root = roots.find((r) => inside(r, existing) && inside(r, path.resolve(real)));
  if (root === undefined) throw new AccessDenied(given);
  return { real, root, shown: path.relative(root, real) || '.' };
}

/**
 * True when the file at `file` exists and what it reaches, every link
 * followed, lies inside one of the roots: a walk that follows links may
 * reach files elsewhere, which no tool shows.
 */
function reachesInside(roots, file) {
  let real;
  try {
    real = fs.realpathSync.native(file);
  } catch {
    return false;  // a file that went away is not shown
  }
  return roots.some((root) => inside(root, real));
}

/**
 * The resolved path `real` as the tools show it and take it back: relative
 * to the first root when it lies there, else absolute, so that it names the
 * same file when given as a path argument.
 */
function argumentPath(roots, real) {
  return inside(roots[0], real) ? path.relative(roots[0], real) || '.' : real;
}

module.exports = {
  AccessDenied, argumentPath, confine, inside, reachedPath, reachesInside, resolveRoots,
};
