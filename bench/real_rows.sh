#!/usr/bin/env bash
# Rows on a real source tree (bench/real_tree.sh: six Git releases, code,
# documentation, translations and binary test data), timed as extra_rows.sh
# times its rows (bench/rows_lib.sh):
#   s-rare, s-common     search for a rare identifier and a common word,
#                        ignoring case, beside rg -l and grep -rl
#   r-rare-shm, ...      replace of each, case-sensitive, beside rg -l piped to
#                        sed -i and to sd, quillet-cli with its journal (the
#                        default) and with --no-journal; on tmpfs (/dev/shm)
#                        and on the disk
#   u-common-shm, ...    undo of the common word's replace: quillet-cli's run
#                        (the group's "peer") beside \`quillet-cli undo\` of
#                        that run, made untimed in the undo row's prepare;
#                        x_fast of the undo row is undo time / run time. The
#                        journal is on the disk, as a user's is, and empty
#                        before each run
#
#   QUILLET_CLI=path real_rows.sh [TREE]     (TREE: default /tmp/qbench/real)
# Environment: REPS (default 3); PLACES (default "shm disk"); REAL_SHM_WORK,
# REAL_DISK_WORK (where the replaces work on copies of TREE; default a folder
# in /dev/shm and $HOME/qbench-real-work); QUILLET_ARGS (added to every
# quillet-cli row); UNDO_ROWS=0 skips the undo rows; UNDO_STATE_HOME (the
# undo rows' XDG_STATE_HOME, on the disk; default $HOME/qbench-undo-state).
#
# The walk of quillet-cli -d DIR -r takes hidden files but never enters a
# folder whose name begins with "." (.github here); the peers are told the same
# (rg -uu -g '!.*/', grep --exclude-dir='.*'), so that all of them look at the
# same files. A replace starts from a copy of TREE restored with rsync (only
# the files the last run changed are copied again) and, on the disk, flushed,
# so that no run pays for the writes of the one before.
#
# Checks (one untimed run of each row): the searches list the same files,
# except that rg leaves out the binary files (a NUL byte in the first 8 KiB)
# that grep lists and quillet-cli counts; every replace changes the same set of
# files to the same bytes (modes and symlinks too), and no text file keeps the
# literal. Binary files are passed over by quillet-cli's replace and are never
# listed by rg -l, so the pipes and quillet-cli should agree. Undo restores
# every file the run changed, and the tree is the source again, byte for byte
# (modes and symlinks too).
set -euo pipefail
TREE=${1:-/tmp/qbench/real}
REPS=${REPS:-3}
PLACES=${PLACES:-shm disk}
UNDO_ROWS=${UNDO_ROWS:-1}
export LC_ALL=C.UTF-8
die() { printf 'real_rows: %s\n' "$*" >&2; exit 2; }
[ -f "$TREE/MANIFEST.env" ] || die "no tree in $TREE (run bench/real_tree.sh first)"
[ -x "${QUILLET_CLI:-}" ] || die "QUILLET_CLI does not name an executable"
for t in rg sd grep sed hyperfine perl rsync comm; do command -v "$t" >/dev/null || die "missing tool: $t"; done
TREE=$(cd "$TREE" && pwd)
Q=$(cd "$(dirname "$QUILLET_CLI")" && pwd)/$(basename "$QUILLET_CLI")
ARGS=${QUILLET_ARGS:-}
# shellcheck source=bench/rows_lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/rows_lib.sh"
# shellcheck disable=SC1091
. "$TREE/MANIFEST.env"

# In 18 files of the six releases (30 times), one spelling only; and the word
# of nearly every file, in code, documentation, translations and test data.
RARE=strbuf_addbuf_percentquote RARE_NEW=strbuf_add_percentquoted
COMMON=file COMMON_NEW=dossier
RG="rg -uu -g '!.*/'"
GREP="grep -r --exclude-dir='.*'"

TMPD=$(mktemp -d)
declare -A WORK=()
for p in $PLACES; do
    case $p in
    shm) WORK[shm]=${REAL_SHM_WORK:-/dev/shm/qreal.$$} ;;
    disk) WORK[disk]=${REAL_DISK_WORK:-$HOME/qbench-real-work} ;;
    *) die "unknown place: $p (shm or disk)" ;;
    esac
    mkdir -p "${WORK[$p]}"
    WORK[$p]=$(cd "${WORK[$p]}" && pwd)
done
if [ "$UNDO_ROWS" != 0 ]; then
    setup_undo_journal
fi
cleanup() {
    clear_undo_journal
    rm -rf "$TMPD"
    for p in "${!WORK[@]}"; do rm -rf "${WORK[$p]}/tree"; rmdir "${WORK[$p]}" 2>/dev/null || true; done
}
trap cleanup EXIT
[ -z "${WORK[disk]:-}" ] || [ "$(stat -f -c %T "${WORK[disk]}")" != tmpfs ] ||
    die "${WORK[disk]} is on tmpfs, not on a disk (set REAL_DISK_WORK)"

