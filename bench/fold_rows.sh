#!/usr/bin/env bash
# Case-insensitive search in mixed-script text: quillet-cli side by side with
# grep -iF (in a UTF-8 locale) and rg -iF on one file of about 100 MB of
# English, German, French, Russian and Greek words. Each pattern occurs once,
# in the file's last line, so every tool reads the whole file and finds it.
# Usage: bench/fold_rows.sh QUILLET_CLI [WORK_DIR]   (REPS=5 by default;
# BASE_CLI=another quillet-cli adds a column for it, run in the same rounds)
set -euo pipefail
cli=${1:?usage: bench/fold_rows.sh QUILLET_CLI [WORK_DIR]}
work=${2:-/tmp/qbench-fold}
reps=${REPS:-5}
mkdir -p "$work"
text=$work/mixed.txt
if [ ! -f "$text" ]; then
  python3 - "$text" <<'PY'
import random, sys
words = """the of and to in is that for it as was with be by on not he this are or his from at which
but have an they you were her all she there would their we him been has when who will more no if out
und der die das nicht mit sich auf für über schön größe straße müssen würde während mädchen
le la les des est une pour dans qui sur pas plus être été français élève déjà où très après
и в не на что он как это по но из его мир они только было всё уже человек время жизнь дело
και το της την που είναι με για από στο τα οι ένα δεν θα σαν όταν ήταν ψυχή""".split()
rng = random.Random(7)
with open(sys.argv[1], "w", encoding="utf-8") as out:
    size = 0
    while size < 100_000_000:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(6, 14))) + "\n"
        out.write(line)
        size += len(line.encode())
    out.write("TENDERLY QUESTION ПРИВЕТ КАФЕ CAFÉ ÜBERMÄẞIG ΣΟΦΟΣ\n")
PY
fi
export LC_ALL=C.UTF-8
# Each tool once per round, in turn, so that a busy moment of the machine
# falls on all of them; the fastest round of each counts. The time is the
# processor time (perf stat's task-clock), which other work on a busy machine moves
# far less than the elapsed time.
cpu() { # a tool that finds nothing exits with 1, which is no failure here
  local stat
  stat=$(perf stat -x, -e task-clock "$@" 2>&1 >/dev/null) || true
  awk -F, '$3 == "task-clock" { printf "%.4f", $1 / 1000 }' <<<"$stat"
}
printf '| pattern | quillet-cli search |%s grep -iF | rg -iF | vs grep | vs rg |\n' "${BASE_CLI:+ before this change |}"
printf '|---|---|%s---|---|---|---|\n' "${BASE_CLI:+---|}"
for p in tenderly question привет кафе café übermäßig σοφος; do
  tools=("$cli search -q $p" "grep -ciF $p" "rg -ciF $p")
  [ -z "${BASE_CLI:-}" ] || tools+=("$BASE_CLI search -q $p")
  declare -a fastest=()
  for _ in $(seq "$reps"); do
    for i in "${!tools[@]}"; do
      # shellcheck disable=SC2086
      t=$(cpu ${tools[$i]} "$text")
      if [ -z "${fastest[$i]:-}" ] || (( $(echo "$t < ${fastest[$i]}" | bc) )); then fastest[$i]=$t; fi
    done
  done
  q=${fastest[0]} g=${fastest[1]} r=${fastest[2]}
  printf '| %s | %.3f s |%s %.3f s | %.3f s | %.2f× | %.2f× |\n' "$p" "$q" \
    "${BASE_CLI:+ $(printf '%.3f s |' "${fastest[3]}")}" "$g" "$r" "$(echo "$q / $g" | bc -l)" "$(echo "$q / $r" | bc -l)"
  unset fastest
done
