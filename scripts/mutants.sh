#!/usr/bin/env bash
# Mutant check: applies small deliberate faults to the product code one at a
# time, rebuilds, runs the tests meant to catch each and says whether they did.
# Not part of CI: a full run takes long. The developer's tree is never touched:
# every mutant is applied in a private git worktree made from HEAD.
#
#   scripts/mutants.sh [--list | --check] [ID...]
#
#   --list     print the mutants and stop
#   --check    only verify that every fragment occurs exactly once in its file
#   --no-baseline  skip running each test selector once without a mutant
#   ID...      run only these mutants (default: all)
#
# Environment:
#   MUTANTS_FILE  the mutant list (default: scripts/mutants.txt)
#   MUTANTS_DIR   a folder to keep the worktree and its build in between runs
#                 (default: a temporary folder removed at the end)
#   MUTANTS_JOBS  build jobs (default: nproc)
#   MUTANTS_TIMEOUT  seconds a test selector may run (default: 900)
#
# List format, one mutant a line, fields separated by tabs; blank lines and
# lines starting with '#' are skipped:
#   ID <tab> FILE <tab> ORIGINAL <tab> REPLACEMENT <tab> SELECTOR <tab> DESCRIPTION
# ORIGINAL is literal text that must occur exactly once in FILE; REPLACEMENT
# may be empty (the text is removed). A "⏎" in either stands for a line break,
# so a fragment may take in the next lines to be unique. SELECTOR names the tests:
#   BINARY[:GTEST_FILTER]   a test binary built as its own target
#   ctest:REGEX             everything is built and `ctest -R REGEX` runs
#
# Each mutant prints one line: its verdict, id, seconds (build and tests) and
# description. Verdicts: killed; killed (build), listed apart, as a mutant that
# does not compile tests nothing; killed (timeout); survived; survived (skips)
# when a test skipped itself; stale when the fragment is not found exactly once;
# invalid when the selector names no test or its tests fail without the mutant.
# The last line gives killed/total. Logs stay in MUTANTS_DIR/log when it is set.
set -uo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
list_file="${MUTANTS_FILE:-$here/scripts/mutants.txt}"
jobs="${MUTANTS_JOBS:-$(nproc)}"
test_timeout="${MUTANTS_TIMEOUT:-900}"
mode=run
baseline=1
wanted=()
for arg in "$@"; do
    case "$arg" in
    --list) mode=list ;;
    --check) mode=check ;;
    --no-baseline) baseline=0 ;;
    -h | --help)
        sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'
        exit 0
        ;;
    -*)
        echo "mutants.sh: unknown option $arg" >&2
        exit 2
        ;;
    *) wanted+=("$arg") ;;
    esac
done

[[ -r "$list_file" ]] || {
    echo "mutants.sh: cannot read the mutant list $list_file" >&2
    exit 2
}

