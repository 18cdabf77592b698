// File: overloaded.h
//
// Overloaded{f, g, ...} combines lambdas into one visitor for std::visit.

#ifndef TARNWICK_SUPPORT_OVERLOADED_H_
#define TARNWICK_SUPPORT_OVERLOADED_H_

namespace tarnwick_support {

template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};
// Spelled out for compilers without deduction for aggregates.
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace tarnwick_support

#endif  // TARNWICK_SUPPORT_OVERLOADED_H_
