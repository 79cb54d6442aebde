// GIF decoding of the bytes a flag service sends. Whatever the bytes, decoding ends without a
// fault; a picture has a size within the limit and one pixel per place, each either clear (0)
// or opaque; and as only the first frame counts, bytes appended behind a decodable image change
// nothing.
#include <string>

#include "FuzzSupport.h"
#include "platform/adapters/GifImage.h"

using namespace velmora;
using namespace velmora::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto picture = platform::DecodeGif(bytes);
  if (!picture) return 0;
  FUZZ_CHECK(picture->Width > 0 && picture->Width <= platform::kMaxGifSide &&
                 picture->Height > 0 && picture->Height <= platform::kMaxGifSide,
             "a picture of " + std::to_string(picture->Width) + " x " +
                 std::to_string(picture->Height));
  FUZZ_CHECK(picture->Pixels.size() == size_t(picture->Width) * size_t(picture->Height),
             "pixels do not fill the picture");
  for (uint32_t pixel : picture->Pixels)
    FUZZ_CHECK(pixel == 0 || pixel >> 24 == 0xFF, "a pixel neither clear nor opaque");

  std::string longer(bytes);
  longer += std::string(bytes.substr(0, 64));
  longer += "\x21\xF9\x04\x01\x00\x00\x05\x00\x2C";
  auto again = platform::DecodeGif(longer);
  FUZZ_CHECK(again && again->Width == picture->Width && again->Height == picture->Height &&
                 again->Pixels == picture->Pixels,
             "bytes behind the first frame changed the picture");
  return 0;
}
