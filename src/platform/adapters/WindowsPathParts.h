#pragma once
// The file-name and extension rules of the Windows shell's path helpers, for systems that lack
// them: the service name must come out the same wherever the entry runs.
namespace velmora::platform {

// Where the file name of `path` begins: after the last '\\', '/' or ':' that is followed by
// something other than another separator; `path` itself when there is none.
const wchar_t* FileNamePartOf(const wchar_t* path);
// Where the extension of `path` begins: its last '.' after which no '\\' or ' ' follows; the
// terminating zero when there is none.
const wchar_t* ExtensionPartOf(const wchar_t* path);

}  // namespace velmora::platform
