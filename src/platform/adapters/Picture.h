#pragma once
// A decoded image held in memory, independent of the file format it came from.
#include <cstdint>
#include <vector>

namespace velmora::platform {

struct Picture {
  int Width = 0;
  int Height = 0;
  // Row after row from the top left; each pixel 0xAARRGGBB, alpha 0 where the image is clear.
  std::vector<uint32_t> Pixels;
};

}  // namespace velmora::platform
