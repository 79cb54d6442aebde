#include <gif_lib.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/adapters/GifImage.h"
#include "support/TinyGif.h"

namespace velmora::platform {
namespace {

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF,
                   kWhite = 0xFFFFFFFF;

struct Frame {
  int screenWidth, screenHeight;
  int left, top, width, height;
  bool interlace = false;
  int transparent = NO_TRANSPARENT_COLOR;
  std::vector<GifPixelType> indices;  // row after row, in image order
};

int AppendToString(GifFileType* gif, const GifByteType* data, int length) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
  return length;
}

// Encodes with giflib itself, so that the decoder is checked against the library's own writer.
std::string Encode(const Frame& frame) {
  std::string out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, AppendToString, &error);
  EXPECT_NE(gif, nullptr);
  GifColorType colors[4] = {{0xFF, 0, 0}, {0, 0xFF, 0}, {0, 0, 0xFF}, {0xFF, 0xFF, 0xFF}};
  ColorMapObject* map = GifMakeMapObject(4, colors);
  EGifSetGifVersion(gif, true);
  EXPECT_EQ(EGifPutScreenDesc(gif, frame.screenWidth, frame.screenHeight, 8, 0, map), GIF_OK);
  if (frame.transparent != NO_TRANSPARENT_COLOR) {
    GraphicsControlBlock control{};
    control.TransparentColor = frame.transparent;
    GifByteType block[4];
    size_t length = EGifGCBToExtension(&control, block);
    EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), block),
              GIF_OK);
  }
  EXPECT_EQ(EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height,
                             frame.interlace, nullptr),
            GIF_OK);
  // An interlaced frame is written in its four passes over the rows.
  std::vector<int> rows;
  if (frame.interlace) {
    for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
      for (int row = start; row < frame.height; row += step) rows.push_back(row);
  } else {
    for (int row = 0; row < frame.height; ++row) rows.push_back(row);
  }
  for (int row : rows) {
    std::vector<GifPixelType> line(frame.indices.begin() + row * frame.width,
                                   frame.indices.begin() + (row + 1) * frame.width);
    EXPECT_EQ(EGifPutLine(gif, line.data(), frame.width), GIF_OK);
  }
  EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
  GifFreeMapObject(map);
  return out;
}

TEST(GifImage, DecodesColoursAndTheTransparentIndex) {
  auto picture = DecodeGif(Encode({3, 2, 0, 0, 3, 2, false, 3, {0, 1, 2, 3, 2, 1}}));
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width, 3);
  EXPECT_EQ(picture->Height, 2);
  EXPECT_EQ(picture->Pixels, (std::vector<uint32_t>{kRed, kGreen, kBlue, 0, kBlue, kGreen}));

  auto opaque = DecodeGif(Encode({1, 1, 0, 0, 1, 1, false, NO_TRANSPARENT_COLOR, {3}}));
  ASSERT_TRUE(opaque);
  EXPECT_EQ(opaque->Pixels, std::vector<uint32_t>{kWhite});
}

TEST(GifImage, PutsInterlacedRowsInPlaceAndOffsetFramesOnTheScreen) {
  Frame interlaced{1, 10, 0, 0, 1, 10, true, NO_TRANSPARENT_COLOR, {}};
  for (int row = 0; row < 10; ++row) interlaced.indices.push_back(row % 4);
  auto tall = DecodeGif(Encode(interlaced));
  ASSERT_TRUE(tall);
  const uint32_t byIndex[] = {kRed, kGreen, kBlue, kWhite};
  for (int row = 0; row < 10; ++row) EXPECT_EQ(tall->Pixels[row], byIndex[row % 4]) << row;

  auto framed = DecodeGif(Encode({3, 3, 1, 1, 2, 2, false, NO_TRANSPARENT_COLOR, {1, 1, 1, 1}}));
  ASSERT_TRUE(framed);
  EXPECT_EQ(framed->Pixels,
            (std::vector<uint32_t>{0, 0, 0, 0, kGreen, kGreen, 0, kGreen, kGreen}));
}

TEST(GifImage, DecodesTheOnePixelFlagOfTheTests) {
  auto picture = DecodeGif(testing::OneRedPixelGif());
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width, 1);
  EXPECT_EQ(picture->Pixels, std::vector<uint32_t>{kRed});
}

TEST(GifImage, RefusesWhatIsNotAWholeGif) {
  EXPECT_FALSE(DecodeGif(""));
  EXPECT_FALSE(DecodeGif("<html><body>404 Not Found</body></html>"));
  EXPECT_FALSE(DecodeGif(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)));
  // A header without any frame, and every cut through the frame's data.
  std::string whole = testing::OneRedPixelGif();
  for (size_t length = 0; length + 1 < whole.size(); ++length)
    EXPECT_FALSE(DecodeGif(whole.substr(0, length))) << length;
}

TEST(GifImage, RefusesCanvasesBeyondTheLimit) {
  std::string wide = Encode({kMaxGifSide + 1, 1, 0, 0, 1, 1, false, NO_TRANSPARENT_COLOR, {0}});
  EXPECT_FALSE(DecodeGif(wide));
  // A frame far larger than its screen is refused too, before anything is allocated for it.
  std::string huge = testing::OneRedPixelGif();
  huge[24] = huge[25] = '\xFF';  // frame width 65535
  EXPECT_FALSE(DecodeGif(huge));
}

}  // namespace
}  // namespace velmora::platform
