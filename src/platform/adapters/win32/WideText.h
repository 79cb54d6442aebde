#pragma once
// UTF-16 text of the Windows interfaces to the UTF-8 that the rest of the server speaks.
#include <string>

namespace velmora::platform::win32 {

std::string ToUtf8(const wchar_t* text, size_t length);
inline std::string ToUtf8(const std::wstring& text) { return ToUtf8(text.data(), text.size()); }

}  // namespace velmora::platform::win32
