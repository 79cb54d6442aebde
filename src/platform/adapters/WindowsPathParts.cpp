#include "platform/adapters/WindowsPathParts.h"

namespace velmora::platform {

namespace {
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
}  // namespace

const wchar_t* FileNamePartOf(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
    // A trailing separator does not start an empty name: "C:\\dir\\" names "dir\\".
    if ((IsSeparator(*p) || *p == L':') && p[1] != L'\0' && !IsSeparator(p[1])) name = p + 1;
  }
  return name;
}

const wchar_t* ExtensionPartOf(const wchar_t* path) {
  const wchar_t* dot = nullptr;
  const wchar_t* p = path;
  for (; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L' ')
      dot = nullptr;
    else if (*p == L'.')
      dot = p;
  }
  return dot != nullptr ? dot : p;
}

}  // namespace velmora::platform
