#include "platform/adapters/Terminal.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <iostream>

namespace velmora::platform {

namespace {

// The settings to put back when a signal ends the process in the middle of a prompt: a shell
// left without echo is the one lasting harm a password prompt can do.
termios g_savedTerminal;
volatile sig_atomic_t g_echoOff = 0;

void RestoreAndReraise(int signalNumber) {
  if (g_echoOff) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
}

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::optional<std::string> ReadLineFromFd(int fd) {
  std::string line;
  bool any = false;
  for (;;) {
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    any = true;
    if (c == '\n') break;
    line += c;
  }
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  struct sigaction previous[std::size(kEndingSignals)];
  bool terminal = ::tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0;
  if (terminal) {
    struct sigaction restore {};
    restore.sa_handler = RestoreAndReraise;
    sigemptyset(&restore.sa_mask);
    for (size_t i = 0; i < std::size(kEndingSignals); ++i)
      ::sigaction(kEndingSignals[i], &restore, &previous[i]);
    termios quiet = g_savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    g_echoOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0 ? 1 : 0;
  }
  auto line = ReadLineFromFd(STDIN_FILENO);
  if (terminal) {
    if (g_echoOff) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    g_echoOff = 0;
    for (size_t i = 0; i < std::size(kEndingSignals); ++i)
      ::sigaction(kEndingSignals[i], &previous[i], nullptr);
  } else {
    std::cerr << '\n';  // with echo off the terminal ends the line itself (ECHONL)
  }
  return line;
}

std::optional<std::string> ReadStandardInputLine() { return ReadLineFromFd(STDIN_FILENO); }

}  // namespace velmora::platform
