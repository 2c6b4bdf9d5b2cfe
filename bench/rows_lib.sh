# shellcheck shell=bash
# Timing and table of the row scripts (extra_rows.sh, real_rows.sh); sourced.
#
# A row is "group|kind|check|prepare|command": kind is peer or quillet, check
# is the caller's business, prepare runs untimed before each run of command
# (":" for nothing). Rows of one group run in one hyperfine call per round, in
# an order rotated from round to round, so that a busy moment of the machine
# falls on all of them; each figure is a median over the rounds.

# time_rows REPS DIR ROW...: runs the rounds, one JSON file per round and group
# in DIR, and DIR/rows.tsv naming each row's kind and command.
time_rows() {
    local reps=$1 dir=$2
    shift 2
    local rows=("$@") groups g r k i n kind prep cmd
    groups=$(printf '%s\n' "${rows[@]}" | cut -d'|' -f1 | uniq)
    for g in $groups; do
        i=0
        while IFS='|' read -r _ kind _ _ cmd; do
            printf '%s|%s\t%s\t%s\n' "$g" "$i" "$kind" "$cmd"
            i=$((i + 1))
        done < <(printf '%s\n' "${rows[@]}" | grep "^$g|")
    done >"$dir/rows.tsv"
    for ((r = 1; r <= reps; r++)); do
        for g in $groups; do
            local mine=() args=()
            mapfile -t mine < <(printf '%s\n' "${rows[@]}" | grep "^$g|")
            n=${#mine[@]}
            for ((k = 0; k < n; k++)); do
                i=$(((k + r - 1) % n))
                IFS='|' read -r _ kind _ prep cmd <<<"${mine[i]}"
                args+=(-n "$g|$i" --prepare "$prep" "$cmd")
            done
            hyperfine --runs 1 -i --output=pipe --style none --export-json "$dir/r$r-$g.json" "${args[@]}" >/dev/null 2>&1 ||
                { printf 'hyperfine failed (round %s, group %s)\n' "$r" "$g" >&2; return 2; }
        done
        printf '   round %d of %d done\n' "$r" "$reps"
    done
}

# print_table DIR [TEXT NAME]...: the table of the rounds in DIR, one line per
# row: median seconds and x_fast, the median over rounds of the row's time over
# the time of the group's fastest peer in the same round. Each TEXT in a
# command is shown as NAME (long paths); quillet-cli's own path is cut to its name.
print_table() {
    perl -MJSON::PP -e '
        use strict; use warnings;
        my ($dir, @abbrev) = @ARGV;
        my (%t, %kind, %cmd);
        open my $rows, "<", "$dir/rows.tsv" or die;
        while (<$rows>) { chomp; my ($id, $k, $c) = split /\t/, $_, 3; $kind{$id} = $k; $cmd{$id} = $c; }
        for my $f (sort glob("$dir/r*.json")) {
            my ($r) = $f =~ m{/r(\d+)-};
            open my $j, "<", $f or die; local $/; my $d = decode_json(<$j>);
            $t{ $_->{command} }{$r} = $_->{times}[0] for @{ $d->{results} };
        }
        sub median { my @s = sort { $a <=> $b } @_; @s % 2 ? $s[$#s / 2] : ($s[@s / 2 - 1] + $s[@s / 2]) / 2 }
        my %med = map { $_ => median(values %{ $t{$_} }) } keys %t;
        my %best;
        for my $id (grep { $kind{$_} eq "peer" } keys %t) {
            my ($g) = split /\|/, $id;
            $best{$g} = $id if !$best{$g} || $med{$id} < $med{ $best{$g} };
        }
        my @groups; my %seen;
        open $rows, "<", "$dir/rows.tsv" or die;
        while (<$rows>) { my ($g) = split /\|/; push @groups, $g unless $seen{$g}++; }
        my %rank; @rank{@groups} = 0 .. $#groups;
        printf "%-13s %9s %8s  %s\n", "group", "median_s", "x_fast", "command";
        for my $id (sort { $rank{ (split /\|/, $a)[0] } <=> $rank{ (split /\|/, $b)[0] } || (split /\|/, $a)[1] <=> (split /\|/, $b)[1] } keys %t) {
            my ($g) = split /\|/, $id;
            my @r = map { $t{$id}{$_} / $t{ $best{$g} }{$_} } grep { exists $t{ $best{$g} }{$_} } keys %{ $t{$id} };
            my $c = $cmd{$id}; $c =~ s/\$\(cat [^)]*needle.\)/NEEDLE/; $c =~ s/\x27[^\x27]*\/(quillet-cli)\x27/$1/;
            for (my $i = 0; $i + 1 < @abbrev; $i += 2) { $c =~ s/\Q$abbrev[$i]\E/$abbrev[$i + 1]/g; }
            printf "%-13s %9.3f %7.2f%s  %s\n", $g, $med{$id}, median(@r), ($best{$g} eq $id ? "*" : " "), substr($c, 0, 130);
        }
        print "x_fast: median over rounds of (row / fastest peer of the group in the same round); * marks that peer.\n";
    ' "$@"
}

# write_journal_clearer FILE: writes FILE, a script that empties the run
# journal of the state folder it is given (as XDG_STATE_HOME), with the
# folders its runs made in keep folders on other file systems. The undo rows
# run it before each run, so that every run starts from an empty journal and
# no earlier run holds kept inodes (on tmpfs, memory) or is pruned in the
# timed run.
write_journal_clearer() {
    cat >"$1" <<'SCRIPT'
#!/bin/sh
runs=$1/quillet/runs
[ -d "$runs" ] || exit 0
for m in "$runs"/*/manifest; do
    [ -f "$m" ] || continue
    perl -ne 'next unless s/^keep-folder \d+ \d+ \d+ //; chomp; s/\\x([0-9a-fA-F]{2})/chr hex $1/ge; print "$_\0"' "$m" |
        xargs -0 -r rm -rf --
done
rm -rf -- "$runs"
SCRIPT
    chmod +x "$1"
}

# undo_check OUT ERR RC WANT: the verdict on one untimed undo of a run that
# changed WANT files (stdout in OUT, standard error in ERR, exit code RC):
# nothing printed where all were restored and the run marked undone, else why.
undo_check() {
    local line n
    line=$(grep '^Undid run ' "$2" | tail -1)
    n=$(sed -n 's/^Undid run [^:]*: \([0-9]*\) restored, 0 unchanged, 0 left alone, 0 not restored, 0 failed\.$/\1/p' <<<"$line")
    [ "$3" = 0 ] || printf 'exit %s\n' "$3"
    [ "$n" = "$4" ] || printf "undo said '%s', the run changed %s files\n" "${line:-nothing}" "$4"
    [ "$(grep -vc '^restored ' "$1")" = 0 ] || printf 'undo listed files not restored\n'
}

# The undo rows' journal, on a disk as a user's is: sets STATE
# (UNDO_STATE_HOME, default $HOME/qbench-undo-state) and CLEAR, a script in
# TMPD that empties it. Needs TMPD and the caller's die.
setup_undo_journal() {
    STATE=${UNDO_STATE_HOME:-$HOME/qbench-undo-state}
    mkdir -p "$STATE"
    STATE=$(cd "$STATE" && pwd)
    [ "$(stat -f -c %T "$STATE")" != tmpfs ] || die "$STATE is on tmpfs, not on a disk (set UNDO_STATE_HOME)"
    CLEAR=$TMPD/clear-journal
    write_journal_clearer "$CLEAR"
}

# Empties and removes the undo rows' journal, where setup_undo_journal made one.
clear_undo_journal() {
    [ -z "${CLEAR:-}" ] || { "$CLEAR" "$STATE"; rmdir "$STATE/quillet" "$STATE" 2>/dev/null || true; }
}
