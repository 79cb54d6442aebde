// Serves the console on 127.0.0.1 in front of a scripted server, for the browser tests:
//   velmora-console-standin [--port N] [--token T]
// Prints "listening on 127.0.0.1:<port>", then takes commands on standard input, one a line:
//   move <name> <x> <y>    a member of Lobby reports a new position
//   quit                   (or the end of input) stops
// and prints every line the scripted server logs as "log: <line>".
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "host/console/Console.h"
#include "host/console/ConsoleError.h"
#include "support/ScriptedServer.h"

namespace {

using velmora::console::ConsoleSnapshot;
using velmora::testing::ScriptedServer;

void Move(ScriptedServer& server, const std::string& name, int64_t x, int64_t y) {
  server.Change([&](ConsoleSnapshot& world) {
    for (auto& member : world.Networks[0].Members)
      if (member.Name == name) {
        member.X = x;
        member.Y = y;
        ++member.MessagesSent;
        world.Counters.CountMessage(4);
      }
  });
}

// One command; false to stop.
bool Obey(ScriptedServer& server, const std::string& line) {
  std::istringstream words(line);
  std::string verb, name;
  int64_t x = 0, y = 0;
  words >> verb;
  if (verb == "quit") return false;
  if (verb == "move" && (words >> name >> x >> y)) Move(server, name, x, y);
  else if (!verb.empty()) std::cerr << "standin: not understood: " << line << std::endl;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  uint16_t port = 0;
  std::string token;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--port") == 0) port = static_cast<uint16_t>(std::stoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--token") == 0) token = argv[i + 1];
  }
  ScriptedServer server;
  velmora::console::ActionRunner actions(server, server.Poster());
  velmora::console::Console console(server.Snapshots(), actions);
  try {
    console.Start("127.0.0.1:" + std::to_string(port), token);
  } catch (const velmora::console::ConsoleError& error) {
    std::cerr << "standin: " << error.what() << std::endl;
    return 2;
  }
  std::cout << "listening on 127.0.0.1:" << console.Port() << std::endl;

  size_t logged = 0;
  std::string pending;
  for (bool running = true; running;) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 100) > 0) {
      char chunk[4096];
      ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
      if (got <= 0) running = false;
      else pending.append(chunk, static_cast<size_t>(got));
      for (size_t end; running && (end = pending.find('\n')) != std::string::npos;) {
        running = Obey(server, pending.substr(0, end));
        pending.erase(0, end + 1);
      }
    }
    auto log = server.Log();
    for (; logged < log.size(); ++logged) std::cout << "log: " << log[logged] << std::endl;
  }
  return 0;
}
