// File: bench_data.h
//
// Inputs shared by the benchmark programs: the tool-call trace written by
// trace_gen.py (JSON Lines, one call per line) and deterministic argument
// texts of a requested size. Loading reports a readable error instead of
// failing half-way; the texts depend only on their size.

#ifndef TARNWICK_BENCH_BENCH_DATA_H_
#define TARNWICK_BENCH_BENCH_DATA_H_

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick_bench {

// One call of the trace, as an adapter would report it.
struct TraceCall {
  std::string thread_id;
  uint64_t step = 0;
  std::string tool_name;
  std::string arguments;  // JSON text
};

// The trace file to use: the value of `--trace=PATH` among the arguments
// (removed from them), else the environment variable TARNWICK_BENCH_TRACE,
// else the trace generated next to the benchmarks at build time.
std::string trace_path(int* argc, char** argv);

// Reads a JSON Lines trace; fails with a message naming the file and line.
std::expected<std::vector<TraceCall>, std::string> load_trace(const std::string& path);

// An arguments object as an LLM would write it (spaces after ':' and ',',
// unsorted keys, strings, numbers and small nested values), at least
// `min_bytes` long and at most one member longer.
std::string argument_text(size_t min_bytes);

}  // namespace tarnwick_bench

#endif  // TARNWICK_BENCH_BENCH_DATA_H_
