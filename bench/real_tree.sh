#!/usr/bin/env bash
# Builds the real source tree of bench/real_rows.sh: six releases of Git side by
# side, each the `git archive` of its release tag, so the tree is what the
# project shipped: C and shell code, AsciiDoc documentation, the po/ message
# catalogues of about 20 languages, and the binary files of its test data and
# web pages (PNG, ICO, tar, zip, git packs) left in, as are the hidden files
# (.gitignore, .github/) and the few symlinks.
#
#   bench/real_tree.sh [DEST]          (default /tmp/qbench/real)
#
#   DEST/git-2.30.0/ ... DEST/git-2.55.0/   one folder per tag
#   DEST/MANIFEST.env   source, tags, tree ids and counts; real_rows.sh reads it
#
# Environment:
#   REAL_TREE_GIT=URL-or-dir  where the tags come from: a clone URL (default
#                  https://github.com/git/git.git; only the six tags are fetched,
#                  shallow) or a local git directory holding them (a bare
#                  mirror or a checkout)
#   REAL_TREE_TAGS="v2.30.0 ..."   other tags of the same repository
#   FORCE=1        rebuild a tree that exists already
# The tree of each tag is checked against the id recorded below, so a rebuild
# from any copy of the repository gives the same bytes.
set -euo pipefail

DEST=${1:-/tmp/qbench/real}
SOURCE=${REAL_TREE_GIT:-https://github.com/git/git.git}
TAGS=${REAL_TREE_TAGS:-v2.30.0 v2.35.0 v2.40.0 v2.45.0 v2.50.0 v2.55.0}
FORCE=${FORCE:-0}
# tag -> id of its root tree (git rev-parse TAG^{tree}), for the default tags
declare -A TREE_ID=(
    [v2.30.0]=e6f5abb10362fdc4ab5411cc1f9eb008f6c68020
    [v2.35.0]=4bd8d505f4d6ebc97473eb786deed8407a357b32
    [v2.40.0]=7c102aa9fb0a549ce6c114c344f0ec6fd6809595
    [v2.45.0]=438f12e893b21682101337e58b250c762022170a
    [v2.50.0]=d2f9f1b9b9542d982494e68d1cb3ac30fe51a7ea
    [v2.55.0]=31aca3670a1b02adda456bcd92c851dd3e7543cb
)

say() { printf '[real_tree] %s\n' "$*" >&2; }
die() { printf 'real_tree: %s\n' "$*" >&2; exit 2; }
for t in git tar find perl md5sum sort xargs; do command -v "$t" >/dev/null || die "missing tool: $t"; done

if [ -f "$DEST/MANIFEST.env" ] && [ "$FORCE" != 1 ]; then
    say "$DEST is built already (FORCE=1 rebuilds it)"
    exit 0
fi
mkdir -p "$(dirname "$DEST")"
DEST=$(cd "$(dirname "$DEST")" && pwd)/$(basename "$DEST")
TMPD=$(mktemp -d)
trap 'rm -rf "$TMPD" "$DEST.partial"' EXIT

# A git directory that holds the tags: the local one as it is, or a shallow
# fetch of only these tags from the URL.
if [ -d "$SOURCE" ]; then
    GITDIR=$(git -C "$SOURCE" rev-parse --absolute-git-dir 2>/dev/null || true)
    [ -n "$GITDIR" ] || GITDIR=$(cd "$SOURCE" && pwd) # a bare directory git -C does not take as a repository
else
    say "fetching $TAGS from $SOURCE"
    GITDIR=$TMPD/repo.git
    git init -q --bare "$GITDIR"
    refspecs=()
    for t in $TAGS; do refspecs+=("refs/tags/$t:refs/tags/$t"); done
    git --git-dir="$GITDIR" fetch -q --depth 1 --no-tags "$SOURCE" "${refspecs[@]}" ||
        die "cannot fetch the tags from $SOURCE (no network? set REAL_TREE_GIT to a local copy of the repository)"
fi

rm -rf "$DEST.partial"
mkdir -p "$DEST.partial"
trees=""
for t in $TAGS; do
    tree=$(git --git-dir="$GITDIR" rev-parse -q --verify "$t^{tree}") || die "no tag $t in $SOURCE"
    if [ -n "${TREE_ID[$t]:-}" ] && [ "${TREE_ID[$t]}" != "$tree" ]; then
        die "tag $t names tree $tree in $SOURCE, expected ${TREE_ID[$t]}"
    fi
    trees="$trees $t=$tree"
    say "extracting $t"
    mkdir "$DEST.partial/git-${t#v}"
    git --git-dir="$GITDIR" archive --format=tar "$t" | tar -x -C "$DEST.partial/git-${t#v}"
done
trees=${trees# }

say "counting"
cd "$DEST.partial"
files=$(find . -type f | wc -l)
dirs=$(find . -mindepth 1 -type d | wc -l)
links=$(find . -type l | wc -l)
bytes=$(find . -type f -printf '%s\n' | awk '{s += $1} END {printf "%d", s}')
po=$(find . -type f -path '*/po/*.po' | wc -l)
# binary as Quillet, rg and grep take it: a NUL byte near the start
binary=$(find . -type f -print0 | perl -0ne 'chomp; open my $f, "<", $_ or next; read $f, my $b, 8192;
    $n++ if index($b, "\0") >= 0; END { print $n + 0 }')
fp=$({ find . \( -type f -o -type l \) -printf '%P %y %s\n' | LC_ALL=C sort
       find . -type f -print0 | LC_ALL=C sort -z | xargs -0 cat; } | md5sum | cut -c1-32)
cat >MANIFEST.env <<EOF
# written by bench/real_tree.sh; read by bench/real_rows.sh
REAL_SOURCE='$(printf '%s' "$SOURCE" | sed "s/'/'\\\\''/g")'
REAL_TAGS='$TAGS'
REAL_TREES='$trees'
REAL_FILES=$files
REAL_DIRS=$dirs
REAL_SYMLINKS=$links
REAL_BYTES=$bytes
REAL_PO_FILES=$po
REAL_BINARY_FILES=$binary
REAL_FINGERPRINT=$fp
EOF
cd /
rm -rf "$DEST"
mv "$DEST.partial" "$DEST"
cat "$DEST/MANIFEST.env"
