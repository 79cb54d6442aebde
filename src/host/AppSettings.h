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
  // Reads the file again for the one entry `name`, which then follows the file: taken when the
  // file has it, forgotten when the file has it no more. An unreadable file changes nothing.
  void Reread(const std::string& name);
  void Save();
  void SetValue(const std::string& name, const std::string& value);

  // The settings in memory, in the order they were first stored.
  std::vector<std::pair<std::string, std::string>> Values;

  // Where the file lives; empty means beside the executable. Tests point it elsewhere.
  std::string FilePath;

 private:
  std::string Location() const;
  // The entries of the file in order, the later of two of one name winning; nothing when the
  // file cannot be read or parsed.
  std::optional<std::vector<std::pair<std::string, std::string>>> ReadFile() const;
};

}  // namespace velmora
