#include "PasswordSource.h"

#include "AdminOptions.h"
#include "ExitCode.h"
#include "platform/adapters/FileError.h"
#include "platform/adapters/FileSystem.h"
#include "platform/adapters/Terminal.h"

namespace velmora::admin {

namespace {

std::string FirstLine(const std::string& content) {
  std::string line = content.substr(0, content.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

[[noreturn]] void NoPassword(const std::string& why) {
  throw AdminFailure(ExitCode::kUsage, why);
}

}  // namespace

std::string ReadPassword(const AdminOptions& options) {
  if (options.passwordFile && *options.passwordFile != "-") {
    try {
      return FirstLine(platform::ReadWholeFile(*options.passwordFile));
    } catch (const platform::FileError& error) {
      NoPassword(std::string("cannot read the password file: ") + error.what());
    }
  }
  if (!options.passwordFile && platform::StandardInputIsTerminal()) {
    auto typed = platform::ReadSecretLine("Password of network " + options.network + ": ");
    if (!typed) NoPassword("no password typed");
    return *typed;
  }
  auto line = platform::ReadStandardInputLine();
  if (!line)
    NoPassword("no password: give --password-file FILE, or run on a terminal to be asked");
  return *line;
}

}  // namespace velmora::admin
