'use strict';
// The install step: builds the library and the addon with CMake from the
// clone this folder belongs to (in build-node/ at the clone's top, reused by
// later installs), then puts the addon and a copy of the library in build/
// beside index.js, where the addon finds the library by its own folder.
// npm links this folder rather than copying it, and does not install a
// linked folder's dependencies (the tool server's), so this step installs
// them here, as the lock file pins them, when the lock file changed.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const here = path.resolve(__dirname, '..');
const source = path.resolve(here, '..', '..');
const build = path.join(source, 'build-node');
const out = path.join(here, 'build');

function run(program, args) {
  try {
    execFileSync(program, args, { stdio: ['ignore', process.stderr, process.stderr] });
  } catch (error) {
    if (error.code === 'ENOENT') {
      throw new Error(`${program} is not installed; run ./scripts/setup.sh in ${source} first`);
    }
    throw error;
  }
}

if (!fs.existsSync(path.join(source, 'CMakeLists.txt'))) {
  throw new Error(`the addon is built from a clone of quenmar-grep: no CMakeLists.txt at ${source} ` +
    '(install the folder with npm install --install-links=false, so that npm links it)');
}
// This folder's CMake project builds the library as its subproject, with
// the library's own defaults for one: no tests, tools or install rules.
// A build folder configured from another source folder (an older layout)
// is configured afresh.
const cache = path.join(build, 'CMakeCache.txt');
const home = fs.existsSync(cache) &&
  /^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$/m.exec(fs.readFileSync(cache, 'utf8'));
if (home && (!fs.existsSync(home[1]) || fs.realpathSync(home[1]) !== fs.realpathSync(here))) {
  fs.rmSync(cache);
  fs.rmSync(path.join(build, 'CMakeFiles'), { recursive: true, force: true });
}
run('cmake', ['-S', here, '-B', build, '-DCMAKE_BUILD_TYPE=Release']);
run('cmake', ['--build', build, '--target', 'quenmar_grep_node', '--parallel']);
const addon = path.join(build, 'quenmar_grep.node');
if (!fs.existsSync(addon)) {
  throw new Error('Node-API headers were not found, so no addon was built (Debian: apt install libnode-dev)');
}
fs.mkdirSync(out, { recursive: true });
fs.copyFileSync(addon, path.join(out, 'quenmar_grep.node'));
fs.copyFileSync(fs.realpathSync(path.join(build, 'quenmar-grep', 'libquenmar-grep.so.1')),
  path.join(out, 'libquenmar-grep.so.1'));

// The dependencies, once per version of the lock file.
const crypto = require('node:crypto');
const lock = path.join(here, 'package-lock.json');
const stamp = path.join(here, 'node_modules', '.lock-sum');
const sum = crypto.createHash('sha256').update(fs.readFileSync(lock)).digest('hex');
if (!fs.existsSync(stamp) || fs.readFileSync(stamp, 'utf8').trim() !== sum) {
  const npm = process.env.npm_execpath;
  const command = npm ? [process.execPath, npm] : ['npm'];
  // The outer install's settings (its --prefix, -g) are not this folder's.
  const env = Object.fromEntries(Object.entries(process.env)
    .filter(([key]) => !/^npm_/i.test(key)));
  execFileSync(command[0], [...command.slice(1), 'ci', '--ignore-scripts', '--no-audit', '--no-fund', '--no-update-notifier',
    '--loglevel=error'], { cwd: here, env, stdio: ['ignore', process.stderr, process.stderr] });
  fs.writeFileSync(stamp, `${sum}\n`);
}
