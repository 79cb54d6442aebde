#pragma once
// Shared by the fuzz targets: a scratch folder that holds the files a target writes and the
// server's log, and a check that ends the run with a message, so that libFuzzer keeps the input
// that broke an invariant like any other crash.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/FileText.h"
#include "support/LogCapture.h"
#include "support/ScratchFolder.h"

namespace velmora::fuzz {

[[noreturn]] inline void CheckFailed(const char* file, int line, const std::string& what) {
  std::fprintf(stderr, "\n== invariant broken at %s:%d\n   %s\n", file, line, what.c_str());
  std::fflush(stderr);
  std::abort();
}

// The server's log lines, kept in memory for the whole run; a target clears it per input.
inline testing::LogCapture& FuzzLog() {
  static testing::LogCapture log;
  return log;
}

// A folder of this process under $TMPDIR (the CI script points that at a memory file system),
// removed when the process exits normally.
inline const std::string& ScratchFolder() {
  static testing::ScratchFolder folder("velmora-fuzz");
  return folder.Path();
}

using testing::ReadFile;
using testing::WriteFile;

// Reads an input front to back, so that seeds can be written by hand and a mutation changes
// what follows it locally. Past the end every read gives 0.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  size_t Below(size_t count) { return count == 0 ? 0 : Byte() % count; }
  bool Bool() { return Byte() & 1; }
  int32_t Int32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return static_cast<int32_t>(value);
  }
  // A length byte (taken modulo `max` + 1), then that many bytes.
  std::string Text(size_t max) {
    size_t length = std::min<size_t>(Byte() % (max + 1), size_ - std::min(at_, size_));
    std::string text(reinterpret_cast<const char*>(data_ + at_), length);
    at_ += length;
    return text;
  }
  // Everything not read yet.
  std::string Rest() {
    std::string rest(reinterpret_cast<const char*>(data_ + std::min(at_, size_)),
                     size_ - std::min(at_, size_));
    at_ = size_;
    return rest;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace velmora::fuzz

#define FUZZ_CHECK(condition, what)                                                          \
  do {                                                                                       \
    if (!(condition))                                                                        \
      ::velmora::fuzz::CheckFailed(__FILE__, __LINE__, std::string(#condition " -- ") + (what)); \
  } while (0)
