#include "support/ScratchFolder.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace velmora::testing {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(std::string_view prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
  path_ = fs::canonical(pattern).string();
}

ScratchFolder::~ScratchFolder() {
  if (std::getenv("VELMORA_KEEP_E2E") != nullptr) return;
  std::error_code ignored;
  // A test may have taken write permission away from a folder inside to make writes fail.
  for (auto entry = fs::recursive_directory_iterator(path_, ignored);
       entry != fs::recursive_directory_iterator(); entry.increment(ignored))
    if (entry->is_directory(ignored) && !entry->is_symlink(ignored))
      fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

}  // namespace velmora::testing
