#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// The store of named settings, kept in velmora.conf beside the executable.
class AppSettings {
 public:
  std::string GetValue(const std::string& name, const std::string& defaultValue);
  // The value stored under `name`, or nothing; unlike GetValue it stores nothing, so a setting
  // that is off unless given leaves no empty entry in the file.
  std::optional<std::string> Find(const std::string& name) const;
  void Load();
  // Reads the file again for the entries `names`, which then follow the file: taken when the
  // file has them, forgotten when it has them no more. A file that cannot be read or holds no
  // entry at all (one being edited may, for a moment) changes nothing, and gives false.
  bool Reread(const std::vector<std::string>& names);
  void Save();
  void SetValue(const std::string& name, const std::string& value);

  // The settings in memory, in the order they were first stored.
  std::vector<std::pair<std::string, std::string>> Values;

  // Where the file lives; empty means beside the executable. Tests point it elsewhere.
  std::string FilePath;

 private:
  std::string Location() const;
  // Stores `value` under `name` in memory only.
  void Put(const std::string& name, const std::string& value);
  // The entries of the file in order, a name possibly more than once; nothing when the file
  // cannot be read or parsed.
  std::optional<std::vector<std::pair<std::string, std::string>>> ReadFile() const;
};

}  // namespace velmora
