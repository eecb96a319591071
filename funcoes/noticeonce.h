// For notices the hot folder would repeat on every report: each cause is shown
// once, until the causes are forgotten.
#pragma once

#include <set>
#include <vector>

#include "funcoes/funcoes.h"

class TNoticeOnce {
 public:
  // True the first time this cause (for example a pair of folders, or the
  // text of a notice) is met since the last Forget; false for a repeat.
  bool Due(const std::vector<WideString>& cause);
  // Every cause is due again.
  void Forget();

 private:
  std::set<std::vector<WideString>> FMet;
};
