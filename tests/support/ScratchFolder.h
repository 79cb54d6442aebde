#pragma once
// A folder of the test's own under the system's temporary folder ($TMPDIR, else /tmp): the only
// place a test writes to. It goes, with everything in it, when the object goes.
#include <string>
#include <string_view>

namespace velmora::testing {

class ScratchFolder {
 public:
  // A new folder named `prefix` and a random suffix, by its canonical path: the server names
  // its files by the real path of its executable, so a test must see the same path.
  explicit ScratchFolder(std::string_view prefix = "velmora");
  // Removes the folder, giving back any write permission a test took away. Set VELMORA_KEEP_E2E
  // to keep it for a look after the run.
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  // The path of `name` inside the folder.
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

}  // namespace velmora::testing
