#pragma once
// A private folder per test for the networks folder, and the log kept in memory, so that tests
// can read back exactly the lines they caused.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/LogCapture.h"

namespace velmora::testing {

class NetworkFolderFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-nw-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    base_ = pattern;
    folder_ = (base_ / "velmora-server").string();
  }

  void TearDown() override {
    std::error_code ignored;
    std::filesystem::permissions(base_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(base_, ignored);
  }

  // Writes a file into the networks folder and returns its full path.
  std::string WriteNetworkFile(const std::string& name, const std::string& content) {
    std::filesystem::create_directories(folder_);
    std::string path = (std::filesystem::path(folder_) / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The messages of the log so far, without their "[date time] " prefixes.
  std::vector<std::string> LogLines() const { return log_.Messages(); }

  static unsigned Mode(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
  }

  LogCapture log_;
  std::filesystem::path base_;
  std::string folder_;
};

}  // namespace velmora::testing
