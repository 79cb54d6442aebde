#pragma once
// The console page's files, built into the binary from the folder web/ beside this file, so the
// page needs nothing installed and nothing from the internet.
#include <cstddef>
#include <string_view>

namespace velmora::console {

struct WebAsset {
  std::string_view Path;  // "/index.html"
  std::string_view ContentType;
  std::string_view Bytes;
};

// Generated at build time.
extern const WebAsset kWebAssets[];
extern const size_t kWebAssetCount;

// nullptr when no file has that path.
const WebAsset* FindWebAsset(std::string_view path);

}  // namespace velmora::console
