#!/usr/bin/env bash
# Makes the setup program from a built Windows tree:
#   make-setup.sh BUILD_DIR VERSION OUT.exe [VERSION OUT.exe ...]
# The programs are installed (stripped) into a scratch folder first, so the
# setup program carries exactly what the install rules name. More than one
# pair makes the same programs under other version numbers (the test's
# "older version").
set -euo pipefail
build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage" --strip >/dev/null
while [ $# -ge 2 ]; do
  mkdir -p "$(dirname "$2")"
  makensis -V2 -DVERSION="$1" -DSTAGE="$stage" -DOUTFILE="$2" "$here/setup.nsi"
  shift 2
done
