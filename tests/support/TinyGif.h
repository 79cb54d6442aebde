#pragma once
// A complete GIF of one red pixel, as a flag service might send it.
#include <string>

namespace velmora::testing {

inline std::string OneRedPixelGif() {
  static const unsigned char kBytes[] = {
      'G', 'I', 'F', '8', '9', 'a', 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00,  // screen 1 x 1
      0xFF, 0x00, 0x00, 0x00, 0x00, 0x00,                                      // red, black
      0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,              // frame 1 x 1
      0x02, 0x02, 0x44, 0x01, 0x00,                                            // pixel data
      0x3B};                                                                   // trailer
  return std::string(reinterpret_cast<const char*>(kBytes), sizeof kBytes);
}

}  // namespace velmora::testing
