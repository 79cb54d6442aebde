// The settings file, the networks folder and the log when they cannot be read or written: in the
// place of a file a folder, a FIFO or a device, in the place of the folder a file, a read-only
// network file, files that go away while the server runs, and (where the test may mount file
// systems) a full and a read-only networks folder; and files kept behind links. The server
// starts, logs what concerns the operator, and keeps serving.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/ProcessProbe.h"
#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

namespace fs = std::filesystem;

class FaultFiles : public ServerTest {
 protected:
  void SetUp() override {
    lobby = {.name = "Lobby", .password = "pw", .port = FreePort()};
    lobbyPath = server.NetworksFolder() + "/Lobby" + std::to_string(lobby.port) + ".conf";
  }

  void TearDown() override {
    ServerTest::TearDown();
    if (mounted) ::umount2(server.NetworksFolder().c_str(), MNT_DETACH);
  }

  void Start() { ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output(); }

  // Whether the user name step of a log-in as `user` was answered "OK".
  bool LogsIn(const std::string& user) {
    WireClient client(lobby.port);
    return client.LogIn("Lobby", "pw", user);
  }

  // Whether the network file lists `user`.
  bool Listed(const std::string& user) {
    return ReadFile(lobbyPath).find("Name=\"" + user + "\"") != std::string::npos;
  }

  // The start-up messages other than those every start writes.
  std::vector<std::string> UnusualStartUpMessages() {
    std::vector<std::string> unusual;
    for (const auto& line : server.LogMessages()) {
      if (line == "Listening...") break;
      if (line == "Loading Settings..." || line == "Initializing Server Socket..." ||
          line == "Loading Networks..." || line == "Reading Network Files..." ||
          line.rfind("Network loaded: ", 0) == 0 || line.rfind("Loaded Network: ", 0) == 0)
        continue;
      unusual.push_back(line);
    }
    return unusual;
  }

  // Mounts a fresh file system of `bytes` on the networks folder; false where this test may
  // not mount.
  bool MountSmallFileSystem(size_t bytes) {
    std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", server.NetworksFolder().c_str(), "tmpfs", 0, options.c_str()) != 0)
      return false;
    mounted = true;
    return true;
  }

  // Makes the networks folder read-only for everyone, root included.
  bool MountReadOnly() {
    std::string path = server.NetworksFolder();
    if (::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    mounted = true;
    return ::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
           0;
  }

  NetworkEntry lobby;
  std::string lobbyPath;
  bool mounted = false;
};

// Neither a folder nor a FIFO (whose plain open would wait for a writer for good) holds
// settings: start-up goes on without them and leaves them in place.
TEST_F(FaultFiles, ASettingsFileThatIsNoRegularFileIsPassedOverInSilence) {
  server.WriteNetwork(lobby);
  for (bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "FIFO" : "folder");
    if (fifo)
      ASSERT_EQ(::mkfifo(server.SettingsPath().c_str(), 0600), 0);
    else
      fs::create_directory(server.SettingsPath());
    Start();
    // Without its settings the listener takes the first interface; it listens all the same.
    EXPECT_TRUE(SomethingListensOn(lobby.port));
    EXPECT_TRUE(UnusualStartUpMessages().empty()) << DescribeLog();
    EXPECT_EQ(fs::symlink_status(server.SettingsPath()).type(),
              fifo ? fs::file_type::fifo : fs::file_type::directory);
    EXPECT_EQ(server.Stop(), 0) << server.Output();
    fs::remove(server.SettingsPath());
  }
}

// An operator who keeps the files in a managed folder and links to them.
TEST_F(FaultFiles, LinkedSettingsAndNetworkFilesStayLinksAndTheirTargetsAreRewritten) {
  std::string managed = server.Folder() + "/managed";
  fs::create_directory(managed);
  const std::string settings = "<settings><setting namestring=\"AttachedNIC\" valuestring=\"\"/></settings>";
  { std::ofstream(managed + "/velmora.conf") << settings; }
  { std::ofstream(managed + "/lobby.conf") << NetworkXml(lobby); }
  fs::create_symlink("managed/velmora.conf", server.SettingsPath());
  fs::create_symlink("../managed/lobby.conf", lobbyPath);
  Start();
  EXPECT_TRUE(LogsIn("Ann"));
  EXPECT_TRUE(fs::is_symlink(server.SettingsPath()));
  EXPECT_NE(ReadFile(managed + "/velmora.conf"), settings);  // saved at the end of start-up
  EXPECT_TRUE(fs::is_symlink(lobbyPath));
  EXPECT_TRUE(Listed("Ann"));
}

// A log nobody reads from, put in place while the server runs: the lines are lost, the server
// goes on serving.
TEST_F(FaultFiles, ALogThatIsAFifoLosesItsLinesAndTheServerServesOn) {
  StartServer({lobby});
  fs::remove(server.LogPath());
  ASSERT_EQ(::mkfifo(server.LogPath().c_str(), 0600), 0);
  EXPECT_TRUE(LogsIn("Ann"));
  EXPECT_TRUE(Listed("Ann"));
}

TEST_F(FaultFiles, ANetworksFolderThatIsAFileLoadsNothingAndIsLeftAlone) {
  fs::remove_all(server.NetworksFolder());
  const std::string content = "not a folder\n";
  { std::ofstream(server.NetworksFolder()) << content; }
  server.WriteSettings(AllAddressesSettings());
  Start();
  EXPECT_TRUE(UnusualStartUpMessages().empty()) << DescribeLog();
  EXPECT_EQ(server.CountLog("Reading Network Files..."), 1u);
  EXPECT_EQ(ReadFile(server.NetworksFolder()), content);
  EXPECT_EQ(server.Stop(), 0) << server.Output();
}

