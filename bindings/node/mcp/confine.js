'use strict';
// Confinement of the tool server to its roots: every path an assistant names
// is resolved as the file system resolves it (links followed, `..` folded)
// before it is used, and must lie inside one of the roots, resolved the same
// way. What is handed to the library is the resolved path, so a path that
// passed the check names what was checked.

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

/**
 * The resolved form of an existing or missing path: a missing one is its
 * nearest existing folder, resolved, with the rest of the path after it.
 */
function realOf(absolute) {
  try {
    return fs.realpathSync.native(absolute);
  } catch (error) {
    if (error.code !== 'ENOENT' && error.code !== 'ENOTDIR') throw error;
    const parent = path.dirname(absolute);
    if (parent === absolute) return absolute;
    return path.join(realOf(parent), path.basename(absolute));
  }
}

/**
 * Resolves `given` (absolute, or relative to the first root) and returns
 * { real, root, shown }: the resolved path, the root holding it, and the path
 * relative to that root for messages. Throws AccessDenied for a path outside
 * every root.
 */
function confine(roots, given) {
  const real = realOf(path.resolve(roots[0], given));
  const root = roots.find((r) => inside(r, real));
  if (root === undefined) throw new AccessDenied(given);
  return { real, root, shown: path.relative(root, real) || '.' };
}

module.exports = { AccessDenied, confine, inside, resolveRoots };
