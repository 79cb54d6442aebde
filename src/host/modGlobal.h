#pragma once
// Routines that belong to no class.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/NetworkInterfaces.h"

namespace velmora {
class ServerNetworks;
}

namespace velmora::modGlobal {

// Writes one line "[date time] message" to com.velmora.log in the application-data folder.
// The file is opened and closed on every call; startNew empties it first.
void LogMessage(const std::string& message, bool startNew);

// Client-supplied text made safe for a log line: bytes below 0x20, 0x7F and the backslash are
// written as escapes (\n, \r, \t, \\, \xNN), so a client cannot forge or split log lines.
std::string LogSafe(std::string_view clientText);

// The first interface whose MAC address text equals `mac` without regard to letter case.
std::optional<platform::NetworkInterface> NICByMac(const std::string& mac);

// Reads one network file into a record; nothing when it does not read as a network.
std::shared_ptr<ServerNetworks> ReadNetworkXML(const std::string& file);
// Reads every network file of the networks folder into App.Networks.
void LoadNetworks();

}  // namespace velmora::modGlobal
