#!/usr/bin/env bash
# The tool's default walk against ripgrep's on a real tree (the Linux 6.1
# source that bench/compare.sh unpacks, or DIR): both run from the tree's
# top with no flags but the command's own, and the sets of paths they print
# for --files and for -l PATTERN must be the same. Prints each set's size
# and any paths only one of them printed; exits 1 when they differ.
#
#   bench/rg_parity.sh [DIR [PATTERN...]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${QG_TOOL:-$root/build/tools/cli/quenmar-grep}
tree=${1:-/var/cache/quenmar-grep-bench/linux-source-6.1}
shift || true
patterns=("$@")
[ ${#patterns[@]} -gt 0 ] || patterns=(spin_lock_irqsave size_t EXPORT_SYMBOL_GPL)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
compare() {
  local name=$1
  shift
  (cd "$tree" && "$tool" "$@" | LC_ALL=C sort) >"$work/ours" || true
  (cd "$tree" && rg "$@" | LC_ALL=C sort) >"$work/rg" || true
  local ours theirs
  ours=$(wc -l <"$work/ours")
  theirs=$(wc -l <"$work/rg")
  if cmp -s "$work/ours" "$work/rg"; then
    echo "$name: $ours paths, the same as rg's"
  else
    echo "$name: $ours paths, rg $theirs; only ours, then only rg's:"
    LC_ALL=C comm -23 "$work/ours" "$work/rg" | head -5
    LC_ALL=C comm -13 "$work/ours" "$work/rg" | head -5
    status=1
  fi
}
compare "--files" --files
for p in "${patterns[@]}"; do compare "-l $p" -l "$p"; done
compare "-l -w size_t (/usr/include)" -l -w size_t /usr/include
exit $status
