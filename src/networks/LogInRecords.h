#pragma once
// Recording log-ins in a network file: the address each user logged in from, and the users the
// file does not know yet. A whole batch of log-ins is recorded with one rewrite of the file.
// Nothing here logs or touches a network's records, so it may run on any thread; the caller
// acts on the outcomes (ServerNetworks::TakeOutcome).
#include <cstddef>
#include <string>
#include <vector>

#include "networks/NetworkFiles.h"

namespace velmora {

struct LogInRecord {
  std::string username;
  std::string address;
};

// What recording one log-in came to.
struct RecordOutcome {
  // The file read lists nobody of that name, so the network is due a record of the user.
  bool newUser = false;
  // The file could not take the log-in: the rewrite failed, the file cannot hold the name, or
  // it would outgrow the size the server loads.
  bool failed = false;
  // An administrator's element of that name keeps its own address, as the log-in came from
  // another: one entry per such element, its address.
  std::vector<std::string> keptAdminAddresses;
};

struct BatchOutcome {
  // One per log-in, in order; all empty when the file is gone, unreadable or holds no network.
  std::vector<RecordOutcome> logIns;
  // Whether the file was replaced; a batch that changes nothing leaves it as it is.
  bool rewritten = false;
};

// Records `logIns`, in order, in the network file at `path`, flushed to disk by the time this
// returns. The file is read afresh, so an administrator's edits since start-up survive. The
// file is never made larger than `maxBytes`.
BatchOutcome RecordLogIns(const std::string& path, const std::vector<LogInRecord>& logIns,
                          size_t maxBytes = kMaxNetworkFileBytes);

}  // namespace velmora
