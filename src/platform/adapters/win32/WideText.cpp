#include "platform/adapters/win32/WideText.h"

#include <windows.h>

namespace velmora::platform::win32 {

std::string ToUtf8(const wchar_t* text, size_t length) {
  if (length == 0) return {};
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                   nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), size, nullptr,
                        nullptr);
  return result;
}

}  // namespace velmora::platform::win32
