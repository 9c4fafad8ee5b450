#!/bin/bash
# The cost of CheckSize's stored-size check on upload: scenarios A (first upload, once) and C
# (30 edited + 10 new files, three times) through the side-by-side harness, with 4 and 1
# connections, CheckSize off and on. Needs root and a build of zandrel-cli.
#   bench/check-size-cost.sh [NET]      NET: rtt20 (default) or lo
#   BENCH_HARNESS  the harness's run.sh (default ../shared/bench/run.sh beside the checkout)
#   OUT            folder for the JSON lines (default /tmp/check-size-cost)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
net=${1:-rtt20}
harness=${BENCH_HARNESS:-$here/../shared/bench/run.sh}
out=${OUT:-/tmp/check-size-cost}
export ZANDREL_CLI=${ZANDREL_CLI:-$here/build/app/zandrel-cli}
mkdir -p "$out"
for client in zandrel zandrel-c1; do
    for check in 0 1; do
        ZANDREL_SET="CheckSize=$check" "$harness" "$client" A,C pyftpd "$net" --reps 1 \
            --reps-a 1 --keep-net --out "$out/A-$client-checksize$check.jsonl"
        ZANDREL_SET="CheckSize=$check" "$harness" "$client" C pyftpd "$net" --reps 3 \
            --keep-net --out "$out/C-$client-checksize$check.jsonl"
    done
done
[ "$net" = lo ] || "$(dirname "$harness")/net/net.sh" down
