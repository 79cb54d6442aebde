#include "host/AppSettings.h"

#include <algorithm>

#include "platform/adapters/FileError.h"
#include "platform/adapters/FileSystem.h"
#include "platform/adapters/XmlDocument.h"

namespace velmora {

std::string AppSettings::Location() const {
  if (!FilePath.empty()) return FilePath;
  auto folder = platform::ExecutableFolder();
  if (!folder) return {};
  return platform::JoinPath(*folder, "velmora.conf");
}

std::string AppSettings::GetValue(const std::string& name, const std::string& defaultValue) {
  for (auto& [key, value] : Values)
    if (key == name) return value;
  Values.emplace_back(name, defaultValue);
  return defaultValue;
}

std::optional<std::string> AppSettings::Find(const std::string& name) const {
  for (auto& [key, value] : Values)
    if (key == name) return value;
  return std::nullopt;
}

void AppSettings::Put(const std::string& name, const std::string& value) {
  auto known = std::find_if(Values.begin(), Values.end(),
                            [&](const auto& entry) { return entry.first == name; });
  if (known != Values.end())
    known->second = value;
  else
    Values.emplace_back(name, value);
}

void AppSettings::SetValue(const std::string& name, const std::string& value) {
  Put(name, value);
  Save();
}

void AppSettings::Load() {
  Values.clear();
  std::string path = Location();
  if (path.empty()) return;
  if (!platform::FileExists(path)) SetValue("Port", "12000");
  auto entries = ReadFile();
  if (!entries) return;  // unreadable: start-up goes on with what the store holds
  // The later of two of one name wins.
  for (auto& [name, value] : *entries) Put(name, value);
}

bool AppSettings::Reread(const std::vector<std::string>& names) {
  auto entries = ReadFile();
  if (!entries || entries->empty()) return false;
  for (const std::string& name : names) {
    std::optional<std::string> fresh;
    for (auto& [key, value] : *entries)
      if (key == name) fresh = value;
    if (fresh)
      Put(name, *fresh);
    else
      std::erase_if(Values, [&](const auto& entry) { return entry.first == name; });
  }
  return true;
}

std::optional<std::vector<std::pair<std::string, std::string>>> AppSettings::ReadFile() const {
  std::string path = Location();
  if (path.empty()) return std::nullopt;
  std::string text;
  try {
    text = platform::ReadWholeFile(path);
  } catch (const platform::FileError&) {
    return std::nullopt;
  }
  platform::XmlDocument document;
  if (!document.Parse(text, false).ok) return std::nullopt;
  auto root = document.Root();
  if (!root) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> entries;
  for (auto child = root.FirstChild(); child; child = child.NextSibling()) {
    if (!child.IsElement()) continue;
    entries.emplace_back(child.AttributeOrEmpty("namestring"),
                         child.AttributeOrEmpty("valuestring"));
  }
  return entries;
}

void AppSettings::Save() {
  std::string path = Location();
  if (path.empty()) return;
  platform::XmlDocument document;
  auto root = document.AppendRoot("settings");
  for (auto& [name, value] : Values) {
    auto setting = root.AppendElement("setting");
    setting.SetAttribute("namestring", name);
    setting.SetAttribute("valuestring", value);
  }
  try {
    platform::WriteFileAtomically(path, document.Serialize(false));
  } catch (const platform::FileError&) {
    // A settings file that cannot be written is ignored; the store in memory stays as it is.
  }
}

}  // namespace velmora
