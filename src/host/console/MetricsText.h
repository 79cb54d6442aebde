#pragma once
// The snapshot in the text format that monitoring systems scrape: one family per measure, each
// with its HELP and TYPE lines, names prefixed "velmora_", counters ending in "_total".
#include <string>

#include "host/console/ConsoleSnapshot.h"

namespace velmora::console {

std::string MetricsText(const ConsoleSnapshot& snapshot);

}  // namespace velmora::console
