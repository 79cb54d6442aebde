#pragma once
// The message codes of the wire, one enum per direction: a code means one thing from the client
// and another from the server, and the log-in answers carry the code after their request's.
// This is the one list of the codes; the dispatcher and the counters take theirs from it.
#include <array>
#include <cstdint>

namespace velmora {

// The codes a client sends.
enum class ClientCode : int32_t {
  kNetworkSelection = 1,     // the network's name
  kPasswordDigest = 2,       // MD5 of the network's password, 16 raw bytes
  kUserName = 3,             // the user name
  kPositionReport = 4,       // X,Y,Facet,HP,InBattle,IsDead
  kMemberListRequest = 5,    // not read
  kChat = 7,                 // the chat text
  kAdminQuery = 9,           // not read
  kKickRequest = 10,         // user|reason, administrators only
  kBanRequest = 11,          // user|reason, administrators only
  kAnnouncementRequest = 12, // the text, administrators only
  kBanListRequest = 13,      // not read, administrators only
  kLiftBanRequest = 14,      // the ban's id, administrators only
  kGoodbye = 999,            // not read; answered with the same code
};

// Every code a client may send, ascending; any other code is ignored.
inline constexpr std::array kClientCodes = {
    ClientCode::kNetworkSelection,  ClientCode::kPasswordDigest,
    ClientCode::kUserName,          ClientCode::kPositionReport,
    ClientCode::kMemberListRequest, ClientCode::kChat,
    ClientCode::kAdminQuery,        ClientCode::kKickRequest,
    ClientCode::kBanRequest,        ClientCode::kAnnouncementRequest,
    ClientCode::kBanListRequest,    ClientCode::kLiftBanRequest,
    ClientCode::kGoodbye,
};

// The codes the server sends.
enum class ServerCode : int32_t {
  kNetworkPrompt = 1,    // "Network", once the connection is established
  kNetworkResult = 2,    // "OK" / "FAIL"
  kPasswordResult = 3,   // "OK" / "FAIL"
  kUserNameResult = 4,   // "OK" / "FAIL"
  kMemberPosition = 5,   // Name|X,Y,Facet,HP,InBattle,IsDead
  kMemberLeft = 6,       // the departed member's name
  kChatLine = 7,         // the sender's name, one 0x00 byte, the text
  kAdminAnswer = 9,      // "1" / "0"
  kBanList = 13,         // the ban rows, each ended by 0x00
  kKickNotice = 996,     // the kick text
  kBanNotice = 997,      // the ban reason
  kAnnouncement = 998,   // the announcement text
  kGoodbyeAnswer = 999,  // "BYE"
};

// Every code the server sends, ascending; the wire reference tables each of them.
inline constexpr std::array kServerCodes = {
    ServerCode::kNetworkPrompt,  ServerCode::kNetworkResult, ServerCode::kPasswordResult,
    ServerCode::kUserNameResult, ServerCode::kMemberPosition, ServerCode::kMemberLeft,
    ServerCode::kChatLine,       ServerCode::kAdminAnswer,   ServerCode::kBanList,
    ServerCode::kKickNotice,     ServerCode::kBanNotice,     ServerCode::kAnnouncement,
    ServerCode::kGoodbyeAnswer,
};

constexpr int32_t Wire(ClientCode code) { return static_cast<int32_t>(code); }
constexpr int32_t Wire(ServerCode code) { return static_cast<int32_t>(code); }

// The fixed texts of the dialogue.
inline constexpr const char* kPromptText = "Network";
inline constexpr const char* kOk = "OK";
inline constexpr const char* kFail = "FAIL";
inline constexpr const char* kGoodbyeText = "BYE";

}  // namespace velmora
