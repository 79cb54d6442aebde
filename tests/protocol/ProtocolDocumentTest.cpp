// docs/protocol.md is what client authors write against: every code the server knows must have
// its row there, in the table of its direction, or code and document have drifted apart.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "protocol/MessageCode.h"

namespace velmora {
namespace {

// The document's section between the heading that begins with `from` and the next "## ".
std::string Section(const std::string& document, const std::string& from) {
  size_t start = document.find("\n## " + from);
  if (start == std::string::npos) return "";
  size_t end = document.find("\n## ", start + 1);
  return document.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TEST(ProtocolDocument, TablesEveryMessageCodeInItsDirection) {
  std::ifstream file(VELMORA_SOURCE_DIR "/docs/protocol.md");
  ASSERT_TRUE(file) << "docs/protocol.md not found";
  std::stringstream text;
  text << file.rdbuf();
  // Every code a client may send comes from the catalogue's own list, so that a code added there
  // fails here until it is documented; the server's codes are listed here.
  const ServerCode fromServer[] = {
      ServerCode::kNetworkPrompt, ServerCode::kNetworkResult, ServerCode::kPasswordResult,
      ServerCode::kUserNameResult, ServerCode::kMemberPosition, ServerCode::kMemberLeft,
      ServerCode::kChatLine,      ServerCode::kAdminAnswer,   ServerCode::kBanList,
      ServerCode::kKickNotice,    ServerCode::kBanNotice,     ServerCode::kAnnouncement,
      ServerCode::kGoodbyeAnswer,
  };
  std::string clientTable = Section(text.str(), "3. Client to server");
  std::string serverTable = Section(text.str(), "4. Server to client");
  for (ClientCode code : kClientCodes)
    EXPECT_NE(clientTable.find("\n| " + std::to_string(Wire(code)) + " |"), std::string::npos)
        << "client code " << Wire(code) << " is not in docs/protocol.md";
  for (ServerCode code : fromServer)
    EXPECT_NE(serverTable.find("\n| " + std::to_string(Wire(code)) + " |"), std::string::npos)
        << "server code " << Wire(code) << " is not in docs/protocol.md";
}

}  // namespace
}  // namespace velmora