ROWS=()
declare -A GW=() GL=() # each replace group's copy and literal
for lit in RARE COMMON; do
    L=${!lit} g=s-${lit,,}
    ROWS+=("$g|peer|rg-list|:|$RG -F -i -l '$L' '$TREE'"
        "$g|peer|grep-list|:|$GREP -liF '$L' '$TREE'"
        "$g|quillet|q-search|:|'$Q' search '$L' -d '$TREE' -r -m '*' -q $ARGS")
done
for p in $PLACES; do
    W=${WORK[$p]}/tree
    prep="rsync -a --delete '$TREE/' '$W/'"
    [ "$p" = disk ] && prep="$prep && sync -f '$W'"
    for lit in RARE COMMON; do
        L=${!lit} N=${lit}_NEW g=r-${lit,,}-$p
        N=${!N} GW[$g]=$W GL[$g]=$L
        ROWS+=("$g|peer|tree|$prep|$RG -F -l -0 '$L' '$W' | xargs -0 -r sed -i 's/$L/$N/g'"
            "$g|peer|tree|$prep|$RG -F -l -0 '$L' '$W' | xargs -0 -r sd -s '$L' '$N'"
            "$g|quillet|q-tree|$prep|'$Q' replace '$L' '$N' -d '$W' -r -m '*' -c -q $ARGS"
            "$g|quillet|q-tree|$prep|'$Q' replace '$L' '$N' -d '$W' -r -m '*' -c -q --no-journal $ARGS")
    done
    if [ "$UNDO_ROWS" != 0 ]; then
        g=u-common-$p GW[$g]=$W GL[$g]=$COMMON
        run="XDG_STATE_HOME='$STATE' '$Q' replace '$COMMON' '$COMMON_NEW' -d '$W' -r -m '*' -c -q $ARGS"
        flush=""
        [ "$p" = disk ] && flush=" && sync -f '$W'"
        ROWS+=("$g|peer|q-tree|'$CLEAR' '$STATE' && $prep|$run"
            "$g|quillet|q-undo|'$CLEAR' '$STATE' && $prep && $run >/dev/null 2>&1$flush|XDG_STATE_HOME='$STATE' '$Q' undo")
    fi
done

# path TAB mode TAB (md5 of a file | where a symlink points) of every entry
# but folders, sorted by path
state() {
    perl -MFile::Find -MDigest::MD5 -e '
        my $top = $ARGV[0];
        find({ no_chdir => 1, wanted => sub {
            my @s = lstat $_ or return;
            return if -d _;
            my $what = -l _ ? "-> " . readlink($_) : do { open my $f, "<:raw", $_ or die "$_: $!"; Digest::MD5->new->addfile($f)->hexdigest };
            printf "%s\t%o\t%s\n", substr($_, length($top) + 1), $s[2] & 07777, $what;
        } }, $top);' "$1" | LC_ALL=C sort
}
binary() { # reads paths, prints those with a NUL byte in their first 8 KiB
    perl -ne 'chomp; open my $f, "<", $_ or next; read $f, my $b, 8192; print "$_\n" if index($b, "\0") >= 0'
}
some() { head -3 | sed 's/^/        /'; }

