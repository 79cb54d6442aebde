#pragma once
// What the process entry and the service side drive: the application's whole run and the
// requests of whoever controls it. The real one is App through the host (AppHost); tests and the
// Windows probe bring their own.
#include <string>
#include <vector>

namespace velmora {

class HostedApplication {
 public:
  virtual ~HostedApplication() = default;
  // Creates the application, runs it to its end and gives its exit code.
  virtual int Run(const std::vector<std::string>& args) = 0;
  // Requests that may arrive on another thread than Run's, before, during or after it.
  virtual void Stop() = 0;
  virtual void Pause() = 0;
  virtual void Resume() = 0;
};

}  // namespace velmora
