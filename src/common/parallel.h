#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace kestrova {

// The cores the work may spread over, at least one. Asked once: the library reads a
// system file each time, and the readers and writers ask for every range.
inline size_t Cores() {
  static const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  return cores;
}

// Runs fill(begin, end) over [0, n) in a few ranges at once, one per core, when n is
// large enough to be worth it; sites reach millions of points and labels. fill must
// only touch what its own range owns. The first exception of any range is rethrown
// after all ranges have finished.
template <class Fill>
void FillInRanges(size_t n, const Fill& fill, size_t minimumPerRange = 25'000) {
  const size_t parts =
      std::clamp<size_t>(n / std::max<size_t>(minimumPerRange, 1), 1, std::min<size_t>(Cores(), 8));
  if (parts == 1) {
    fill(size_t{0}, n);
    return;
  }
  const size_t chunk = (n + parts - 1) / parts;
  std::vector<std::exception_ptr> errors(parts);
  std::vector<std::thread> helpers;
  for (size_t i = 1; i < parts; ++i) {
    helpers.emplace_back([&, i] {
      try {
        fill(std::min(n, i * chunk), std::min(n, (i + 1) * chunk));
      } catch (...) {
        errors[i] = std::current_exception();
      }
    });
  }
  try {
    fill(size_t{0}, std::min(n, chunk));
  } catch (...) {
    errors[0] = std::current_exception();
  }
  for (std::thread& h : helpers)
    h.join();
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
}

// Runs make(part, begin, end) for each of parts shares of [0, n), the first ones a
// share larger where n does not divide evenly, the parts spread over the cores; a part
// may be empty. Texts made a share at a time are then written in the parts' order.
template <class Make>
void InShares(size_t n, size_t parts, const Make& make) {
  const size_t share = (n + parts - 1) / std::max<size_t>(parts, 1);
  FillInRanges(
      parts,
      [&](size_t first, size_t last) {
        for (size_t part = first; part < last; ++part)
          make(part, std::min(n, part * share), std::min(n, (part + 1) * share));
      },
      1);
}

}  // namespace kestrova
