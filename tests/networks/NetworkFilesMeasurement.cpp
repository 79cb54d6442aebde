// Times for large networks folders and files. Not run by default (they measure, they do not
// judge): velmora_tests --gtest_also_run_disabled_tests --gtest_filter='*NetworkFilesMeasurement*'
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "networks/NetworkFiles.h"
#include "networks/NetworkFolderFixture.h"

namespace velmora {
namespace {

class NetworkFilesMeasurement : public testing::NetworkFolderFixture {
 protected:
  template <typename Work>
  static double Milliseconds(Work work) {
    auto started = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
        .count();
  }

  static std::string NetworkWithUsers(const std::string& name, int users) {
    std::string text = "<?xml version=\"1.0\"?>\n<networks>\n  <network name=\"" + name +
                       "\" password=\"pw\" maxusers=\"50\" enabled=\"1\" port=\"4500\">\n";
    for (int i = 0; i < users; ++i)
      text += "    <User Name=\"user" + std::to_string(i) + "\" LastIP=\"10.0." +
              std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) +
              "\" UID=\"" + std::to_string(i) + "\" IsAdmin=\"" + (i % 100 == 0 ? "1" : "0") +
              "\"/>\n";
    return text + "  </network>\n</networks>\n";
  }
};

TEST_F(NetworkFilesMeasurement, DISABLED_LoadingAndRegistering) {
  for (int i = 0; i < 1000; ++i)
    WriteNetworkFile("network" + std::to_string(i) + ".conf",
                     NetworkWithUsers("Network" + std::to_string(i), 10));
  std::vector<std::shared_ptr<ServerNetworks>> networks;
  double folder = Milliseconds([&] { modGlobal::LoadNetworks(folder_, networks); });
  ASSERT_EQ(networks.size(), 1000u);
  std::printf("load 1,000 network files of 10 users: %.1f ms\n", folder);

  std::filesystem::remove_all(folder_);
  std::string path = WriteNetworkFile("big.conf", NetworkWithUsers("Big", 10000));
  std::shared_ptr<ServerNetworks> big;
  double read = Milliseconds([&] { big = modGlobal::ReadNetworkXML(path); });
  ASSERT_NE(big, nullptr);
  ASSERT_EQ(big->Users().size(), 10000u);
  std::printf("read one network file of 10,000 users (%zu bytes): %.1f ms\n",
              ReadFile(path).size(), read);

  double known = Milliseconds([&] { big->AddUserToNetwork("USER9999", "10.1.2.3"); });
  double added = Milliseconds([&] { big->AddUserToNetwork("Newcomer", "10.1.2.4"); });
  ASSERT_EQ(big->Users().size(), 10001u);
  std::printf("register on it: known user %.1f ms, new user %.1f ms\n", known, added);
}

}  // namespace
}  // namespace velmora
