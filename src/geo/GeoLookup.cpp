#include "geo/GeoLookup.h"

#include <algorithm>
#include <utility>

#include "geo/GeoReply.h"
#include "platform/net/EventLoop.h"
#include "platform/adapters/FileError.h"
#include "platform/adapters/FileSystem.h"
#include "platform/adapters/GifImage.h"
#include "platform/adapters/HttpClient.h"

#ifndef VELMORA_GEO_HOST
#define VELMORA_GEO_HOST ""
#endif
#ifndef VELMORA_FLAG_HOST
#define VELMORA_FLAG_HOST ""
#endif

namespace velmora {

namespace {

constexpr const char* kLocationPath = "/IpLocator.htm?GetLocation&template=php3.txt&IpAddress=";
constexpr const char* kFlagPath = "/flag.php?ip=";

platform::HttpRequest LocationRequest(const std::string& host, const std::string& address,
                                      const GeoLookup::Timings& timings) {
  platform::HttpRequest request;
  request.Host = host;
  request.Path = kLocationPath + address;
  request.InactivityTimeout = timings.Inactivity;
  request.TotalTimeout = timings.LocationTotal;
  return request;
}

platform::HttpRequest FlagRequest(const std::string& host, const std::string& address,
                                  const GeoLookup::Timings& timings) {
  platform::HttpRequest request;
  request.Host = host;
  request.Path = kFlagPath + address;
  request.InactivityTimeout = timings.Inactivity;
  request.TotalTimeout = timings.FlagTotal;
  return request;
}

void Take(std::optional<std::string>& field, std::optional<std::string>& from) {
  if (from) field = std::move(from);
}

}  // namespace

struct GeoLookup::Lookup {
  Ticket ticket = 0;
  std::string address;
  Done done;
  std::chrono::steady_clock::time_point asked;
  // How the location request ended; nothing while it runs, and when none was made.
  std::optional<LookupOutcome> outcome;
  ClientLocation location;
  platform::HttpClient::RequestId locationRequest = 0;
  platform::HttpClient::RequestId flagRequest = 0;
  int requestsOut = 0;
  platform::Timer queueWait;  // while waiting for its turn
};

GeoLookup::GeoLookup(ServerCounters& counters)
    : counters_(counters),
      geoHost_(VELMORA_GEO_HOST), flagHost_(VELMORA_FLAG_HOST) {}

GeoLookup::~GeoLookup() {
  // A cancelled request never calls back, even when its answer is on its way.
  if (running_.empty()) return;  // nothing asked: the HTTP client may never have been made
  auto& http = platform::HttpClient::Instance();
  for (auto& [ticket, lookup] : running_) {
    if (lookup->locationRequest != 0) http.Cancel(lookup->locationRequest);
    if (lookup->flagRequest != 0) http.Cancel(lookup->flagRequest);
  }
}

void GeoLookup::SetHosts(std::string geoHost, std::string flagHost) {
  geoHost_ = std::move(geoHost);
  flagHost_ = std::move(flagHost);
}

void GeoLookup::SetMaxInFlight(size_t limit) {
  maxInFlight_ = limit == 0 ? 1 : limit;
  StartQueued();
}

void GeoLookup::SetFlagFolder(std::optional<std::string> folder) {
  flagFolder_ = std::move(folder);
}

std::optional<std::string> GeoLookup::FlagFolder() const {
  return flagFolder_ ? flagFolder_ : platform::TempFolder();
}

GeoLookup::Ticket GeoLookup::Locate(const std::string& address, Done done) {
  auto lookup = std::make_unique<Lookup>();
  lookup->ticket = nextTicket_++;
  lookup->address = address;
  lookup->done = std::move(done);
  lookup->asked = std::chrono::steady_clock::now();
  Ticket ticket = lookup->ticket;
  queued_.push_back(std::move(lookup));
  StartQueued();
  if (!queued_.empty() && queued_.back()->ticket == ticket)
    queued_.back()->queueWait = platform::EventLoop::Instance().After(
        timings_.MaxQueueWait, [this, ticket] { GiveUpWaiting(ticket); });
  return ticket;
}

void GeoLookup::GiveUpWaiting(Ticket ticket) {
  auto waiting = std::find_if(queued_.begin(), queued_.end(),
                              [ticket](const auto& lookup) { return lookup->ticket == ticket; });
  if (waiting == queued_.end()) return;  // started, or cancelled, meanwhile
  std::unique_ptr<Lookup> given = std::move(*waiting);
  queued_.erase(waiting);
  if (!geoHost_.empty()) Count(*given, LookupOutcome::kGaveUpWaiting);
  given->done(given->location);
}

void GeoLookup::Cancel(Ticket ticket) {
  for (auto waiting = queued_.begin(); waiting != queued_.end(); ++waiting) {
    if ((*waiting)->ticket != ticket) continue;
    queued_.erase(waiting);
    return;
  }
  auto entry = running_.find(ticket);
  if (entry == running_.end()) return;
  auto& http = platform::HttpClient::Instance();
  if (entry->second->locationRequest != 0) http.Cancel(entry->second->locationRequest);
  if (entry->second->flagRequest != 0) http.Cancel(entry->second->flagRequest);
  running_.erase(entry);
  StartQueued();
}

void GeoLookup::StartQueued() {
  while (running_.size() < maxInFlight_ && !queued_.empty()) {
    auto lookup = std::move(queued_.front());
    queued_.pop_front();
    Lookup& started = *lookup;
    started.queueWait.Cancel();
    running_.emplace(started.ticket, std::move(lookup));
    Start(started);
  }
}

void GeoLookup::Start(Lookup& lookup) {
  Ticket ticket = lookup.ticket;
  // Both requests go out together; neither needs the other's answer. With both services off
  // the HTTP client is never made, nor its thread started.
  if (!geoHost_.empty()) {
    ++lookup.requestsOut;
    lookup.locationRequest = platform::HttpClient::Instance().Get(
        LocationRequest(geoHost_, lookup.address, timings_),
        [this, ticket](platform::HttpResult result) { OnLocation(ticket, std::move(result)); });
  }
  if (!flagHost_.empty() && FlagFolder()) {
    ++lookup.requestsOut;
    lookup.flagRequest = platform::HttpClient::Instance().Get(
        FlagRequest(flagHost_, lookup.address, timings_),
        [this, ticket](platform::HttpResult result) { OnFlag(ticket, std::move(result.Body)); });
  }
  if (lookup.requestsOut == 0) {
    // Nothing to ask: the answer still comes later, as it would from the services.
    ++lookup.requestsOut;
    answers_.Post([this, ticket] { RequestEnded(ticket); });
  }
}

void GeoLookup::OnLocation(Ticket ticket, platform::HttpResult result) {
  auto entry = running_.find(ticket);
  if (entry == running_.end()) return;
  ClientLocation& location = entry->second->location;
  GeoFields fields = ParseGeoReply(result.Body);
  bool named = fields.Country || fields.State || fields.City || fields.Zip || fields.TimeZone;
  switch (result.Outcome) {
    case platform::HttpOutcome::kComplete:
      entry->second->outcome = named ? LookupOutcome::kLocated : LookupOutcome::kNotLocated;
      break;
    case platform::HttpOutcome::kTimedOut:
      entry->second->outcome = LookupOutcome::kTimedOut;
      break;
    case platform::HttpOutcome::kFailed:
    case platform::HttpOutcome::kTooLarge:
      entry->second->outcome = LookupOutcome::kFailed;
      break;
  }
  Take(location.Country, fields.Country);
  Take(location.State, fields.State);
  Take(location.City, fields.City);
  Take(location.Zip, fields.Zip);
  Take(location.TimeZone, fields.TimeZone);
  entry->second->locationRequest = 0;
  RequestEnded(ticket);
}

void GeoLookup::OnFlag(Ticket ticket, std::string body) {
  auto entry = running_.find(ticket);
  if (entry == running_.end()) return;
  entry->second->flagRequest = 0;
  // The picture is taken from memory; the file is only the record of the last flag, written
  // whole under a fresh name and renamed into place, so that no two downloads mix in it and a
  // link planted at its name is replaced rather than followed.
  if (auto folder = FlagFolder()) {
    platform::AtomicWriteOptions options;
    options.privateFile = true;
    options.durable = false;
    try {
      platform::WriteFileAtomically(platform::JoinPath(*folder, kFlagFileName), body, options);
    } catch (const platform::FileError&) {
      // The record is lost; the picture itself is not.
    }
  }
  if (auto picture = platform::DecodeGif(body))
    entry->second->location.Flag = std::make_shared<const platform::Picture>(std::move(*picture));
  RequestEnded(ticket);
}

void GeoLookup::RequestEnded(Ticket ticket) {
  auto entry = running_.find(ticket);
  if (entry == running_.end()) return;
  if (--entry->second->requestsOut > 0) return;
  std::unique_ptr<Lookup> finished = std::move(entry->second);
  running_.erase(entry);
  if (finished->outcome) Count(*finished, *finished->outcome);
  StartQueued();
  // Called last: the callback may start or cancel lookups of its own.
  finished->done(finished->location);
}

void GeoLookup::Count(const Lookup& lookup, LookupOutcome outcome) {
  auto took = std::chrono::steady_clock::now() - lookup.asked;
  auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
  counters_.CountLookup(outcome, static_cast<uint64_t>(microseconds));
}

}  // namespace velmora
