#include "bench_data.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "support/json.h"

#ifndef TARNWICK_BENCH_DEFAULT_TRACE
#define TARNWICK_BENCH_DEFAULT_TRACE "trace.jsonl"
#endif

namespace tarnwick_bench {

using tarnwick_support::JsonObject;
using tarnwick_support::JsonValue;

std::string trace_path(int* argc, char** argv) {
  constexpr std::string_view kFlag = "--trace=";
  std::string path;
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.starts_with(kFlag)) {
      path = arg.substr(kFlag.size());
    } else {
      argv[kept++] = argv[i];
    }
  }
  *argc = kept;
  if (!path.empty()) return path;
  if (const char* env = std::getenv("TARNWICK_BENCH_TRACE"); env != nullptr && *env != '\0') {
    return env;
  }
  return TARNWICK_BENCH_DEFAULT_TRACE;
}

std::expected<std::vector<TraceCall>, std::string> load_trace(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::unexpected("cannot open trace " + path);
  std::vector<TraceCall> calls;
  std::string line;
  size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    auto where = [&] { return path + ":" + std::to_string(number) + ": "; };
    auto value = tarnwick_support::parse_json(line);
    if (!value) return std::unexpected(where() + value.error().to_string());
    const JsonObject* object = value->if_object();
    const JsonValue* thread = object ? object->find("thread_id") : nullptr;
    const JsonValue* step = object ? object->find("step") : nullptr;
    const JsonValue* tool = object ? object->find("tool_name") : nullptr;
    const JsonValue* arguments = object ? object->find("arguments") : nullptr;
    uint64_t step_value = 0;
    if (thread == nullptr || !thread->is_string() || step == nullptr ||
        !step->get_non_negative(&step_value) || tool == nullptr || !tool->is_string() ||
        arguments == nullptr || !arguments->is_string()) {
      return std::unexpected(where() +
                             "expected thread_id, step, tool_name and arguments (a JSON text)");
    }
    calls.push_back(
        TraceCall{thread->as_string(), step_value, tool->as_string(), arguments->as_string()});
  }
  if (calls.empty()) return std::unexpected("trace " + path + " holds no calls");
  return calls;
}

std::string argument_text(size_t min_bytes) {
  static constexpr std::string_view kWords[] = {"alpha",  "config", "retry",  "deploy", "invoice",
                                                "kernel", "socket", "report", "schema", "query"};
  std::string text = "{";
  for (size_t i = 0; text.size() + 1 < min_bytes || i < 3; ++i) {
    if (i > 0) text += ", ";
    const std::string_view word = kWords[i % std::size(kWords)];
    text += "\"";
    text += word;
    text += "_";
    text += std::to_string(i);
    text += "\": ";
    switch (i % 5) {
      case 0:
        text += "\"";
        for (size_t w = 0; w < 4; ++w) {
          if (w > 0) text += ' ';
          text += kWords[(i + w * 3) % std::size(kWords)];
        }
        text += "\"";
        break;
      case 1: text += std::to_string(i * 7919 % 100000); break;
      case 2: text += "[" + std::to_string(i) + ", \"" + std::string(word) + "\", true]"; break;
      case 3: text += "{\"enabled\": false, \"ratio\": " + std::to_string(i % 10) + ".25}"; break;
      default: text += i % 2 == 0 ? "null" : "\"/work/src/" + std::string(word) + ".cc\""; break;
    }
  }
  text += "}";
  return text;
}

}  // namespace tarnwick_bench
