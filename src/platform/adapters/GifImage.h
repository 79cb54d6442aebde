#pragma once
// GIF decoding from bytes in memory.
#include <optional>
#include <string_view>

#include "platform/adapters/Picture.h"

namespace velmora::platform {

// Larger canvases are refused rather than allocated: the bytes come from a web service.
constexpr int kMaxGifSide = 4096;

// The first frame of a GIF drawn onto its logical screen; nothing when the bytes are not a GIF,
// are cut short before the first frame is complete, or describe a canvas beyond kMaxGifSide.
std::optional<Picture> DecodeGif(std::string_view bytes);

}  // namespace velmora::platform