echo "== real tree: $TREE"
echo "   $REAL_FILES files ($REAL_BINARY_FILES binary, $REAL_PO_FILES po), $REAL_SYMLINKS symlinks, $REAL_DIRS folders, $((REAL_BYTES / 1000000)) MB"
echo "   from $REAL_SOURCE, tags $REAL_TAGS"
echo "   literals: rare '$RARE' -> '$RARE_NEW', common '$COMMON' -> '$COMMON_NEW'"
for p in $PLACES; do echo "   $p: replaces work in ${WORK[$p]} ($(stat -f -c %T "${WORK[$p]}"))"; done
echo "   quillet-cli $($Q --version | awk '{print $2}') ${ARGS}; $(rg --version | sed -n 1p); sd $(sd --version | awk '{print $2}'); $(grep --version | sed -n 1p)"
echo "-- checks (one untimed run of each command)"
find "$TREE" -type f -print0 | xargs -0 cat >/dev/null
state "$TREE" >"$TMPD/source.state"
declare -A BASE=()
for row in "${ROWS[@]}"; do
    IFS='|' read -r group kind check prep cmd <<<"$row"
    sh -c "$prep"
    set +e
    sh -c "$cmd" >"$TMPD/out" 2>"$TMPD/err"
    rc=$?
    set -e
    ok=ok why=() notes=()
    case $check in
    rg-list) sort "$TMPD/out" >"$TMPD/$group.rg" ;;
    grep-list)
        sort "$TMPD/out" >"$TMPD/$group.grep"
        comm -23 "$TMPD/$group.rg" "$TMPD/$group.grep" >"$TMPD/rg-only"
        comm -13 "$TMPD/$group.rg" "$TMPD/$group.grep" >"$TMPD/grep-only"
        binary <"$TMPD/grep-only" >"$TMPD/grep-only-bin"
        [ ! -s "$TMPD/rg-only" ] || why+=("rg lists $(wc -l <"$TMPD/rg-only") files grep does not")
        cmp -s "$TMPD/grep-only" "$TMPD/grep-only-bin" || why+=("grep lists text files rg does not")
        notes+=("rg $(wc -l <"$TMPD/$group.rg"), grep $(wc -l <"$TMPD/$group.grep") files; grep's $(wc -l <"$TMPD/grep-only-bin") more are binary")
        ;;
    q-search)
        n=$(sed -n 's/^Finished! Found and Processed \([0-9]*\) files\.$/\1/p' "$TMPD/err" | tail -1)
        [ "$n" = "$(wc -l <"$TMPD/$group.grep")" ] || why+=("reported '${n:-nothing}' files, grep listed $(wc -l <"$TMPD/$group.grep")")
        [ $rc = 0 ] || why+=("exit $rc")
        ;;
    tree | q-tree)
        W=${GW[$group]} L=${GL[$group]}
        [ $rc = 0 ] || why+=("exit $rc")
        state "$W" >"$TMPD/row.state"
        { comm -23 "$TMPD/source.state" "$TMPD/row.state"; comm -13 "$TMPD/source.state" "$TMPD/row.state"; } |
            cut -f1 | sort -u >"$TMPD/row.changed"
        left=$({ eval "$RG -F -l '$L' '$W'" || true; } | wc -l)
        [ "$left" = 0 ] || why+=("$left files still hold '$L'")
        if [ -z "${BASE[$group]:-}" ]; then
            BASE[$group]=$TMPD/$group
            cp "$TMPD/row.state" "$TMPD/$group.state"
            cp "$TMPD/row.changed" "$TMPD/$group.changed"
        else
            comm -23 "$TMPD/$group.changed" "$TMPD/row.changed" >"$TMPD/missed"
            comm -13 "$TMPD/$group.changed" "$TMPD/row.changed" >"$TMPD/extra"
            if [ -s "$TMPD/missed" ] || [ -s "$TMPD/extra" ]; then
                why+=("changed $(wc -l <"$TMPD/row.changed") files, the first row $(wc -l <"$TMPD/$group.changed"): $(wc -l <"$TMPD/missed") left alone, $(wc -l <"$TMPD/extra") more")
                { sed 's/^/left alone: /' "$TMPD/missed"; sed 's/^/more: /' "$TMPD/extra"; } | some >"$TMPD/names"
            elif ! cmp -s "$TMPD/$group.state" "$TMPD/row.state"; then
                why+=("same files changed, to other bytes or modes")
            fi
        fi
        notes+=("$(wc -l <"$TMPD/row.changed") files changed")
        if [ "$check" = q-tree ]; then
            n=$(sed -n 's/^Finished! Found and Processed \([0-9]*\) files\.$/\1/p' "$TMPD/err" | tail -1)
            [ "$n" = "$(wc -l <"$TMPD/row.changed")" ] || why+=("reported '${n:-nothing}' files")
            b=$(sed -n 's/^quillet-cli: \([0-9]*\) binary files* passed over.*/\1/p' "$TMPD/err")
            [ -z "$b" ] || notes+=("$b binary passed over")
        fi
        ;;
    q-undo)
        state "${GW[$group]}" >"$TMPD/row.state"
        mapfile -t why < <(undo_check "$TMPD/out" "$TMPD/err" $rc "$(wc -l <"$TMPD/$group.changed")")
        cmp -s "$TMPD/source.state" "$TMPD/row.state" ||
            why+=("$( (comm -3 "$TMPD/source.state" "$TMPD/row.state" | cut -f1 | sort -u | wc -l)) files differ from the source")
        notes+=("$(sed -n 's/^Undid run [^:]*: \([0-9]* restored\).*/\1/p' "$TMPD/err"), the tree is the source again")
        ;;
    esac
    ((${#why[@]} == 0)) || ok=FAIL
    c=$cmd
    for p in "${!WORK[@]}"; do c=${c//${WORK[$p]}\/tree/W-$p}; done
    c=${c//$TREE/TREE} c=${c//\'$Q\'/quillet-cli} c=${c//XDG_STATE_HOME=\'${STATE:-}\' /}
    printf '  %-13s %-4s %s\n' "$group" "$ok" "${c:0:120}"
    for w in "${notes[@]}" "${why[@]}"; do printf '        %s\n' "$w"; done
    [ ! -s "$TMPD/names" ] || { cat "$TMPD/names"; rm -f "$TMPD/names"; }
done

echo "-- timing: $REPS rounds"
time_rows "$REPS" "$TMPD" "${ROWS[@]}" || die "timing failed"
abbrev=("'$Q'" quillet-cli "$TREE" TREE)
for p in "${!WORK[@]}"; do abbrev+=("${WORK[$p]}/tree" "W-$p"); done
[ "$UNDO_ROWS" = 0 ] || abbrev+=("XDG_STATE_HOME='$STATE' " "")
print_table "$TMPD" "${abbrev[@]}"
[ "$UNDO_ROWS" = 0 ] || echo "u-*: the peer is quillet-cli's run; the undo row's x_fast is undo time / run time (journal in $STATE)."
