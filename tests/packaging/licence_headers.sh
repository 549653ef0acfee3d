#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source, CMake and script file of ours names its licence in its first lines, and the
# licence text itself sits at the root. Data files (tests/data) carry licences of their own.
set -euo pipefail
root=$1
tag='SPDX-License-Identifier: GPL-3.0-or-later'
cmp -s "$root/COPYING" /usr/share/common-licenses/GPL-3 || {
    echo "COPYING is not the GPL version 3 text"
    exit 1
}
missing=0
while IFS= read -r -d '' file; do
    case "$file" in
    *.cpp | *.h | *.c | */CMakeLists.txt | *.cmake | *.sh) ;;
    *) head -c2 "$file" | grep -q '#!' || continue ;;
    esac
    if ! head -n3 "$file" | grep -qF "$tag"; then
        echo "no licence line: ${file#"$root"/}"
        missing=1
    fi
done < <(find "$root/src" "$root/tools" "$root/tests" "$root/bench" "$root/scripts" "$root/cmake" \
    "$root/.ci" "$root/data" "$root/samples" "$root/CMakeLists.txt" -path "$root/tests/data" -prune -o -type f -print0)
exit $missing
