#!/usr/bin/env bash
# The Debian build root: created once per suite and package list, reused afterwards.
#   scripts/root.sh ensure        create the root if it is missing, print its path
#   scripts/root.sh run CMD...    run CMD inside the root with the checkout mounted at the same path
#   scripts/root.sh scratch CMD... the same in a throw-away copy of the root (an overlay)
# QUILLMAR_SUITE picks the Debian suite: trixie (Debian 13, OBS 30) by default, or testing for the
# newest OBS Studio.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
checkout=$(cd "$here/.." && pwd)
suite=${QUILLMAR_SUITE:-trixie}
base=${QUILLMAR_ROOT_BASE:-/var/cache/quillmar-root}
[[ $suite =~ ^[a-z]+$ ]] || { echo "root.sh: not a Debian suite name: $suite" >&2; exit 1; }
# One list for every suite; a comment line "#@SUITE: -old +new" swaps packages for that suite only.
suite_packages() {
  local list drop add
  list=$(grep -v -E '^\s*(#|$)' "$here/root-packages.txt")
  drop=$(sed -n "s/^#@$suite:\s*//p" "$here/root-packages.txt" | tr ' ' '\n' | sed -n 's/^-//p')
  add=$(sed -n "s/^#@$suite:\s*//p" "$here/root-packages.txt" | tr ' ' '\n' | sed -n 's/^+//p')
  { if [ -n "$drop" ]; then grep -v -x -F "$drop" <<<"$list" || true; else echo "$list"; fi
    [ -z "$add" ] || echo "$add"; } | sort -u
}
packages=$(suite_packages)
# Stable suites never expire; a rolling suite's Release file does after a week.
case $suite in
  trixie|bookworm|stable|oldstable) ;;
  *) export APT_CONFIG="$here/root-apt-rolling.conf" ;;
esac
key=$( { echo "$suite"; echo "$packages"; sed -n '/^# root-recipe-begin/,/^# root-recipe-end/p' "$0"
         [ -z "${APT_CONFIG:-}" ] || cat "$APT_CONFIG"; } | sha256sum | cut -c1-16)
root="$base/$suite-$key"

die() { echo "root.sh: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || die "must run as root (debootstrap, chroot and mount need it)"

# The mirror comes from this machine's own apt configuration, or Debian's default one.
host_mirror() {
  local uri
  uri=$(grep -h -E '^\s*URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2}' | grep -E '/debian/?$' | head -n1 || true)
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(grep -h -E '^\s*deb\s' /etc/apt/sources.list | awk '{ for (i=2;i<=NF;i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' | grep -E '/debian/?$' | head -n1 || true)
  fi
  if [ -z "$uri" ]; then
    uri=http://deb.debian.org/debian
    echo "root.sh: no Debian mirror in /etc/apt; using Debian's default mirror $uri" >&2
  fi
  echo "${uri%/}"
}

# Runs a command in a private mount namespace: the mounts vanish with the process tree.
in_root() {
  local r=$1; shift
  # A private PID namespace too: whatever a run leaves behind (an OBS, an X server) ends with it.
  unshare -m --propagation private --pid --fork --kill-child -- /bin/bash -s "$r" "$checkout" "$@" <<'INNER'
set -e
r=$1; co=$2; shift 2
# A scratch run sees the root through an overlay: whatever it installs or changes vanishes with it.
if [ -n "${QUILLMAR_SCRATCH:-}" ]; then
  mkdir -p "$QUILLMAR_SCRATCH/upper" "$QUILLMAR_SCRATCH/work" "$QUILLMAR_SCRATCH/merged"
  mount -t overlay overlay -o "lowerdir=$r,upperdir=$QUILLMAR_SCRATCH/upper,workdir=$QUILLMAR_SCRATCH/work" "$QUILLMAR_SCRATCH/merged"
  r=$QUILLMAR_SCRATCH/merged
fi
mount -t proc proc "$r/proc"
mount --rbind /dev "$r/dev"
mount -t sysfs sysfs "$r/sys"
mkdir -p "$r/$co" "$r/tmp"
mount --bind "$co" "$r/$co"
[ -n "${QUILLMAR_EXTRA_BIND:-}" ] && { mkdir -p "$r/$QUILLMAR_EXTRA_BIND"; mount --bind "$QUILLMAR_EXTRA_BIND" "$r/$QUILLMAR_EXTRA_BIND"; }
cp -L /etc/resolv.conf "$r/etc/resolv.conf" 2>/dev/null || true
# The host may reach registries through its own certificate authorities: trust them in here too.
if [ -f /etc/ssl/certs/ca-certificates.crt ] && [ -d "$r/etc/ssl/certs" ]; then
  cp -L /etc/ssl/certs/ca-certificates.crt "$r/etc/ssl/certs/host-ca-certificates.crt"
  export NODE_EXTRA_CA_CERTS=/etc/ssl/certs/host-ca-certificates.crt
fi
pass=()
while IFS= read -r -d '' kv; do
  case "$kv" in QUILLMAR_*=*|APT_CONFIG=*|ASAN_OPTIONS=*|LSAN_OPTIONS=*|UBSAN_OPTIONS=*|CI=*|TERM=*|NODE_EXTRA_CA_CERTS=*|npm_config_*=*|*_proxy=*|*_PROXY=*) pass+=("$kv") ;; esac
done < <(env -0)
# One compiler cache in the root serves every checkout: paths are taken relative to the checkout.
exec chroot "$r" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LANG=C.UTF-8 CCACHE_DIR=/var/cache/ccache CCACHE_BASEDIR="$co" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=8G \
  "${pass[@]}" QUILLMAR_CHECKOUT="$co" \
  /bin/bash -c 'cd "$QUILLMAR_CHECKOUT" && exec "$@"' bash "$@"
INNER
}

