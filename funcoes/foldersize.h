// The walk behind FolderSize, for a caller that paces it or must end it early.
#pragma once

#include <atomic>
#include <cstdint>

#include "funcoes/funcoes.h"

// FolderSize with at most threads threads listing sibling folders at once (1:
// one folder after the other, on the calling thread). Once stop is set the walk
// lists no further folder (none when set before the call) and returns a partial
// count, to be thrown away.
int64_t FolderSize(const WideString& path, bool recurse, unsigned threads, const std::atomic<bool>& stop);
