#include "host/BuildVersion.h"

namespace velmora {

// VELMORA_VERSION is given to this file alone by the build, so a new version recompiles one file.
std::string_view BuildVersion() { return VELMORA_VERSION; }

}  // namespace velmora
