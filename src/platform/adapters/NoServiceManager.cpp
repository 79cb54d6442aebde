// The service control of systems without the Windows service manager: the process is never
// started by one, so the entry always falls back to console mode.
#include <limits.h>
#include <unistd.h>

#include "platform/adapters/ServiceControl.h"
#include "platform/adapters/WindowsPathParts.h"

namespace velmora::platform {

namespace {

class NoServiceManager final : public ServiceControl {
 public:
  uint32_t GetModuleFileNameW(wchar_t* buffer, uint32_t size) override {
    if (size == 0) return 0;
    char path[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0) return 0;
    // The name only labels the service that is never started here; widening byte by byte keeps
    // ASCII names exact without depending on the locale.
    uint32_t count = 0;
    for (; count + 1 < size && count < static_cast<uint32_t>(length); ++count)
      buffer[count] = static_cast<wchar_t>(static_cast<unsigned char>(path[count]));
    buffer[count] = L'\0';
    return count < static_cast<uint32_t>(length) ? size : count;
  }
  const wchar_t* PathFindFileNameW(const wchar_t* path) override { return FileNamePartOf(path); }
  const wchar_t* PathFindExtensionW(const wchar_t* path) override {
    return ExtensionPartOf(path);
  }
  bool StartServiceCtrlDispatcherW(const std::vector<ServiceTableEntry>&) override {
    lastError_ = service::kErrorFailedServiceControllerConnect;
    return false;
  }
  uint32_t GetLastError() override { return lastError_; }
  ServiceStatusHandle RegisterServiceCtrlHandlerW(const std::wstring&,
                                                  ServiceControlHandler) override {
    lastError_ = service::kErrorFailedServiceControllerConnect;
    return 0;
  }
  bool SetServiceStatus(ServiceStatusHandle, const ServiceStatus&) override {
    lastError_ = service::kErrorFailedServiceControllerConnect;
    return false;
  }

 private:
  uint32_t lastError_ = 0;
};

}  // namespace

ServiceControl& SystemServiceControl() {
  static NoServiceManager control;
  return control;
}

}  // namespace velmora::platform
