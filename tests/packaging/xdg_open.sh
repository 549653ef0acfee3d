# SPDX-License-Identifier: GPL-3.0-or-later
# File associations as a desktop without its own opener uses them: with the installed entry the
# default for image/jpeg in a private XDG_CONFIG_HOME, `xdg-open photo.jpg` under Xvfb starts the
# installed Kivo on that photo. Mode `handoff` then opens a second photo the same way and expects
# the running Kivo to take it instead of a second process staying up; it skips (77) while kivo
# has no single-instance support, which shows as that second process staying.
source "$(dirname "$0")/common.sh"
mode=${2:-open}
install_build

export HOME=$work/home XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime TMPDIR=$work/tmp
export XDG_DATA_DIRS=$root/usr/share:/usr/share PATH=$root/usr/bin:$PATH QT_QPA_PLATFORM=xcb
unset XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION \
    GNOME_DESKTOP_SESSION_ID WAYLAND_DISPLAY BROWSER
mkdir -p "$HOME" "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$TMPDIR" \
    "$work/photos"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cp "$root/usr/share/applications/org.kivo.Kivo.desktop" "$XDG_DATA_HOME/applications/"
xdg-mime default org.kivo.Kivo.desktop image/jpeg
[ "$(xdg-mime query default image/jpeg)" = org.kivo.Kivo.desktop ] ||
    fail "xdg-mime did not make Kivo the default for image/jpeg"
convert -size 96x64 gradient:orange-navy "$work/photos/photo.jpg"
convert -size 64x96 gradient:green-white "$work/photos/second.jpg"

# A private X server and session bus, so nothing reaches the user's desktop or another Kivo.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
cleanups+=("kill $xvfb")
read -r -t 10 -u "$displayfd" number || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$number
read -r bus_address bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
    paste -s -d ' ')
export DBUS_SESSION_BUS_ADDRESS=$bus_address
cleanups+=("kill $bus_pid")

kivo_pids() {
    local exe pids=()
    for exe in /proc/[0-9]*/exe; do
        [ "$(readlink "$exe" 2>/dev/null)" = "$root/usr/libexec/kivo/kivo-viewer" ] &&
            pids+=("${exe//[^0-9]/}")
    done
    echo "${pids[@]}"
}
cleanups+=('pids=$(kivo_pids); [ -z "$pids" ] || kill $pids')
window_shows() {
    xwininfo -root -tree 2>/dev/null | grep -qF "\"$1 ["
}
wait_for() { # seconds command...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}

xdg-open "$work/photos/photo.jpg" >"$work/open1.log" 2>&1 &
wait_for 30 window_shows photo.jpg ||
    fail "no Kivo window on photo.jpg: $(cat "$work/open1.log"; xwininfo -root -tree | grep '"')"
[ -n "$(kivo_pids)" ] || fail "the window showing photo.jpg is not the installed kivo"
[ "$mode" = handoff ] || { echo "xdg-open started the installed kivo on photo.jpg"; exit 0; }

xdg-open "$work/photos/second.jpg" >"$work/open2.log" 2>&1 &
wait_for 30 window_shows second.jpg ||
    fail "second.jpg not shown: $(cat "$work/open2.log"; xwininfo -root -tree | grep '"')"
one_process() { [ "$(kivo_pids | wc -w)" -eq 1 ]; }
if ! wait_for 5 one_process; then
    echo "SKIP: kivo has no single-instance support yet: the second xdg-open left a second" \
        "process running ($(kivo_pids))"
    exit 77
fi
echo "the running kivo took second.jpg from the second xdg-open"
