# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the packaging checks: a temporary folder removed on exit, and the build installed
# into it as DESTDIR under /usr, the prefix of the Debian package.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
cleanups=()
cleanup() {
    for step in "${cleanups[@]}"; do eval "$step" || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

root=$work/root
install_build() {
    DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
}
