#!/bin/sh
# Makes the pictures of the window for the README and the manual, the same on
# every machine: the window is opened on a demo folder at the neutral path
# /tmp/quillet-demo/site and photographed page by page.
#
#   scripts/screenshot.sh [BUILD_DIR] [DOCS_DIR]     (defaults: build, docs)
#
# Writes DOCS_DIR/page-file.png, page-text.png (a pattern and a new text
# typed in), screenshot-changes.png (the Changes page's preview of them),
# changes-ticks.png (the first file's changes opened, one of them unticked),
# page-result.png (after a run, the final message answered),
# page-matches.png (then Only Search, a file's matches on the Changes page),
# page-maximised.png (the File page of the window maximised, at half size),
# changes-stopped.png (a preview over many files, stopped with Esc: its counts
# depend on where the stop lands) and screenshot.png (the File and Text
# pages side by side, for the README).
# Needs Xvfb, xdotool and ImageMagick (Debian: xvfb xauth xdotool x11-utils
# imagemagick). Where the system allows it, the script runs in a private
# mount namespace, in a root that holds the system's folders and an empty
# /tmp only, so that no folder of this machine shows in the tree. Builds
# nothing: it runs the quillet that is built.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
docs=${2:-$root/docs}
case $build in /*) ;; *) build=$(pwd)/$build ;; esac
case $docs in /*) ;; *) docs=$(pwd)/$docs ;; esac
app=$build/src/gui/quillet
[ -x "$app" ] || { echo "screenshot.sh: $app is not built" >&2; exit 1; }
for tool in Xvfb xdotool import convert; do
    command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing" >&2; exit 1; }
done
mkdir -p "$docs"

if [ -z "${QUILLET_SHOT_INSIDE:-}" ] && command -v unshare >/dev/null && command -v chroot >/dev/null &&
    unshare -mr --propagation private true 2>/dev/null; then
    export QUILLET_SHOT_INSIDE=1
    exec unshare -mr --propagation private sh "$0" "$build" "$docs"
fi
if [ "${QUILLET_SHOT_INSIDE:-}" = 1 ]; then
    # A root of the system's own folders only, so that the folder tree shows
    # none of this machine's (a checkout's, a home's): /usr, /etc, /dev,
    # /proc, /sys and /var as they are, the rest empty; the window and this
    # script copied into /opt/quillet, the pictures written through /out.
    mount -t tmpfs tmpfs /tmp
    new=/tmp/root
    mkdir -p "$new/opt/quillet/src/gui" "$new/out" "$new/tmp"
    for dir in usr etc dev proc sys var; do
        mkdir "$new/$dir" && mount --rbind "/$dir" "$new/$dir"
    done
    for dir in bin lib lib32 lib64 sbin; do
        if [ -L "/$dir" ]; then
            ln -s "$(readlink "/$dir")" "$new/$dir"
        elif [ -d "/$dir" ]; then
            mkdir "$new/$dir" && mount --rbind "/$dir" "$new/$dir"
        fi
    done
    mount --bind "$docs" "$new/out"
    cp "$app" "$new/opt/quillet/src/gui/quillet"
    cp "$0" "$new/opt/quillet/screenshot.sh"
    export QUILLET_SHOT_INSIDE=2 QUILLET_SHOT_DOCS="$docs"
    exec chroot "$new" /bin/sh /opt/quillet/screenshot.sh /opt/quillet /out
fi

demo=/tmp/quillet-demo/site
work=/tmp/quillet-demo/work
rm -rf /tmp/quillet-demo
mkdir -p "$demo/news" "$demo/css" "$work"
app_pid=
xvfb_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf /tmp/quillet-demo
}
trap cleanup EXIT INT TERM

for page in about contact download faq index; do
    printf '<html><body><a href="http://example.org/%s.htm">%s</a></body></html>\n' "$page" "$page" \
        > "$demo/$page.htm"
done
# A page of several lines, for the matches view's context and the ticks.
cat > "$demo/index.htm" <<'PAGE'
<html><body>
<h1>Welcome</h1>
<p>Read <a href="http://example.org/about.htm">about us</a>,</p>
<p>the <a href="http://example.org/faq.htm">questions</a> people ask,</p>
<p>or <a href="http://example.org/download.htm">download</a> it.</p>
<p>Write to us: <a href="http://example.org/contact.htm">contact</a>.</p>
</body></html>
PAGE
printf 'news\n' > "$demo/news/2024.htm"
printf 'body{}\n' > "$demo/css/site.css"
mkdir -p -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
# The run it makes is journaled with the demo, not in the user's home.
export XDG_STATE_HOME="$work/state"
export LC_ALL=C.UTF-8
unset BROWSER QT_SCALE_FACTOR
# The fonts the pictures were made with, whichever others the machine has
# (with fonts-noto-mono, "monospace" is Noto Sans Mono, whose lines are taller).
cat > "$work/fonts.conf" <<'FONTS'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <alias binding="same"><family>monospace</family><prefer><family>DejaVu Sans Mono</family></prefer></alias>
  <alias binding="same"><family>sans-serif</family><prefer><family>DejaVu Sans</family></prefer></alias>
</fontconfig>
FONTS
export FONTCONFIG_FILE="$work/fonts.conf"

# -displayfd picks a free display number and writes it once the server is up.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"
export QT_QPA_PLATFORM=xcb

(cd "$demo" && exec "$app" --dir "$demo") &
app_pid=$!
window=$(xdotool search --sync --onlyvisible --name 'Quillet 1.3' | head -1)
sleep 1.5

# A click at X Y of the window, then a pause for it to take effect
# (0.3 s unless given).
click() {
    xdotool mousemove --window "$window" "$1" "$2" click 1
    sleep "${3:-0.3}"
}
# The pages' tabs.
file_page() { click 27 19 "$@"; }
text_page() { click 70 19 "$@"; }
result_page() { click 119 19 "$@"; }
changes_page() { click 180 19 "$@"; }
# The pattern box of the Text page, emptied and typed into.
type_pattern() {
    xdotool mousemove --window "$window" 200 100 click 1 key ctrl+a
    xdotool type --delay 15 "$1"
}
# Execute, and the final message answered with Return.
execute() {
    click 246 423 0
    box=$(xdotool search --sync --onlyvisible --name '^Quillet$' | head -1)
    sleep 0.5
    xdotool mousemove --window "$box" 10 10 click 1 key Return
    sleep 0.5
}
shoot() { import -window "$window" "$@"; }

shoot "$docs/page-file.png"

# The Text page: a pattern, and a new text whose "{$1}" ticks "Is Pattern".
text_page
type_pattern 'href="http://example.org/*.htm"'
xdotool mousemove --window "$window" 200 320 click 1
xdotool type --delay 15 'href="https://example.org/{$1}.html"'
sleep 0.5
shoot "$docs/page-text.png"

# The Changes page: a preview of the same settings, its first file selected.
changes_page
click 60 49 1
click 80 110 0.5
shoot "$docs/screenshot-changes.png"

# The changes of index.htm, opened with the Right key; the second unticked
# with Down and Space (the diff then shows the ticked ones only).
click 80 166
xdotool key Right
sleep 0.3
xdotool key Down Down space
sleep 0.5
shoot "$docs/changes-ticks.png"

# Execute, then the Result page.
execute
result_page 0.5
shoot "$docs/page-result.png"

# The matches view: Only Search for the address, then, on the Changes page,
# the page of several lines selected; then Replace Text and its pattern again.
text_page
click 37 185 0
type_pattern 'example.org'
execute
changes_page
click 80 166 0.5
shoot "$docs/page-matches.png"
text_page
click 37 206 0
type_pattern 'href="http://example.org/*.htm"'

# The File page of the window maximised (Xvfb has no window manager: the
# window is given the whole screen), scaled down for the manual.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool windowmove "$window" 0 0 windowsize "$window" 1280 800
sleep 0.3
file_page 0.8
shoot -resize 50% -depth 8 "$docs/page-maximised.png"
xdotool windowsize "$window" "$WIDTH" "$HEIGHT"
sleep 0.3

# A preview over many files, stopped with Esc soon after it starts: the
# demo folder gets an archive of pages that still link the old way, and the
# mask names them.
i=0
while [ $i -lt 3000 ]; do
    printf '<a href="http://example.org/page%s.htm">page</a>\n' $(seq 400) > "$demo/archive-$i.htm"
    i=$((i + 1))
done
file_page 0.5
xdotool mousemove --window "$window" 170 232 click --repeat 3 1
xdotool type --delay 15 'archive-*.htm'
sleep 1.5
changes_page
click 60 49 0.05
xdotool key Escape
sleep 1.5
click 80 110 0.5
shoot "$docs/changes-stopped.png"

convert "$docs/page-file.png" "$docs/page-text.png" -background white -splice 12x0 +append -chop 12x0 \
    "$docs/screenshot.png"
echo "screenshot.sh: wrote page-file.png, page-text.png, screenshot-changes.png, changes-ticks.png, page-result.png, page-matches.png, page-maximised.png, changes-stopped.png and screenshot.png in ${QUILLET_SHOT_DOCS:-$docs}"
