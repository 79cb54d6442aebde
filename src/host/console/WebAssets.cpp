#include "host/console/WebAssets.h"

namespace velmora::console {

const WebAsset* FindWebAsset(std::string_view path) {
  for (size_t i = 0; i < kWebAssetCount; ++i)
    if (kWebAssets[i].Path == path) return &kWebAssets[i];
  return nullptr;
}

}  // namespace velmora::console
