#include "platform/adapters/GifImage.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace velmora::platform {

namespace {

struct MemoryReader {
  std::string_view bytes;
  size_t offset = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int length) {
  auto* reader = static_cast<MemoryReader*>(gif->UserData);
  if (length <= 0) return 0;
  size_t count = std::min(static_cast<size_t>(length), reader->bytes.size() - reader->offset);
  std::memcpy(out, reader->bytes.data() + reader->offset, count);
  reader->offset += count;
  return static_cast<int>(count);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

bool SideFits(int side) { return side > 0 && side <= kMaxGifSide; }

// Walks past the sub-blocks of an extension, taking the transparent colour from a graphics
// control block (the one before the first image is the one that applies to it).
bool ReadExtension(GifFileType* gif, int& transparentIndex) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
    GraphicsControlBlock control{};
    if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
      transparentIndex = control.TransparentColor;
  }
  while (block != nullptr)
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
  return true;
}

uint32_t Argb(const ColorMapObject& map, int index, int transparentIndex) {
  if (index == transparentIndex || index < 0 || index >= map.ColorCount) return 0;
  const GifColorType& c = map.Colors[index];
  return 0xFF000000u | (uint32_t{c.Red} << 16) | (uint32_t{c.Green} << 8) | uint32_t{c.Blue};
}

std::optional<Picture> DrawFirstFrame(GifFileType* gif, int transparentIndex) {
  if (DGifGetImageDesc(gif) != GIF_OK) return std::nullopt;
  const GifImageDesc& frame = gif->Image;
  if (!SideFits(frame.Width) || !SideFits(frame.Height)) return std::nullopt;
  const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
  if (map == nullptr) return std::nullopt;

  Picture picture;
  // Some encoders leave the logical screen at 0 x 0; the frame then is the picture.
  picture.Width = gif->SWidth > 0 ? gif->SWidth : frame.Width;
  picture.Height = gif->SHeight > 0 ? gif->SHeight : frame.Height;
  if (!SideFits(picture.Width) || !SideFits(picture.Height)) return std::nullopt;
  picture.Pixels.assign(static_cast<size_t>(picture.Width) * picture.Height, 0);

  // Interlaced frames arrive in four passes over the rows.
  std::vector<int> rows;
  rows.reserve(frame.Height);
  if (frame.Interlace) {
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int row = kStart[pass]; row < frame.Height; row += kStep[pass]) rows.push_back(row);
  } else {
    for (int row = 0; row < frame.Height; ++row) rows.push_back(row);
  }

  std::vector<GifPixelType> line(frame.Width);
  for (int row : rows) {
    if (DGifGetLine(gif, line.data(), frame.Width) != GIF_OK) return std::nullopt;
    int y = frame.Top + row;
    if (y < 0 || y >= picture.Height) continue;
    for (int column = 0; column < frame.Width; ++column) {
      int x = frame.Left + column;
      if (x < 0 || x >= picture.Width) continue;
      picture.Pixels[static_cast<size_t>(y) * picture.Width + x] =
          Argb(*map, line[column], transparentIndex);
    }
  }
  return picture;
}

}  // namespace

std::optional<Picture> DecodeGif(std::string_view bytes) {
  MemoryReader reader{bytes};
  int error = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&reader, ReadFromMemory, &error));
  if (!gif) return std::nullopt;
  if (gif->SWidth > kMaxGifSide || gif->SHeight > kMaxGifSide) return std::nullopt;

  int transparentIndex = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) != GIF_OK) return std::nullopt;
    switch (type) {
      case EXTENSION_RECORD_TYPE:
        if (!ReadExtension(gif.get(), transparentIndex)) return std::nullopt;
        break;
      case IMAGE_DESC_RECORD_TYPE:
        return DrawFirstFrame(gif.get(), transparentIndex);
      default:
        // The trailer, or anything else, before any frame: there is no picture.
        return std::nullopt;
    }
  }
}

}  // namespace velmora::platform
