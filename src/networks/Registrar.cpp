#include "networks/Registrar.h"

#include <exception>

#include "networks/ServerNetworks.h"
#include "platform/net/EventLoop.h"
#include "protocol/ServerCounters.h"

namespace velmora {

Registrar::Registrar(ServerCounters& counters)
    : counters_(counters), worker_(kRewriters) {}

Registrar::~Registrar() = default;

void Registrar::Record(ServerNetworks& network, const std::string& username,
                       const std::string& address, Recorded recorded) {
  if (network.Path.empty()) {
    recorded();
    return;
  }
  File& file = files_[network.Path];
  file.gathered.push_back(LogIn{&network, LogInRecord{username, address}, std::move(recorded)});
  ++waiting_;
  // While a rewrite runs the log-ins gather anyway; it starts the next one when it ends.
  if (!file.rewriting.empty() || file.gathering.Pending()) return;
  file.gathering = platform::EventLoop::Instance().After(
      kGatherTime, [this, path = network.Path] { Start(path); });
}

void Registrar::Start(const std::string& path) {
  auto entry = files_.find(path);
  if (entry == files_.end()) return;
  File& file = entry->second;
  file.gathering.Cancel();
  if (file.gathered.empty() || !file.rewriting.empty()) return;
  file.rewriting = std::move(file.gathered);
  file.gathered.clear();
  file.started = platform::EventLoop::Instance().Now();
  ++batches_;
  // The worker gets copies of what the file needs; the callbacks and the networks stay here.
  std::vector<LogInRecord> records;
  records.reserve(file.rewriting.size());
  for (const auto& logIn : file.rewriting) records.push_back(logIn.record);
  worker_.Run([this, path, records = std::move(records)]() mutable {
    BatchOutcome outcome;
    try {
      outcome = RecordLogIns(path, records);
    } catch (const std::exception&) {
      // Out of memory or the like: nothing is known to be on disk.
      RecordOutcome failed;
      failed.failed = true;
      outcome = BatchOutcome{};
      outcome.logIns.assign(records.size(), failed);
    }
    records = {};
    return [this, path, outcome = std::move(outcome)]() mutable {
      Finish(path, std::move(outcome));
    };
  });
}

void Registrar::Finish(const std::string& path, BatchOutcome outcome) {
  File& file = files_[path];
  if (outcome.rewritten || !outcome.logIns.empty()) {
    bool failed = false;
    for (const auto& logIn : outcome.logIns) failed = failed || logIn.failed;
    auto took = platform::EventLoop::Instance().Now() - file.started;
    counters_.CountRewrite(!failed, static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
  }
  std::vector<LogIn> batch = std::move(file.rewriting);
  file.rewriting.clear();
  // The next batch goes out before these answers: it has waited a whole rewrite already.
  if (!file.gathered.empty()) Start(path);
  waiting_ -= batch.size();
  for (size_t i = 0; i < batch.size(); ++i) {
    LogIn& logIn = batch[i];
    logIn.network->TakeOutcome(logIn.record.username, logIn.record.address, outcome.logIns[i]);
    logIn.recorded();
  }
  auto idle = files_.find(path);
  if (idle != files_.end() && idle->second.gathered.empty() && idle->second.rewriting.empty() &&
      !idle->second.gathering.Pending())
    files_.erase(idle);
}

}  // namespace velmora
