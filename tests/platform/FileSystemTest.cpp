#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/adapters/FileError.h"
#include "platform/adapters/FileSystem.h"
#include "support/ScratchFolder.h"

namespace velmora::platform {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return scratch / name; }
  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(Path(name), std::ios::binary) << content;
  }

  testing::ScratchFolder scratch{"velmora-fs"};
  std::string folder = scratch.Path();
};

// A FIFO nobody writes to would block the reader for good, a device never end; the log and the
// settings and network files meet such things when links point the wrong way.
TEST_F(FileSystemTest, OnlyRegularFilesAreReadOrAppendedTo) {
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", Path("zero").c_str()), 0);
  fs::create_directory(Path("folder"));
  int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, Path("socket").c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(listening);
  for (const char* name : {"fifo", "zero", "folder", "socket"}) {
    EXPECT_THROW(ReadWholeFile(Path(name)), FileError) << name;
    EXPECT_FALSE(AppendLineToFile(Path(name), "line\n", false)) << name;
    EXPECT_FALSE(AppendLineToFile(Path(name), "line\n", true)) << name;
  }

  // A link to a regular file is followed, and stays a link.
  Write("plain", "a\n");
  ASSERT_EQ(::symlink("plain", Path("link").c_str()), 0);
  EXPECT_TRUE(AppendLineToFile(Path("link"), "b\n", false));
  EXPECT_EQ(ReadWholeFile(Path("link")), "a\nb\n");
  EXPECT_TRUE(AppendLineToFile(Path("link"), "c\n", true));
  EXPECT_TRUE(fs::is_symlink(Path("link")));
  EXPECT_EQ(ReadWholeFile(Path("plain")), "c\n");
  EXPECT_TRUE(AppendLineToFile(Path("new"), "d\n", false));
  EXPECT_EQ(ReadWholeFile(Path("new")), "d\n");
}

TEST_F(FileSystemTest, AFileLargerThanTheLimitIsNotRead) {
  Write("ten", "0123456789");
  EXPECT_EQ(ReadWholeFile(Path("ten"), 10), "0123456789");
  EXPECT_THROW(ReadWholeFile(Path("ten"), 9), FileError);
  // A file that holds more than its size says, as one still being written does: those of /proc
  // give their size as 0.
  EXPECT_THROW(ReadWholeFile("/proc/self/status", 10), FileError);
}

// An operator keeps the file in a managed folder and links to it: the rewrite reaches the file
// at the end of the chain and leaves every link a link.
TEST_F(FileSystemTest, ARewriteThroughLinksReplacesTheFinalTarget) {
  fs::create_directory(Path("managed"));
  fs::create_directory(Path("links"));
  Write("managed/real.conf", "old");
  ASSERT_EQ(::chmod(Path("managed/real.conf").c_str(), 0640), 0);
  ASSERT_EQ(::symlink("../managed/real.conf", Path("links/middle").c_str()), 0);
  ASSERT_EQ(::symlink("links/middle", Path("first.conf").c_str()), 0);

  WriteFileAtomically(Path("first.conf"), "new", {.refuseReadOnlyTarget = true});
  EXPECT_TRUE(fs::is_symlink(Path("first.conf")));
  EXPECT_TRUE(fs::is_symlink(Path("links/middle")));
  EXPECT_EQ(ReadWholeFile(Path("managed/real.conf")), "new");
  EXPECT_EQ(fs::status(Path("managed/real.conf")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("managed")), fs::directory_iterator()), 1);

  // A link whose target is missing gets its target made.
  ASSERT_EQ(::symlink("managed/fresh.conf", Path("dangling").c_str()), 0);
  WriteFileAtomically(Path("dangling"), "fresh");
  EXPECT_TRUE(fs::is_symlink(Path("dangling")));
  EXPECT_EQ(ReadWholeFile(Path("managed/fresh.conf")), "fresh");
}

}  // namespace
}  // namespace velmora::platform
