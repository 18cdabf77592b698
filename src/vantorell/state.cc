#include "vantorell/state.h"

#include <algorithm>
#include <utility>

namespace vantorell {

std::expected<VantorellState, std::string> VantorellState::create(std::string_view yaml) {
  auto config = VantorellConfig::from_yaml(yaml);
  if (!config) return std::unexpected(std::move(config.error()));
  auto engine = RuleEngine::create(std::move(config->rules));
  if (!engine) return std::unexpected(std::move(engine.error()));
  return VantorellState(std::move(*config), std::move(*engine));
}

VantorellState::VantorellState(VantorellConfig config, RuleEngine engine)
    : strictness_(config.strictness),
      max_repeats_(config.max_repeats),
      ignore_args_(config.ignore_args),
      history_window_(config.history_window),
      rule_engine_(std::move(engine)),
      tools_(std::move(config.tools)),
      defaults_(std::move(config.defaults)) {}

void VantorellState::store_last_error(std::string_view first, std::string_view second) {
  constexpr size_t kMaxText = kLastErrorCapacity - 1;
  const size_t first_len = std::min(first.size(), kMaxText);
  const size_t second_len = std::min(second.size(), kMaxText - first_len);
  std::copy_n(first.data(), first_len, last_error_.data());
  std::copy_n(second.data(), second_len, last_error_.data() + first_len);
  last_error_len_ = first_len + second_len;
  last_error_[last_error_len_] = '\0';
}

}  // namespace vantorell
