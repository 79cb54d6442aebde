#pragma once
// One message of the wire: a 32-bit code and a byte-string payload. Codes are kept as the wire
// carries them, since a peer may send any.
#include <cstdint>
#include <string>

#include "protocol/MessageCode.h"

namespace velmora {

struct Message {
  int32_t command = 0;
  std::string data;

  Message() = default;
  Message(int32_t command, std::string data) : command(command), data(std::move(data)) {}
  Message(ClientCode code, std::string data) : command(Wire(code)), data(std::move(data)) {}
  Message(ServerCode code, std::string data) : command(Wire(code)), data(std::move(data)) {}
  bool Is(ClientCode code) const { return command == Wire(code); }
  bool Is(ServerCode code) const { return command == Wire(code); }
  bool operator==(const Message&) const = default;
};

}  // namespace velmora
