// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The end-to-end benchmark's table: every figure with its goal and whether
// the run met it.

#include <map>
#include <string>

namespace velk::bench {

// Prints the table of the figures gathered in a run ("phase.key" -> value).
// True when every goal was met.
bool PrintResultsTable(const std::map<std::string, double>& figures);

}  // namespace velk::bench
