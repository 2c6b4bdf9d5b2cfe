#!/bin/sh
# Makes docs/screenshot.png, the picture of the window in the README: the
# "File" page opened on a small demo folder beside the "Text" page with a
# pattern typed in. Builds nothing: it runs the quillet that is already built.
#
#   scripts/screenshot.sh [BUILD_DIR] [OUTPUT]     (defaults: build, docs/screenshot.png)
#
# With Xvfb, xdotool and ImageMagick (Debian: xvfb xauth xdotool x11-utils
# imagemagick) the real window is started on a virtual X display, typed into
# and photographed; without them, the window draws itself on Qt's offscreen
# platform (no typed text then).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
output=${2:-$root/docs/screenshot.png}
app=$build/src/gui/quillet
[ -x "$app" ] || { echo "screenshot.sh: $app is not built" >&2; exit 1; }
case $output in /*) ;; *) output=$(pwd)/$output ;; esac
mkdir -p "$(dirname "$output")"

work=$(mktemp -d)
app_pid=
xvfb_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# A small site to look at: the directory list opens at the current directory.
demo=$work/site
mkdir -p "$demo/news" "$demo/css"
for page in index about contact download faq; do
    printf '<html><body><a href="http://example.org/%s.htm">%s</a></body></html>\n' "$page" "$page" \
        > "$demo/$page.htm"
done
printf 'news\n' > "$demo/news/2024.htm"
printf 'body{}\n' > "$demo/css/site.css"
mkdir -p -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
unset BROWSER

if command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null; then
    # -displayfd picks a free display number and writes it once the server is up.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(cat "$work/display")"
    export QT_QPA_PLATFORM=xcb

    (cd "$demo" && exec "$app") &
    app_pid=$!
    window=$(xdotool search --sync --onlyvisible --name 'Quillet 1.3' | head -1)
    sleep 1
    xwininfo -id "$window" | grep -E 'Width|Height' | tr -s ' ' | sed 's/^/screenshot.sh: window/'
    import -window "$window" "$work/file.png"

    # The "Text" tab, then the pattern and the new text (which ticks "Is Pattern").
    xdotool mousemove --window "$window" 70 18 click 1
    sleep 0.3
    xdotool mousemove --window "$window" 200 100 click 1
    xdotool type --delay 20 'href="http://example.org/*.htm"'
    xdotool mousemove --window "$window" 200 320 click 1
    xdotool type --delay 20 'href="https://example.org/{$1}.html"'
    sleep 0.5
    import -window "$window" "$work/text.png"
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=
else
    export QT_QPA_PLATFORM=offscreen
    (cd "$demo" && "$app" --screenshot "$work/file.png" --page 0)
    (cd "$demo" && "$app" --screenshot "$work/text.png" --page 1)
fi

convert "$work/file.png" "$work/text.png" -background white -splice 12x0 +append -chop 12x0 "$output"
echo "screenshot.sh: wrote $output"
