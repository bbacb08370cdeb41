#!/usr/bin/env bash
# Builds the fuzz targets with clang (a build tree of their own, build-fuzz)
# and runs each for a fixed time on its seeds, Brisquet's own files: the
# test command runs them for 20 s each. A finding stops with the input that
# caused it saved in the build tree. Usage: fuzz/run.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBRISQUET_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
targets=(fuzz_tempo_text fuzz_wave_image fuzz_picture fuzz_skin fuzz_settings_file)
cmake --build build-fuzz --parallel "$(nproc)" --target "${targets[@]}"
declare -A seeds=(
    [fuzz_tempo_text]=fuzz/seeds/tempo_text
    [fuzz_wave_image]=resources/sounds
    [fuzz_picture]=resources/icon
    [fuzz_skin]=resources/skins
    [fuzz_settings_file]=fuzz/seeds/settings_file
)
export QT_QPA_PLATFORM=offscreen
for target in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$target; mkdir -p "$corpus"
    echo "== $target, $seconds s"
    (cd build-fuzz && ./fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "../$corpus" "../${seeds[$target]}" 2>&1 \
        | grep -E '^#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb|cov:|ERROR|SUMMARY|==[0-9]+==' | tail -4)
done
