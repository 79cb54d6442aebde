#pragma once
// A bystander: one member of another network that asks the server a question (the
// administrator query, answered at once) every few milliseconds while the load runs, and times
// each answer. Its round trips show how long the server leaves everybody else waiting. It runs
// on a thread of its own, so that the generator's own bursts of work do not delay its reading.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "LatencyHistogram.h"
#include "LoadOptions.h"

namespace velmora::bench {

class RoundTripProbe {
 public:
  explicit RoundTripProbe(const LoadOptions& options);
  ~RoundTripProbe();
  RoundTripProbe(const RoundTripProbe&) = delete;
  RoundTripProbe& operator=(const RoundTripProbe&) = delete;

  // Logs in to the probe network (a few seconds at most) and starts asking; throws when the
  // server refuses or does not answer.
  void Start();
  // Stops asking (waiting at most for the answer to the question out) and prints the figures.
  void StopAndPrint(const char* phase);

 private:
  void Ask();
  // The next frame with `command`, skipping others; false when none comes within `limitMs`.
  bool Expect(int32_t command, int limitMs, std::string* data = nullptr);

  const LoadOptions& options_;
  int fd_ = -1;
  std::string in_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  LatencyHistogram roundTrips_;
  uint64_t unanswered_ = 0;
};

}  // namespace velmora::bench
