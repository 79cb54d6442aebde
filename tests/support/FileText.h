#pragma once
// Whole files as text, for tests that set up and read back what the server keeps on disk.
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace velmora::testing {

// The whole content of a file, or empty text when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Replaces the file's content with `content`; throws when it cannot.
inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace velmora::testing
