#pragma once
// What both benchmark programs do with their samples: quantiles, and a
// verdict on each target.
#include <algorithm>
#include <cstddef>
#include <vector>

namespace vantrel::bench {

// The sample at fraction q of a sorted list; 0 for no samples.
inline double Quantile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  const size_t i = std::min(sorted.size() - 1, static_cast<size_t>(q * static_cast<double>(sorted.size())));
  return sorted[i];
}

inline double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return Quantile(samples, 0.5);
}

inline const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

}  // namespace vantrel::bench