// A folder, a FIFO (which stopped start-up for good) and a link to an endless device (which
// grew memory until the end) are files that cannot be read.
TEST_F(FaultFiles, NetworkFilesThatAreNoRegularFilesAreSkippedAndTheOthersServe) {
  fs::create_directory(server.NetworksFolder() + "/Broken.conf");
  ASSERT_EQ(::mkfifo((server.NetworksFolder() + "/pipe.conf").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", server.NetworksFolder() + "/zero.conf");
  StartServer({lobby});
  auto unusual = UnusualStartUpMessages();
  // Each refused file is named, then where it is and why.
  std::vector<std::string> named;
  for (const auto& line : unusual)
    if (line.rfind("Error in ", 0) != 0) named.push_back(line);
    else EXPECT_NE(line.find(": cannot be read ("), std::string::npos) << line;
  EXPECT_EQ(unusual.size(), 2 * named.size());
  std::sort(named.begin(), named.end());
  EXPECT_EQ(named, (std::vector<std::string>{"Error loading network: Broken.conf",
                                             "Error loading network: pipe.conf",
                                             "Error loading network: zero.conf"}));
  EXPECT_TRUE(LogsIn("Ann"));
  EXPECT_TRUE(Listed("Ann"));
}

TEST_F(FaultFiles, AReadOnlyNetworkFileIsNeverRewrittenAndEachNewUserIsLogged) {
  server.WriteNetwork(lobby);
  constexpr auto kReadOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(lobbyPath, kReadOnly);
  std::string before = ReadFile(lobbyPath);
  server.WriteSettings(AllAddressesSettings());
  Start();
  auto ann = Member(lobby.port, "Lobby", "pw", "Ann");
  auto bob = Member(lobby.port, "Lobby", "pw", "Bob");
  EXPECT_TRUE(Logged("Error adding user Ann to network Lobby"));
  EXPECT_TRUE(Logged("Error adding user Bob to network Lobby"));
  ann->Send(4, "1,2,3,4,0,0");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|1,2,3,4,0,0"}));
  EXPECT_EQ(ReadFile(lobbyPath), before);
  EXPECT_EQ(fs::status(lobbyPath).permissions() & fs::perms::all, kReadOnly);
}

// A network file and then the whole folder taken away under the running server: log-ins go on
// without a word, and registration resumes once the file is back.
TEST_F(FaultFiles, NetworkFilesThatGoAwayWhileTheServerRunsStopOnlyRegistration) {
  StartServer({lobby});
  std::string original = ReadFile(lobbyPath);
  fs::remove(lobbyPath);
  fs::create_directory(lobbyPath);
  EXPECT_TRUE(LogsIn("Ann"));
  fs::remove_all(server.NetworksFolder());
  { std::ofstream(server.NetworksFolder()) << "in the way\n"; }
  EXPECT_TRUE(LogsIn("Bob"));
  for (const auto& line : server.MessagesSinceListening())
    EXPECT_EQ(line.find("Error"), std::string::npos) << line;

  fs::remove(server.NetworksFolder());
  fs::create_directory(server.NetworksFolder());
  { std::ofstream(lobbyPath) << original; }
  EXPECT_TRUE(LogsIn("Cy"));
  EXPECT_TRUE(Listed("Cy"));
}

TEST_F(FaultFiles, AFullNetworksFolderKeepsTheOldFileWholeAndRegistrationResumes) {
  if (!MountSmallFileSystem(64 * 1024))
    GTEST_SKIP() << "cannot mount a file system here: " << std::strerror(errno);
  StartServer({lobby});
  std::string before = ReadFile(lobbyPath);
  std::string filler = server.NetworksFolder() + "/.filler";
  {
    std::ofstream out(filler, std::ios::binary);
    std::string block(4096, 'f');
    // Four times the room there is: the writes stop short once the file system is full.
    for (int i = 0; i < 64 && out; ++i) {
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
      out.flush();
    }
  }
  EXPECT_TRUE(LogsIn("Ann"));
  EXPECT_TRUE(Logged("Error adding user Ann to network Lobby"));
  EXPECT_EQ(ReadFile(lobbyPath), before);
  // The half-written copy went with the failure.
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(server.NetworksFolder()))
    entries.push_back(entry.path().filename().string());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{".filler", fs::path(lobbyPath).filename()}));

  fs::remove(filler);
  EXPECT_TRUE(LogsIn("Bob"));
  EXPECT_TRUE(Listed("Bob"));
}

TEST_F(FaultFiles, AReadOnlyNetworksFolderIsReadAndNeverWritten) {
  server.WriteNetwork(lobby);
  if (!MountReadOnly())
    GTEST_SKIP() << "cannot mount a file system here: " << std::strerror(errno);
  std::string before = ReadFile(lobbyPath);
  server.WriteSettings(AllAddressesSettings());
  Start();
  EXPECT_TRUE(LogsIn("Ann"));
  EXPECT_TRUE(Logged("Error adding user Ann to network Lobby"));
  EXPECT_EQ(ReadFile(lobbyPath), before);
}

}  // namespace
}  // namespace velmora::e2e
