#!/usr/bin/env bash
# Rows the shared harness does not have, timed the same way (one hyperfine
# call per group and round, order rotated, medians of per-round ratios):
#   html star search   quillet-cli search 'href=*.htm' beside rg and grep with
#                      an equivalent regex over whole files
#   html star replace  quillet-cli replace 'href="*.htm"' 'href="{$1}.html"'
#                      beside rg -l piped to sed -i -E (same resulting tree)
#   worst case         10 MiB of 'e' x 39 + 'a' searched for 2,500 of those
#                      units and one more 'a' (100,001 bytes), beside grep -F
#   scale-2x           quillet-cli's replace of the html tree beside its replace
#                      of two copies of it side by side (x_fast: the ratio)
#   all-a              100 MB of 'a' with every 'a' replaced by 'b', beside
#                      sed 's/a/b/g' on the same file
#   u-html, u-big      undo of a replace: quillet-cli's run of the harness's
#                      html replace and of its big file's (the group's "peer")
#                      beside `quillet-cli undo` of that run, made untimed in
#                      the undo row's prepare, so that the undo row's x_fast is
#                      undo time / run time; the journal is on the disk, as a
#                      user's is, and empty before each run
#
#   QUILLET_CLI=path extra_rows.sh [ROOT]     (ROOT: the harness's corpus root)
# Environment: REPS (default 5), QBENCH_WORK (where replaces work on copies),
# QUILLET_ARGS (added to the rows that write, e.g. --no-journal); UNDO_ROWS=0
# skips the undo rows (so does --no-journal); UNDO_STATE_HOME (their
# XDG_STATE_HOME, on the disk; default $HOME/qbench-undo-state).
set -euo pipefail
ROOT=${1:-/tmp/qbench}
REPS=${REPS:-5}
UNDO_ROWS=${UNDO_ROWS:-1}
export LC_ALL=C.UTF-8
die() { printf 'extra_rows: %s\n' "$*" >&2; exit 2; }
# shellcheck source=bench/rows_lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/rows_lib.sh"
[ -d "$ROOT/html" ] || die "no corpus in $ROOT (run the harness's make_corpus.sh first)"
[ -x "${QUILLET_CLI:-}" ] || die "QUILLET_CLI does not name an executable"
for t in rg grep sed hyperfine perl md5sum; do command -v "$t" >/dev/null || die "missing tool: $t"; done
Q=$(cd "$(dirname "$QUILLET_CLI")" && pwd)/$(basename "$QUILLET_CLI")
H=$ROOT/html
if [ -z "${QBENCH_WORK:-}" ]; then
    if [ -w /dev/shm ]; then QBENCH_WORK=/dev/shm/qextra.$$; else QBENCH_WORK=$ROOT/work-extra; fi
fi
mkdir -p "$QBENCH_WORK"
W=$(cd "$QBENCH_WORK" && pwd)/html
TMPD=$(mktemp -d)

# The worst-case input, made once beside the corpora.
WORST=$ROOT/worst
if [ ! -f "$WORST/needle" ] || [ "$(stat -c %s "$WORST/near.txt" 2>/dev/null)" != 10485760 ]; then
    mkdir -p "$WORST"
    unit=$(printf 'e%.0s' $(seq 39))a
    perl -e 'print $ARGV[0] x 262144' "$unit" >"$WORST/near.txt"
    perl -e 'print $ARGV[0] x 2500, "a"' "$unit" >"$WORST/needle"
fi

# 100 MB of one letter, made once beside the corpora.
if [ "$(stat -c %s "$WORST/a100.txt" 2>/dev/null)" != 100000000 ]; then
    head -c 100000000 /dev/zero | tr '\0' a >"$WORST/a100.txt"
fi
W2=$(cd "$QBENCH_WORK" && pwd)/html2
A=$(cd "$QBENCH_WORK" && pwd)/a100.txt
B=$(cd "$QBENCH_WORK" && pwd)/big
case " ${QUILLET_ARGS:-} " in *" --no-journal "*) UNDO_ROWS=0 ;; esac
if [ "$UNDO_ROWS" != 0 ]; then
    [ -f "$ROOT/MANIFEST.env" ] || die "no MANIFEST.env in $ROOT"
    # shellcheck disable=SC1091
    . "$ROOT/MANIFEST.env"
    setup_undo_journal
fi
cleanup() {
    clear_undo_journal
    rm -rf "$TMPD" "$W" "$W2" "$A" "$B"
    rmdir "$QBENCH_WORK" 2>/dev/null || true
}
trap cleanup EXIT
PREP2="rm -rf '$W2' && mkdir '$W2' && cp -a '$H' '$W2/one' && cp -a '$H' '$W2/two'"
PREPA="cp '$WORST/a100.txt' '$A'"
LIT=boost::asio
ARGS=${QUILLET_ARGS:-}

