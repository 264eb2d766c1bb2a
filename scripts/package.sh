#!/usr/bin/env bash
# Builds the packages inside the build root into out/: the .deb (system layout) and the .tar.gz
# (per-user plug-in folder layout), then checks the .deb with lintian. QUILLMAR_SUITE picks the
# root as for root.sh; packages of other suites than trixie land in out/<suite>/.
set -euo pipefail
cd "$(dirname "$0")/.."
suite=${QUILLMAR_SUITE:-trixie}
dir=build-package${QUILLMAR_SUITE:+-$suite}
out=out; [ "$suite" = trixie ] || out=out/$suite
scripts/build.sh "$dir" -DQUILLMAR_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
scripts/root.sh run bash -c '
  set -e
  dir=$1; out=$2
  rm -rf "$dir/packages"
  (cd "$dir" && cpack -C RelWithDebInfo >cpack.log 2>&1) || { cat "$dir/cpack.log"; exit 1; }
  mkdir -p "$out"
  deb=$(ls "$dir"/packages/*.deb); tgz=$(ls "$dir"/packages/*.tar.gz)
  cp "$deb" "$tgz" "$out/"
  echo "== $out/${deb##*/}"; dpkg-deb -f "$deb"; dpkg-deb -c "$deb"
  echo "== $out/${tgz##*/}"; tar -tvzf "$tgz"
  # The testing root, made for the end-to-end suite only, has no lintian: the Debian 13 one checks.
  command -v lintian >/dev/null || { echo "== lintian: not in this root, the package is not checked"; exit 0; }
  echo "== lintian"
  # Errors fail the build; warnings are shown.
  lintian --fail-on error --tag-display-limit 0 "$deb"
' bash "$dir" "$out"
