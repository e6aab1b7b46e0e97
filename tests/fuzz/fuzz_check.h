// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one assertion the fuzz targets use: on a broken invariant it names it
// and aborts, which libFuzzer reports as a crash with the input saved.

#include <cstdio>
#include <cstdlib>

namespace velk::fuzz {

inline void Check(bool holds, const char* invariant) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", invariant);
  std::abort();
}

}  // namespace velk::fuzz
