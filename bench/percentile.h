// The p-th percentile (0..100) of a sample, by rank; 0 for an empty one.
#pragma once

#include <algorithm>
#include <vector>

inline double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p / 100.0 * v.size()))];
}
