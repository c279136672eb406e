#!/usr/bin/env bash
# Builds the packages for this machine's platform into OUT (default dist/):
# a Python wheel holding the library, installable with no compiler or CMake
# (pip install OUT/quenmar_grep-*.whl), and an npm tarball holding the addon
# and the library, its dependencies declared (npm install OUT/quenmar-grep-*.tgz).
# Neither refers to this clone once installed. Both need yyjson's shared
# library at run time where the library was linked against it (Debian:
# libyyjson0).
#
#   package.sh [OUT [BUILD]]
#
# BUILD: a build folder that holds the library and the addon already (a
# test build's); without it they are built in release form in
# build-package/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$root/dist}" && cd "${1:-$root/dist}" && pwd)
build=${2:-}
"$root/scripts/setup.sh"

if [ -z "$build" ]; then
  build=$root/build-package
  cmake -S "$root/bindings/node" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --parallel --target quenmar_grep_node >/dev/null
fi
library=$(find "$build" -name 'libquenmar-grep.so.1' -print -quit)
addon=$(find "$build" -name 'quenmar_grep.node' -print -quit)
if [ -z "$library" ] || [ -z "$addon" ]; then
  echo "package.sh: no library or addon in $build" >&2
  exit 2
fi
library=$(readlink -f "$library")

# The wheel, by the package's own backend, with the library given.
rm -f "$out"/quenmar_grep-*.whl
python3 - "$root/bindings/python/build_backend" "$out" "$library" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
import quenmar_grep_build
print(quenmar_grep_build.build_wheel(sys.argv[2], {"library": sys.argv[3]}))
EOF

# The tarball: the package's files with the built addon and library, and a
# manifest without the install step that builds them from a clone.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
node_dir=$root/bindings/node
mkdir -p "$stage/build"
cp -R "$node_dir/index.js" "$node_dir/index.d.ts" "$node_dir/generated.js" "$node_dir/mcp" "$stage/"
cp "$addon" "$stage/build/quenmar_grep.node"
cp "$library" "$stage/build/libquenmar-grep.so.1"
node - "$node_dir/package.json" "$stage/package.json" <<'EOF'
const fs = require('node:fs');
const [from, to] = process.argv.slice(2);
const manifest = JSON.parse(fs.readFileSync(from, 'utf8'));
delete manifest.scripts;
delete manifest.overrides;  // a dependency's overrides do not reach its host's install
manifest.files = manifest.files.filter((f) => f !== 'src/' && f !== 'scripts/');
fs.writeFileSync(to, `${JSON.stringify(manifest, null, 2)}\n`);
EOF
rm -f "$out"/quenmar-grep-*.tgz
(cd "$stage" && npm pack --silent --pack-destination "$out" >/dev/null)
ls "$out"/quenmar_grep-*.whl "$out"/quenmar-grep-*.tgz
