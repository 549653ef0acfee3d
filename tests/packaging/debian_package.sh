# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: built by CPack with dpkg-shlibdeps, free of lintian errors, holding exactly
# the install tree, and installable by apt with the dependencies it declares (simulated).
source "$(dirname "$0")/common.sh"
install_build
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB fails"; }
deb=$(echo "$work"/package/kivo_*.deb)
[ -f "$deb" ] || fail "no kivo_*.deb written"

depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6widgets6* && $depends == *qt6-qpa-plugins* ]] ||
    fail "dependencies not computed from the binaries: $depends"

lintian --fail-on error --no-tag-display-limit "$deb" || fail "lintian reports errors"

packaged=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|' | sort)
installed=$(cd "$root" && find . ! -type d | sed 's|^\./|/|' | sort)
diff <(echo "$packaged") <(echo "$installed") || fail "package and install tree differ"

apt-get install --simulate --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt cannot install the package"; }
echo "package $(basename "$deb") built, lint-clean, complete and installable"