# group|kind|check|prepare|command ; kind: peer or quillet; check: list:N,
# finished (quillet's own count must match the peers' list), tree, none.
PREP="rm -rf '$W' && cp -a '$H' '$W'"
ROWS=(
    "star-search|peer|list|:|rg -l -i -U '(?s)href=.*\\.htm' '$H'"
    "star-search|peer|list|:|grep -rliz 'href=.*\\.htm' '$H'"
    "star-search|quillet|finished|:|'$Q' search 'href=*.htm' -d '$H' -r -m '*' -q"
    "star-replace|peer|tree|$PREP|rg -l -0 -i 'href=\"[^\"]*\\.htm\"' '$W' | xargs -0 -r sed -i -E 's/href=\"([^\"]*)\\.htm\"/href=\"\\1.html\"/gI'"
    "star-replace|quillet|tree|$PREP|'$Q' replace 'href=\"*.htm\"' 'href=\"{\$1}.html\"' -d '$W' -r -m '*' -q $ARGS"
    "worst|peer|none|:|grep -c -F -f '$WORST/needle' '$WORST/near.txt'"
    "worst|quillet|none|:|'$Q' search \"\$(cat '$WORST/needle')\" '$WORST/near.txt' -q"
    "worst|quillet|none|:|'$Q' replace \"\$(cat '$WORST/needle')\" x '$WORST/near.txt' -n -q"
    "scale-2x|peer|none|$PREP|'$Q' replace $LIT NEWTEXT -d '$W' -r -m '*' -q $ARGS"
    "scale-2x|quillet|none|$PREP2|'$Q' replace $LIT NEWTEXT -d '$W2' -r -m '*' -q $ARGS"
    "all-a|peer|none|$PREPA|sed -i 's/a/b/g' '$A'"
    "all-a|quillet|none|$PREPA|'$Q' replace a b '$A' -q $ARGS"
)
declare -A UW=() # each undo group's copy and its source
if [ "$UNDO_ROWS" != 0 ]; then
    PREPB="rm -rf '$B' && cp -a '$ROOT/big' '$B'"
    for u in "html|$H|$W|$PREP|$HTML_LIT|$HTML_NEW" "big|$ROOT/big|$B|$PREPB|$SYN_LIT|$SYN_NEW"; do
        IFS='|' read -r name src dst prep lit new <<<"$u"
        UW[u-$name]="$src|$dst"
        run="XDG_STATE_HOME='$STATE' '$Q' replace '$lit' '$new' -d '$dst' -r -m '*' -q $ARGS"
        ROWS+=("u-$name|peer|urun|'$CLEAR' '$STATE' && $prep|$run"
            "u-$name|quillet|undo|'$CLEAR' '$STATE' && $prep && $run >/dev/null 2>&1|XDG_STATE_HOME='$STATE' '$Q' undo")
    done
fi

echo "-- checks (one untimed run of each command)"
tree_fp() { (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum | md5sum | cut -c1-32); }
listed="" reftree=""
for row in "${ROWS[@]}"; do
    IFS='|' read -r group kind check prep cmd <<<"$row"
    sh -c "$prep"
    set +e
    sh -c "$cmd" >"$TMPD/out" 2>"$TMPD/err"
    rc=$?
    set -e
    ok=ok why="" note=""
    case $check in
    list)
        n=$(wc -l <"$TMPD/out")
        if [ -z "$listed" ]; then listed=$n; elif [ "$n" != "$listed" ]; then ok=FAIL why="listed $n, first peer $listed"; fi ;;
    finished)
        n=$(sed -n 's/^Finished! Found and Processed \([0-9]*\) files\.$/\1/p' "$TMPD/err" | tail -1)
        [ "$n" = "$listed" ] || { ok=FAIL; why="reported '${n:-nothing}', peers listed $listed"; } ;;
    tree)
        fp=$(tree_fp "$W")
        if [ -z "$reftree" ]; then reftree=$fp; elif [ "$fp" != "$reftree" ]; then ok=FAIL why="tree differs from the peer's"; fi ;;
    urun)
        IFS='|' read -r src dst <<<"${UW[$group]}"
        changed=$(sed -n 's/^Finished! Found and Processed \([0-9]*\) files\.$/\1/p' "$TMPD/err" | tail -1)
        [ "$rc" = 0 ] && [ "${changed:-0}" -gt 0 ] && [ "$(tree_fp "$dst")" != "$(tree_fp "$src")" ] ||
            { ok=FAIL why="exit $rc, reported '${changed:-nothing}' files"; } ;;
    undo)
        IFS='|' read -r src dst <<<"${UW[$group]}"
        why=$(undo_check "$TMPD/out" "$TMPD/err" "$rc" "${changed:-?}" | paste -sd';')
        [ "$(tree_fp "$dst")" = "$(tree_fp "$src")" ] || why="${why:+$why; }the tree is not the source again"
        if [ -n "$why" ]; then ok=FAIL; else note="$changed restored, the tree is the source again"; fi ;;
    esac
    [ -z "${STATE:-}" ] || cmd=${cmd//XDG_STATE_HOME=\'$STATE\' /}
    printf '  %-12s %-4s %s%s%s\n' "$group" "$ok" "${cmd:0:110}" "${why:+   <- $why}" "${note:+   ($note)}"
done

echo "-- timing: $REPS rounds"
time_rows "$REPS" "$TMPD" "${ROWS[@]}" || die "timing failed"
if [ "$UNDO_ROWS" != 0 ]; then
    print_table "$TMPD" "XDG_STATE_HOME='$STATE' " ""
    echo "u-*: the peer is quillet-cli's run; the undo row's x_fast is undo time / run time (journal in $STATE)."
else
    print_table "$TMPD"
fi