# Parsed list: parallel arrays indexed by position.
ids=() files=() origs=() repls=() sels=() descs=()
lineno=0
while IFS= read -r line || [[ -n "$line" ]]; do
    lineno=$((lineno + 1))
    [[ -z "${line//[[:space:]]/}" || "$line" == \#* ]] && continue
    # An empty replacement collapses two tabs, so split by hand instead.
    mapfile -t f < <(awk -F'\t' '{ for (i = 1; i <= NF; i++) print $i }' <<<"$line")
    if ((${#f[@]} != 6)); then
        echo "mutants.sh: $list_file line $lineno: ${#f[@]} fields instead of 6" >&2
        exit 2
    fi
    for id in "${ids[@]}"; do
        if [[ "$id" == "${f[0]}" ]]; then
            echo "mutants.sh: $list_file line $lineno: id ${f[0]} used twice" >&2
            exit 2
        fi
    done
    ids+=("${f[0]}") files+=("${f[1]}") origs+=("${f[2]}") repls+=("${f[3]}")
    sels+=("${f[4]}") descs+=("${f[5]}")
done <"$list_file"

selected=()
if ((${#wanted[@]})); then
    for w in "${wanted[@]}"; do
        found=0
        for i in "${!ids[@]}"; do
            if [[ "${ids[$i]}" == "$w" ]]; then
                selected+=("$i")
                found=1
            fi
        done
        if ((!found)); then
            echo "mutants.sh: no mutant with id $w" >&2
            exit 2
        fi
    done
else
    selected=("${!ids[@]}")
fi

if [[ "$mode" == list ]]; then
    for i in "${selected[@]}"; do
        printf '%-24s %-34s %s\n' "${ids[$i]}" "${files[$i]}" "${descs[$i]}"
    done
    echo "${#selected[@]} mutants"
    exit 0
fi

# Counts how often a literal fragment occurs in a file.
occurrences() { # file fragment
    python3 - "$1" "$2" <<'EOF'
import sys
try:
    text = open(sys.argv[1], encoding="utf-8").read()
except OSError:
    print(-1)
else:
    print(text.count(sys.argv[2].replace("\u23ce", "\n")))
EOF
}

# Replaces the one occurrence of a fragment, keeping every other byte.
apply_mutant() { # file original replacement
    python3 - "$1" "$2" "$3" <<'EOF'
import sys
path, old, new = (a.replace("\u23ce", "\n") for a in sys.argv[1:4])
data = open(path, encoding="utf-8", newline="").read()
if data.count(old) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8", newline="").write(data.replace(old, new, 1))
EOF
}

# The product files (outside tests/ and bench/) that hold a fragment exactly once: where it
# went when code moved.
moved_to() { # fragment
    (cd "$here" && git ls-files -- '*.cpp' '*.h' ':!tests/' ':!bench/') | python3 -c '
import sys
fragment = sys.argv[1].replace("\u23ce", "\n")
for name in sys.stdin.read().split():
    try:
        if open(name, encoding="utf-8").read().count(fragment) == 1:
            print(name)
    except (OSError, UnicodeDecodeError):
        pass
' "$1" | paste -sd ' ' -
}

if [[ "$mode" == check ]]; then
    bad=0
    for i in "${selected[@]}"; do
        n="$(occurrences "$here/${files[$i]}" "${origs[$i]}")"
        if [[ "$n" != 1 ]]; then
            if [[ "$n" == -1 ]]; then
                echo "stale    ${ids[$i]}: ${files[$i]} cannot be read"
            else
                echo "stale    ${ids[$i]}: fragment found $n times in ${files[$i]}"
            fi
            where="$(cd "$here" && moved_to "${origs[$i]}")"
            [[ -n "$where" ]] && echo "         found once in: $where"
            bad=$((bad + 1))
        elif [[ "${origs[$i]}" == "${repls[$i]}" ]]; then
            echo "stale    ${ids[$i]}: the replacement equals the original"
            bad=$((bad + 1))
        fi
    done
    echo "check: $((${#selected[@]} - bad))/${#selected[@]} fragments found exactly once"
    ((bad == 0))
    exit
fi

# --- Running mutants -------------------------------------------------------

keep=0
if [[ -n "${MUTANTS_DIR:-}" ]]; then
    work="$(mkdir -p "$MUTANTS_DIR" && cd "$MUTANTS_DIR" && pwd)" || exit 2
    keep=1
else
    work="$(mktemp -d "${TMPDIR:-/tmp}/zandrel-mutants.XXXXXX")" || exit 2
fi
tree="$work/tree"
build="$work/build"
log="$work/log"
mkdir -p "$log"
mutated=""

cleanup() {
    # The worktree is private, yet put back the mutated file in case it is kept.
    if [[ -n "$mutated" && -d "$tree" ]]; then
        git -C "$tree" checkout -q -- "$mutated" 2>/dev/null
    fi
    if ((!keep)); then
        git -C "$here" worktree remove --force "$tree" 2>/dev/null
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'echo; echo "mutants.sh: interrupted" >&2; exit 130' INT TERM HUP

if [[ -e "$tree" ]]; then
    # Reset only a worktree of this repository: anything else there is left alone.
    common="$(git -C "$tree" rev-parse --path-format=absolute --git-common-dir 2>/dev/null)"
    if [[ ! -f "$tree/.git" || "$common" != "$(git -C "$here" rev-parse --path-format=absolute --git-common-dir)" ]]; then
        echo "mutants.sh: $tree is not a worktree of this repository; choose another MUTANTS_DIR" >&2
        keep=1
        exit 2
    fi
    git -C "$tree" checkout -q --detach "$(git -C "$here" rev-parse HEAD)" &&
        git -C "$tree" reset -q --hard && git -C "$tree" clean -qfdx || exit 2
else
    git -C "$here" worktree add -q --detach "$tree" HEAD || exit 2
fi
echo "mutants.sh: worktree $tree at $(git -C "$tree" log -1 --format='%h %s')"
[[ -n "$(git -C "$here" status --porcelain --untracked-files=no)" ]] &&
    echo "mutants.sh: note: uncommitted changes are not part of this run (it uses HEAD)"

export QT_QPA_PLATFORM=offscreen
# Relative paths in the cache key, so another run in another folder reuses objects.
export CCACHE_BASEDIR="$work" CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

configure() {
    cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        "${launcher[@]}" >"$log/configure.txt" 2>&1
}

# Builds what a selector needs; output goes to the given log file.
build_for() { # selector logfile
    local sel="$1"
    if [[ "$sel" == ctest:* ]]; then
        cmake --build "$build" --parallel "$jobs" >"$2" 2>&1
    else
        cmake --build "$build" --parallel "$jobs" --target "${sel%%:*}" >"$2" 2>&1
    fi
}

# Runs a selector's tests: status 0 when every test passed, 3 when the selector names no
# test (so that a renamed test never reads as a kill), else a failure.
run_tests() { # selector logfile
    local sel="$1" out="$2" status listed
    if [[ "$sel" == ctest:* ]]; then
        listed="$(cd "$build" && ctest -N -R "${sel#ctest:}")"
        if ! grep -q '^ *Test *#' <<<"$listed"; then
            echo "no test matches ${sel#ctest:}" >"$out"
            return 3
        fi
        (cd "$build" && timeout --foreground --kill-after=30 "$test_timeout" \
            ctest --output-on-failure --timeout 600 -R "${sel#ctest:}") >"$out" 2>&1
        status=$?
        return $((status == 3 ? 1 : status))
    fi
    local bin="${sel%%:*}" filter="*"
    [[ "$sel" == *:* ]] && filter="${sel#*:}"
    local exe
    exe="$(find "$build/tests" -type f -name "$bin" -perm -u+x | head -n 1)"
    if [[ -z "$exe" ]]; then
        echo "no test binary $bin in $build/tests" >"$out"
        return 3
    fi
    listed="$("$exe" --gtest_list_tests --gtest_filter="$filter" 2>/dev/null)"
    if ! grep -q '^  ' <<<"$listed"; then
        echo "no test of $bin matches $filter" >"$out"
        return 3
    fi
    (cd "$(dirname "$exe")" && timeout --foreground --kill-after=30 "$test_timeout" \
        "$exe" --gtest_filter="$filter" --gtest_brief=1) >"$out" 2>&1
    status=$?
    return $((status == 3 ? 1 : status))
}

configure || {
    echo "mutants.sh: configure failed, see $log/configure.txt" >&2
    exit 2
}

# Baseline: each selector must pass without a mutant, or its mutants say nothing.
declare -A sel_ok=()
if ((baseline)); then
    for i in "${selected[@]}"; do
        sel="${sels[$i]}"
        [[ -n "${sel_ok[$sel]+x}" ]] && continue
        start=$SECONDS
        safe="${sel//[^A-Za-z0-9_.-]/_}"
        if ! build_for "$sel" "$log/baseline-build-$safe.txt"; then
            sel_ok[$sel]=0
            printf 'baseline BUILD FAILS %-56s %4ds  (see %s)\n' "$sel" $((SECONDS - start)) "$log/baseline-build-$safe.txt"
            continue
        fi
        run_tests "$sel" "$log/baseline-test-$safe.txt"
        status=$?
        if ((status == 0)); then
            sel_ok[$sel]=1
            printf 'baseline ok      %-60s %4ds\n' "$sel" $((SECONDS - start))
        else
            sel_ok[$sel]=0
            printf 'baseline FAILS   %-60s %4ds  (see %s)\n' "$sel" $((SECONDS - start)) "$log/baseline-test-$safe.txt"
        fi
    done
fi

killed=0 killed_build=0 survived=0 stale=0 invalid=0 total=0
survivors=() build_kills=()
for i in "${selected[@]}"; do
    id="${ids[$i]}" file="${files[$i]}" sel="${sels[$i]}" desc="${descs[$i]}"
    total=$((total + 1))
    start=$SECONDS
    if [[ "${sel_ok[$sel]:-1}" == 0 ]]; then
        printf '%-16s %-24s %4ds  %s\n' "invalid" "$id" 0 "$desc (its tests fail without the mutant)"
        invalid=$((invalid + 1))
        continue
    fi
    if [[ "$(occurrences "$tree/$file" "${origs[$i]}")" != 1 ]] ||
        [[ "${origs[$i]}" == "${repls[$i]}" ]]; then
        printf '%-16s %-24s %4ds  %s\n' "stale" "$id" 0 "$desc"
        stale=$((stale + 1))
        continue
    fi
    mutated="$file"
    apply_mutant "$tree/$file" "${origs[$i]}" "${repls[$i]}" || {
        echo "mutants.sh: could not apply $id" >&2
        exit 2
    }
    if ! build_for "$sel" "$log/$id-build.txt"; then
        verdict="killed (build)"
        killed_build=$((killed_build + 1))
        build_kills+=("$id")
    else
        run_tests "$sel" "$log/$id-test.txt"
        case $? in
        0)
            verdict="survived"
            # A test that skipped itself (a server or tool missing) proves nothing here.
            grep -q '^\[  SKIPPED \]\|Skipped' "$log/$id-test.txt" && verdict="survived (skips)"
            survived=$((survived + 1))
            survivors+=("$id")
            ;;
        3)
            verdict="invalid"
            desc="$desc (no test matches $sel)"
            invalid=$((invalid + 1))
            ;;
        124 | 137)
            verdict="killed (timeout)"
            killed=$((killed + 1))
            ;;
        *)
            verdict="killed"
            killed=$((killed + 1))
            ;;
        esac
    fi
    git -C "$tree" checkout -q -- "$file"
    mutated=""
    printf '%-16s %-24s %4ds  %s\n' "$verdict" "$id" $((SECONDS - start)) "$desc"
done

echo
((${#survivors[@]})) && echo "survivors: ${survivors[*]}"
((${#build_kills[@]})) && echo "killed by the build only (they test nothing): ${build_kills[*]}"
((stale)) && echo "stale: $stale (their fragment is no longer found exactly once)"
((invalid)) && echo "invalid: $invalid (their tests fail without the mutant, or none matches)"
((keep)) && echo "logs: $log"
echo "killed $((killed + killed_build))/$total (by tests: $killed, by the build: $killed_build, survived: $survived)"
