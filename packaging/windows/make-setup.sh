#!/usr/bin/env bash
# Makes the setup program from a built Windows tree:
#   make-setup.sh BUILD_DIR VERSION OUT.exe
# The programs are installed (stripped) into a scratch folder first, so the
# setup program carries exactly what the install rules name.
set -euo pipefail
build=$1 version=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage" --strip >/dev/null
mkdir -p "$(dirname "$out")"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$out" "$here/setup.nsi"
