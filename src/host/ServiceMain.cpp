#include "host/ServiceMain.h"

#include <memory>
#include <mutex>

namespace velmora {

namespace ps = platform::service;

namespace {

// The status the service manager knows and the requests it sends. Shared with the registered
// handler, which the platform may keep and call after ServiceMain has returned.
class ServiceSession {
 public:
  ServiceSession(platform::ServiceControl& control, HostedApplication& application)
      : control_(control), application_(application) {
    status_.serviceType = ps::kWin32OwnProcess;
  }

  void SetHandle(platform::ServiceStatusHandle handle) {
    std::lock_guard lock(mutex_);
    handle_ = handle;
  }

  void Report(uint32_t state, uint32_t waitHint = 0) {
    std::lock_guard lock(mutex_);
    ReportLocked(state, waitHint);
  }

  void ReportEnded(int exitCode) {
    std::lock_guard lock(mutex_);
    status_.win32ExitCode = exitCode == 0 ? 0 : ps::kErrorServiceSpecificError;
    status_.serviceSpecificExitCode = exitCode == 0 ? 0 : static_cast<uint32_t>(exitCode);
    ReportLocked(ps::kStopped, 0);
  }

  void OnControl(uint32_t control) {
    switch (control) {
      case ps::kControlStop:
      case ps::kControlShutdown:
        if (Transition({ps::kStartPending, ps::kRunning, ps::kPaused}, ps::kStopPending,
                       kStopWaitHintMs))
          application_.Stop();
        break;
      case ps::kControlPause:
        if (Transition({ps::kRunning}, ps::kPaused, 0)) application_.Pause();
        break;
      case ps::kControlContinue:
        if (Transition({ps::kPaused}, ps::kRunning, 0)) application_.Resume();
        break;
      default:
        // Interrogation, and anything not accepted: the current status is the answer.
        Resend();
        break;
    }
  }

 private:
  // Moves to `to` when the service is in one of `from`; otherwise only repeats the status, so
  // that a request that crosses the end of the run cannot bring back a stopped service.
  bool Transition(std::initializer_list<uint32_t> from, uint32_t to, uint32_t waitHint) {
    std::lock_guard lock(mutex_);
    for (uint32_t state : from) {
      if (status_.currentState == state) {
        ReportLocked(to, waitHint);
        return true;
      }
    }
    ResendLocked();
    return false;
  }

  void Resend() {
    std::lock_guard lock(mutex_);
    ResendLocked();
  }

  void ResendLocked() {
    // Before the first report there is nothing to repeat; after the stopped one the handle may
    // be gone.
    if (handle_ == 0 || status_.currentState == 0 || status_.currentState == ps::kStopped) return;
    control_.SetServiceStatus(handle_, status_);
  }

  void ReportLocked(uint32_t state, uint32_t waitHint) {
    // Nothing follows the stopped report: the service manager may already have let the process go.
    if (status_.currentState == ps::kStopped) return;
    bool pending = state == ps::kStartPending || state == ps::kStopPending ||
                   state == ps::kPausePending || state == ps::kContinuePending;
    status_.currentState = state;
    status_.controlsAccepted = state == ps::kRunning || state == ps::kPaused
                                   ? ps::kAcceptStop | ps::kAcceptPauseContinue
                                   : 0;
    status_.checkPoint = pending ? status_.checkPoint + 1 : 0;
    status_.waitHint = waitHint;
    if (handle_ != 0) control_.SetServiceStatus(handle_, status_);
  }

  platform::ServiceControl& control_;
  HostedApplication& application_;
  std::mutex mutex_;
  platform::ServiceStatusHandle handle_ = 0;
  platform::ServiceStatus status_;
};

}  // namespace

void ServiceMain(platform::ServiceControl& control, HostedApplication& application,
                 const std::wstring& serviceName, const std::vector<std::string>& args) {
  auto session = std::make_shared<ServiceSession>(control, application);
  platform::ServiceStatusHandle handle = control.RegisterServiceCtrlHandlerW(
      serviceName, [session](uint32_t request) { session->OnControl(request); });
  // Without a handle nothing can be reported; the service manager gives up on the start itself.
  if (handle == 0) return;
  session->SetHandle(handle);
  session->Report(ps::kStartPending, kStartWaitHintMs);
  session->Report(ps::kRunning);
  int exitCode = application.Run(args);
  session->ReportEnded(exitCode);
}

}  // namespace velmora
