#pragma once
// A private folder per test: the networks folder, and the application-data folder that receives
// the log, so that tests can read back exactly the lines they caused.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::testing {

class NetworkFolderFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-nw-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    base_ = pattern;
    std::filesystem::create_directories(base_ / "data");
    ::setenv("XDG_DATA_HOME", (base_ / "data").c_str(), 1);
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
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::istringstream log(ReadFile((base_ / "data" / "com.velmora.log").string()));
    for (std::string line; std::getline(log, line);) {
      auto end = line.find("] ");
      lines.push_back(end == std::string::npos ? line : line.substr(end + 2));
    }
    return lines;
  }

  static unsigned Mode(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
  }

  std::filesystem::path base_;
  std::string folder_;
};

}  // namespace velmora::testing