# root-recipe-begin
build_root() {
  command -v debootstrap >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null; }
  [ -f /usr/share/debootstrap/scripts/$suite ] || die "this debootstrap does not know $suite"
  local mirror tmp
  mirror=$(host_mirror)
  tmp="$root.partial"
  rm -rf "$tmp"
  mkdir -p "$tmp"
  echo "root.sh: creating $suite root in $root" >&2
  debootstrap --variant=minbase "$suite" "$tmp" "$mirror" >"$base/debootstrap.log" 2>&1 \
    || { tail -n 20 "$base/debootstrap.log" >&2; die "debootstrap failed"; }
  printf 'deb %s %s main\n' "$mirror" "$suite" >"$tmp/etc/apt/sources.list"
  # Keep the root lean: no documentation, no recommends.
  cat >"$tmp/etc/dpkg/dpkg.cfg.d/01-nodoc" <<'CFG'
path-exclude /usr/share/doc/*
path-exclude /usr/share/man/*
path-exclude /usr/share/info/*
CFG
  echo 'APT::Install-Recommends "false";' >"$tmp/etc/apt/apt.conf.d/90-norecommends"
  # shellcheck disable=SC2086
  in_root "$tmp" /bin/bash -c "export DEBIAN_FRONTEND=noninteractive; apt-get update -qq && apt-get install -y -qq $(echo $packages) >/var/log/quillmar-install.log 2>&1 || { tail -n 30 /var/log/quillmar-install.log; exit 1; }" \
    || die "package installation failed"
  in_root "$tmp" /bin/bash -c 'dbus-uuidgen --ensure=/etc/machine-id >/dev/null 2>&1 || true; apt-get clean'
  echo "$packages" >"$tmp/.quillmar-packages"
  mv "$tmp" "$root"
}
# root-recipe-end

# Names the packages apt could not install, so that a suite in flux fails loudly and clearly.
explain_failure() {
  local log="$root.partial/var/log/quillmar-install.log" names
  [ -f "$log" ] || return 0
  names=$(sed -n -E -e "s/^E: Unable to locate package (.+)$/\1 (not in the archive)/p" \
    -e "s/^E: Package '([^']+)' has no installation candidate.*/\1 (no installation candidate)/p" \
    -e "s/^E: Version '[^']*' for '([^']+)' was not found.*/\1 (version not found)/p" \
    -e 's/^ +([^ ]+) : (Pre-)?Depends: (.*)$/\1 (depends on \3)/p' "$log" | sort -u | paste -s -d ';' | sed 's/;/; /g')
  echo "root.sh: Debian $suite: could not install: ${names:-see $log}" >&2
}

ensure() {
  mkdir -p "$base"
  [ -f "$root/.quillmar-packages" ] && { echo "$root"; return; }
  exec 9>"$base/.lock"
  flock 9
  # Another run may have finished it while we waited.
  if [ ! -f "$root/.quillmar-packages" ]; then
    # Not "( build_root ) || ...": that would switch errexit off inside it.
    set +e; ( set -e; build_root ); local rc=$?; set -e
    [ $rc = 0 ] || { explain_failure; exit 1; }
  fi
  flock -u 9
  echo "$root"
}

case "${1:-}" in
  ensure) ensure ;;
  run) shift; [ $# -gt 0 ] || die "run needs a command"; ensure >/dev/null; in_root "$root" "$@" ;;
  scratch) shift; [ $# -gt 0 ] || die "scratch needs a command"; ensure >/dev/null
    scratch=$(mktemp -d "$base/scratch.XXXXXX")
    # The overlay and its mounts end with the namespace; only then is the scratch removed.
    trap 'rm -rf --one-file-system "$scratch"' EXIT
    QUILLMAR_SCRATCH=$scratch in_root "$root" "$@" ;;
  path) echo "$root" ;;
  *) die "usage: root.sh ensure | run CMD... | scratch CMD... | path" ;;
esac
