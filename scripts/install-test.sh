#!/usr/bin/env bash
# Installs Quillmar as a user would, each time in a throw-away copy of the build root, and runs the
# module's end-to-end tests against what was installed: the .deb through apt, then the archive
# unpacked into an empty per-user plug-in folder. Builds the packages first (scripts/package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p out
scripts/package.sh >out/package.log 2>&1 || { cat out/package.log; exit 1; }
deb=$(ls out/quillmar_*.deb); tgz=$(ls out/quillmar-*.tar.gz)
tests=(tests/e2e/module.test.mjs tests/e2e/notes.test.mjs)
module=/usr/lib/$(scripts/root.sh run dpkg-architecture -qDEB_HOST_MULTIARCH)/obs-plugins/quillmar.so
# Screenshots land beside the packages' build.
export QUILLMAR_BUILD_DIR=build-package

echo "== the package, installed with apt"
scripts/root.sh scratch bash -c 'set -e; scripts/e2e.sh --node-modules
  deb=$1; module=$2; shift 2
  [ ! -e "$module" ] || { echo "install-test: $module exists before installing" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "./$deb" >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }
  dpkg -L quillmar | grep -x -F "$module"
  QUILLMAR_E2E_MODULE=system scripts/xvfb.sh scripts/e2e.sh --on-display "$@"
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q quillmar >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }
  [ ! -e "$module" ] && [ ! -e /usr/share/obs/obs-plugins/quillmar ] || { echo "install-test: files left after purge" >&2; exit 1; }
' bash "$deb" "$module" "${tests[@]}"

echo "== the archive, unpacked into the per-user plug-in folder"
scripts/root.sh scratch bash -c 'set -e; scripts/e2e.sh --node-modules
  tgz=$1; module=$2; shift 2
  [ ! -e "$module" ] || { echo "install-test: $module exists; the archive would not be what OBS loads" >&2; exit 1; }
  QUILLMAR_E2E_MODULE=$tgz scripts/xvfb.sh scripts/e2e.sh --on-display "$@"
' bash "$tgz" "$module" "${tests[@]}"
