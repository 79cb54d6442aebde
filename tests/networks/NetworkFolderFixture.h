#pragma once
// A private folder per test for the networks folder, and the log kept in memory, so that tests
// can read back exactly the lines they caused.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/LogCapture.h"
#include "support/ScratchFolder.h"
#include "support/FileText.h"

namespace velmora::testing {

class NetworkFolderFixture : public ::testing::Test {
 protected:
  // Writes a file into the networks folder and returns its full path.
  std::string WriteNetworkFile(const std::string& name, const std::string& content) {
    std::filesystem::create_directories(folder_);
    std::string path = (std::filesystem::path(folder_) / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static std::string ReadFile(const std::string& path) { return testing::ReadFile(path); }

  // The messages of the log so far, without their "[date time] " prefixes.
  std::vector<std::string> LogLines() const { return log_.Messages(); }

  static unsigned Mode(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
  }

  LogCapture log_;
  ScratchFolder base_{"velmora-nw"};
  std::string folder_ = base_ / "velmora-server";
};

}  // namespace velmora::testing
