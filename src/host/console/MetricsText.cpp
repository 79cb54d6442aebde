#include "host/console/MetricsText.h"

#include <array>
#include <charconv>
#include <set>
#include <string_view>
#include <utility>

#include "base/Utf8Text.h"
#include "host/BuildVersion.h"

namespace velmora::console {

namespace {

// Label values may hold any text; the format wants UTF-8 with \, " and line feeds escaped.
std::string LabelValue(std::string_view raw) {
  std::string escaped;
  for (char c : ValidUtf8(raw)) {
    if (c == '\\') escaped += "\\\\";
    else if (c == '"') escaped += "\\\"";
    else if (c == '\n') escaped += "\\n";
    else escaped += c;
  }
  return escaped;
}

std::string Seconds(uint64_t microseconds) {
  char text[32];
  auto end = std::to_chars(text, text + sizeof text, static_cast<double>(microseconds) / 1e6).ptr;
  return std::string(text, end);
}

class Writer {
 public:
  void Family(std::string_view name, std::string_view type, std::string_view help) {
    out_ += "# HELP velmora_";
    out_ += name;
    out_ += ' ';
    out_ += help;
    out_ += "\n# TYPE velmora_";
    out_ += name;
    out_ += ' ';
    out_ += type;
    out_ += '\n';
  }
  // `labels` is the text between the braces, already escaped; empty for none.
  void Sample(std::string_view name, const std::string& labels, const std::string& value) {
    out_ += "velmora_";
    out_ += name;
    if (!labels.empty()) {
      out_ += '{';
      out_ += labels;
      out_ += '}';
    }
    out_ += ' ';
    out_ += value;
    out_ += '\n';
  }
  void Sample(std::string_view name, const std::string& labels, uint64_t value) {
    Sample(name, labels, std::to_string(value));
  }
  void Single(std::string_view name, std::string_view type, std::string_view help,
              uint64_t value) {
    Family(name, type, help);
    Sample(name, "", value);
  }
  template <size_t N>
  void ByLabel(std::string_view name, std::string_view help, std::string_view label,
               const std::array<std::string_view, N>& values,
               const std::array<uint64_t, N>& counts) {
    Family(name, "counter", help);
    for (size_t i = 0; i < N; ++i)
      Sample(name, std::string(label) + "=\"" + std::string(values[i]) + "\"", counts[i]);
  }
  void Summary(std::string_view name, std::string_view help, uint64_t microseconds,
               uint64_t count) {
    Family(name, "summary", help);
    Sample(std::string(name) + "_sum", "", Seconds(microseconds));
    Sample(std::string(name) + "_count", "", count);
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

template <size_t N>
uint64_t Sum(const std::array<uint64_t, N>& counts) {
  uint64_t sum = 0;
  for (auto count : counts) sum += count;
  return sum;
}

void WriteNetworks(Writer& out, const ConsoleSnapshot& snapshot) {
  // Two networks may share a name; their series are told apart by the port, and a network that
  // repeats both is left out rather than written twice.
  std::vector<std::pair<std::string, const NetworkView*>> labelled;
  std::set<std::string> seen;
  for (auto& network : snapshot.Networks) {
    std::string labels = "network=\"" + LabelValue(network.Name) + "\",port=\"" +
                         std::to_string(network.Port) + "\"";
    if (seen.insert(labels).second) labelled.emplace_back(std::move(labels), &network);
  }
  out.Family("network_members", "gauge", "Members logged in, per network.");
  for (auto& [labels, network] : labelled)
    out.Sample("network_members", labels, network->Members.size());
  out.Family("network_seats_used", "gauge", "Seats taken, per network.");
  for (auto& [labels, network] : labelled)
    out.Sample("network_seats_used", labels, std::to_string(network->SeatsUsed));
  out.Family("network_seats_capacity", "gauge", "Seats a network has.");
  for (auto& [labels, network] : labelled)
    out.Sample("network_seats_capacity", labels, std::to_string(network->Capacity));
}

}  // namespace

std::string MetricsText(const ConsoleSnapshot& snapshot) {
  Writer out;
  const ServerCounters& counters = snapshot.Counters;

  // The usual pair a scraper joins other series with: which build answers, and since when.
  out.Family("build_info", "gauge", "The server's version, as a label; the value is always 1.");
  out.Sample("build_info", "version=\"" + LabelValue(BuildVersion()) + "\"", uint64_t{1});
  out.Single("start_time_seconds", "gauge", "When the server started, in seconds since 1970.",
             static_cast<uint64_t>(snapshot.StartedAt));

  out.Family("connections", "gauge", "Client connections, by where they stand in the dialogue.");
  out.Sample("connections", "state=\"waiting_for_lookup\"", snapshot.Connections.WaitingForLookup);
  out.Sample("connections", "state=\"logging_in\"", snapshot.Connections.LoggingIn);
  out.Sample("connections", "state=\"logged_in\"", snapshot.Connections.LoggedIn);
  out.Single("output_queue_bytes", "gauge", "Bytes waiting in the connections' output queues.",
             snapshot.OutputQueueBytes);
  WriteNetworks(out, snapshot);

  out.Family("messages_received_total", "counter", "Messages received from clients, by code.");
  for (size_t slot = 0; slot < kCountedCodes.size(); ++slot)
    out.Sample("messages_received_total", "code=\"" + std::to_string(kCountedCodes[slot]) + "\"",
               counters.MessagesReceived[slot]);
  out.Sample("messages_received_total", "code=\"other\"",
             counters.MessagesReceived[ServerCounters::kOtherCodeSlot]);
  out.Single("deliveries_total", "counter", "Messages handed to members' connections.",
             counters.Deliveries);
  out.Single("sent_bytes_total", "counter", "Bytes sent to clients.", counters.BytesSent);
  out.Single("received_bytes_total", "counter", "Bytes received from clients.",
             counters.BytesReceived);
  out.ByLabel("logins_total", "Log-ins, by outcome.", "outcome", kLoginOutcomeNames,
              counters.Logins);
  out.ByLabel("departures_total", "Connections ended, by reason.", "reason",
              kDepartureReasonNames, counters.Departures);
  out.ByLabel("location_lookups_total", "Address location lookups, by outcome.", "outcome",
              kLookupOutcomeNames, counters.LocationLookups);
  out.Summary("location_lookup_duration_seconds", "Time address location lookups took.",
              counters.LocationLookupMicroseconds, Sum(counters.LocationLookups));
  out.Summary("network_file_rewrite_duration_seconds", "Time network file rewrites took.",
              counters.NetworkFileRewriteMicroseconds, counters.NetworkFileRewrites);
  out.Single("network_file_rewrite_failures_total", "counter",
             "Network file rewrites that failed.", counters.NetworkFileRewriteFailures);
  out.Single("bans_recorded_total", "counter", "Bans recorded.", counters.BansRecorded);
  out.Single("conflated_positions_total", "counter",
             "Position reports replaced by a newer one before they were sent.",
             counters.ConflatedPositions);
  out.Single("positions_throttled_total", "counter",
             "Position reports that came faster than MaxPositionsPerSecond allows.",
             counters.ThrottledPositions);
  return out.Take();
}

}  // namespace velmora::console
