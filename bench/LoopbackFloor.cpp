#include "LoopbackFloor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/FrameCodec.h"

namespace velmora::bench {

namespace {

double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void PinTo(int core) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(core, &set);
  if (sched_setaffinity(0, sizeof set, &set) != 0) {
    throw std::runtime_error(std::string("sched_setaffinity: ") + strerror(errno));
  }
}

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + strerror(errno));
}

// Reads until every connection has reached end of stream or the deadline has passed.
[[noreturn]] void Receive(const std::vector<int>& fds, double deadline) {
  int epoll = epoll_create1(0);
  for (size_t i = 0; i < fds.size(); ++i) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = i;
    epoll_ctl(epoll, EPOLL_CTL_ADD, fds[i], &event);
  }
  static char buffer[256 * 1024];
  epoll_event events[1024];
  size_t open = fds.size();
  unsigned long long bytes = 0;
  unsigned long long reads = 0;
  while (open > 0 && MonotonicSeconds() < deadline) {
    int count = epoll_wait(epoll, events, 1024, 100);
    for (int i = 0; i < count; ++i) {
      int fd = fds[events[i].data.u64];
      ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got > 0) {
        bytes += static_cast<unsigned long long>(got);
        ++reads;
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
        --open;
      }
    }
  }
  std::printf("receiver: %llu bytes in %llu reads, %.2f s of CPU (%.2f us per read)\n", bytes,
              reads, CpuSeconds(), reads ? CpuSeconds() * 1e6 / static_cast<double>(reads) : 0.0);
  std::fflush(stdout);
  _exit(open == 0 ? 0 : 1);
}

}  // namespace

int RunLoopbackFloor(const LoadOptions& options) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Check(listener >= 0, "socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Check(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
  Check(listen(listener, 4096) == 0, "listen");
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  std::vector<int> readers;
  std::vector<int> writers;
  for (int i = 0; i < options.members; ++i) {
    int reader = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Check(reader >= 0, "socket");
    Check(connect(reader, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "connect");
    int writer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    Check(writer >= 0, "accept");
    int one = 1;
    setsockopt(writer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    readers.push_back(reader);
    writers.push_back(writer);
  }
  close(listener);

  std::string frame = CreatePacket(5, "m123|12345678901,1234,1,100,0,0");
  std::string burst;
  for (int i = 0; i < options.window; ++i) burst += frame;

  double deadline = MonotonicSeconds() + options.duration;
  pid_t child = fork();
  Check(child >= 0, "fork");
  if (child == 0) {
    for (int fd : writers) close(fd);
    PinTo(1);
    Receive(readers, deadline + 10);
  }
  for (int fd : readers) close(fd);
  PinTo(0);
  double cpuStart = CpuSeconds();
  double start = MonotonicSeconds();
  unsigned long long sends = 0;
  bool failed = false;
  while (!failed && MonotonicSeconds() < deadline) {
    for (int fd : writers) {
      if (send(fd, burst.data(), burst.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(burst.size())) {
        failed = true;
        break;
      }
      ++sends;
    }
  }
  double elapsed = MonotonicSeconds() - start;
  double cpu = CpuSeconds() - cpuStart;
  for (int fd : writers) close(fd);
  auto frames = sends * static_cast<unsigned long long>(options.window);
  std::printf("loopback floor: %d connections, %d frame(s) of %zu bytes per send\n",
              options.members, options.window, frame.size());
  std::printf("sender: %llu sends = %.0f sends/s, %.0f frames/s; %.2f s of CPU = %.2f us per "
              "send, %.0f frames per CPU second\n",
              sends, static_cast<double>(sends) / elapsed, static_cast<double>(frames) / elapsed,
              cpu, sends ? cpu * 1e6 / static_cast<double>(sends) : 0.0,
              cpu > 0 ? static_cast<double>(frames) / cpu : 0.0);
  std::fflush(stdout);
  int status = 0;
  waitpid(child, &status, 0);
  return !failed && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

}  // namespace velmora::bench
