// The settings reader. The input is written as the settings file (or the file is left out);
// Load must take whatever it finds without failing, and Save followed by Load must give back
// exactly the entries the store held, in their order, also after a value is set or a default
// is stored; what Save writes must be well-formed XML to a conforming parser. A file that is
// not well-formed gives nothing. GetValue never writes the file.
#include <filesystem>

#include "FuzzSupport.h"
#include "host/AppSettings.h"
#include "platform/adapters/XmlDocument.h"
#include "platform/adapters/XmlWellFormedness.h"

namespace velmora::fuzz {
namespace {

std::string Show(const std::vector<std::pair<std::string, std::string>>& values) {
  std::string text;
  for (auto& [name, value] : values) text += "[" + name + "=" + value + "]";
  return text.substr(0, 300);
}

// The store only ever holds text read from a well-formed file or chosen by the server: UTF-8 of
// characters XML holds. Other text keeps its printable ASCII.
std::string Text(ByteReader& input, size_t max) {
  std::string text = input.Text(max);
  if (!platform::XmlDocument().Carries(text))
    std::erase_if(text, [](unsigned char c) {
      return c >= 0x80 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r');
    });
  return text;
}

}  // namespace
}  // namespace velmora::fuzz

using namespace velmora;
using namespace velmora::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = ScratchFolder() + "/velmora.conf";
  ByteReader input(data, size);
  uint8_t mode = input.Byte();
  std::string setName = Text(input, 16), setValue = Text(input, 16);
  std::string askName = Text(input, 16), askDefault = Text(input, 16);
  std::string content = input.Rest();

  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  bool fileExists = mode & 1;
  if (fileExists) WriteFile(path, content);

  AppSettings settings;
  settings.FilePath = path;
  settings.Load();
  if (fileExists && !platform::CheckXmlWellFormed(content).ok)
    FUZZ_CHECK(settings.Values.empty(), "a file that is not well-formed gave " + Show(settings.Values));
  if (!fileExists)
    FUZZ_CHECK(settings.Values.size() == 1 && settings.Values[0].first == "Port" &&
                   settings.Values[0].second == "12000" && std::filesystem::exists(path),
               "a first start holds " + Show(settings.Values));
  for (size_t i = 0; i < settings.Values.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      FUZZ_CHECK(settings.Values[i].first != settings.Values[j].first,
                 "the name " + settings.Values[i].first + " is stored twice");

  if (mode & 2) {
    std::string before = ReadFile(path);
    std::string got = settings.GetValue(askName, askDefault);
    FUZZ_CHECK(ReadFile(path) == before, "GetValue wrote the file");
    FUZZ_CHECK(settings.GetValue(askName, askDefault + "x") == got, "GetValue forgot its value");
  }
  if (mode & 4) {
    settings.SetValue(setName, setValue);
    FUZZ_CHECK(settings.GetValue(setName, "") == setValue, "SetValue did not store the value");
  }

  auto held = settings.Values;
  settings.Save();
  auto saved = platform::CheckXmlWellFormed(ReadFile(path));
  FUZZ_CHECK(saved.ok, "saved " + Show(held) + " as a file that is not well-formed: " + saved.message);
  settings.Load();
  FUZZ_CHECK(settings.Values == held,
             "saved " + Show(held) + ", loaded back " + Show(settings.Values));
  return 0;
}
