#include "protocol/AdminPayloads.h"

#include "protocol/PayloadFields.h"

namespace velmora {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    fields.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

}  // namespace

UserAndReason ReadUserAndReason(std::string_view payload) {
  return {std::string(PayloadField(payload, '|', 0)), std::string(PayloadField(payload, '|', 1))};
}

std::string UserAndReasonPayload(std::string_view user, std::string_view reason) {
  std::string payload(user);
  payload += '|';
  payload += reason;
  return payload;
}

void AppendBanListEntry(std::string& out, const BanListEntry& entry) {
  out += entry.Id;
  out += '|';
  out += entry.Address;
  out += '|';
  out += entry.By;
  out += '|';
  out += entry.Reason;
  out += '|';
  out += entry.When;
  out += '\0';
}

std::vector<BanListEntry> ReadBanList(std::string_view payload) {
  std::vector<BanListEntry> entries;
  size_t start = 0;
  while (start < payload.size()) {
    size_t end = payload.find('\0', start);
    if (end == std::string_view::npos) end = payload.size();  // a last entry without its 0x00
    auto fields = Split(payload.substr(start, end - start), '|');
    start = end + 1;
    if (fields.size() < 5) continue;
    BanListEntry entry;
    // Names hold no "|", but a reason given through the operator's console may: the reason is
    // what lies between the name and the date.
    entry.Id = std::string(fields[0]);
    entry.Address = std::string(fields[1]);
    entry.By = std::string(fields[2]);
    entry.When = std::string(fields.back());
    for (size_t i = 3; i + 1 < fields.size(); ++i) {
      if (i > 3) entry.Reason += '|';
      entry.Reason += fields[i];
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace velmora
