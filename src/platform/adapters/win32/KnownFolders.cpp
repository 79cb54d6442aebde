// The folders of FileSystem.h as Windows knows them; a Windows build takes these in place of the
// POSIX ones in FileSystem.cpp.
#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

#include "platform/adapters/FileSystem.h"
#include "platform/adapters/win32/WideText.h"

namespace velmora::platform {

namespace {

std::string WithoutTrailingSeparator(std::string path) {
  // "C:\\" stays a root; any longer folder loses its trailing separator.
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

}  // namespace

std::optional<std::string> ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::nullopt;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    // Cut at the buffer's end: long paths exist beyond MAX_PATH.
    if (path.size() >= 32768) return std::nullopt;
    path.resize(path.size() * 2);
  }
  auto separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return std::nullopt;
  // The folder of "C:\\velmora.exe" is "C:\\", not the drive-relative "C:".
  if (separator == 2 && path[1] == L':') ++separator;
  return win32::ToUtf8(path.substr(0, separator));
}

std::optional<std::string> AppDataFolder() {
  DWORD size = ::GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (size > 1) {
    std::wstring value(size, L'\0');
    DWORD length = ::GetEnvironmentVariableW(L"APPDATA", value.data(), size);
    if (length > 0 && length < size)
      return WithoutTrailingSeparator(win32::ToUtf8(value.c_str(), length));
  }
  // A process without the variable (a service's minimal environment) still has the folder.
  PWSTR known = nullptr;
  if (::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &known) == S_OK) {
    std::string folder = win32::ToUtf8(known, ::wcslen(known));
    ::CoTaskMemFree(known);
    return WithoutTrailingSeparator(folder);
  }
  ::CoTaskMemFree(known);
  return std::nullopt;
}

std::optional<std::string> TempFolder() {
  wchar_t buffer[MAX_PATH + 2];
  DWORD length = ::GetTempPathW(MAX_PATH + 2, buffer);
  if (length == 0 || length > MAX_PATH + 1) return std::nullopt;
  return WithoutTrailingSeparator(win32::ToUtf8(buffer, length));
}

}  // namespace velmora::platform
