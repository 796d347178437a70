#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time: <target> <seconds> <seed folder> <work folder>.
# New inputs go to <work folder>/corpus, a crashing input to <work folder>/crash-*; the seed
# folder is only read. Exits non-zero when the target crashed, leaked or timed out.
set -euo pipefail
target=$1 seconds=$2 seeds=$3 work=$4
mkdir -p "$work/corpus"
status=0
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$seeds" || status=$?
if ((status != 0)); then
  echo "fuzz: $(basename "$target") failed; the input is in $work (add it to $seeds once mended)" >&2
fi
exit "$status"
