// The one main of bench_media; the benchmarks register themselves from
// their own files.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
