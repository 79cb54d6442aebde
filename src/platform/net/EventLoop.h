#pragma once
// The single event dispatcher of the process: one Asio io_context, driven one pass at a time by
// the application's main loop. Everything it calls runs on the loop's thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/net/LoopMember.h"
#include "platform/net/Timer.h"

namespace velmora::platform {

class ManualClock;

class EventLoop {
 public:
  // How many messages one connection may have delivered in one pass, one per round across all
  // connections with queued messages, so that a busy connection never holds the others back.
  static constexpr int kDeliveryRounds = 64;
  // How long one pass may spend delivering before it goes on to writing and to the next pass.
  // A storm of log-ins, each with its log lines, would otherwise hold every other connection up
  // for as long as it takes to handle them all.
  static constexpr std::chrono::microseconds kDeliveryBudget{4000};

  static EventLoop& Instance();

  // One pass of the main loop: handle the socket, timer and signal events that are ready,
  // waiting for the first one at most `maxWaitMs` (and not at all while a connection has a
  // queued message, unread input or unsent output); then deliver queued messages, up to
  // kDeliveryRounds rounds of one message per connection; then hand every connection's queued
  // output to the kernel.
  void RunOnce(int maxWaitMs);
  // Counts passes; a pass's work can be told from the next's.
  uint64_t Pass() const { return pass_; }

  // Runs `work` on the loop's thread during a later pass. Safe to call from any thread.
  void Post(std::function<void()> work);
  // Tells `waiter` in a later handler that its channel may go on (reading, or writing).
  void PostReady(std::shared_ptr<ChannelWaiter> waiter, bool writable) {
    Post([waiter = std::move(waiter), writable] { waiter->ChannelReady(writable); });
  }
  // Tests that count what one pass delivers give it all the time it needs.
  void SetDeliveryBudget(std::chrono::microseconds budget) { deliveryBudget_ = budget; }

  // The loop's time: the steady clock's, or a test's ManualClock's while one is installed.
  std::chrono::steady_clock::time_point Now() const;
  // The test's clock that timers and passes go by; nothing in service.
  ManualClock* ManualTime() const { return clock_; }

  // Runs `work` at the start of the next pass, after this one's writes.
  void NextPass(std::function<void()> work);
  // Runs `work` on the loop's thread once `delay` has passed, unless the handle returned has
  // gone first: whoever starts a timer keeps its handle.
  [[nodiscard]] Timer After(std::chrono::milliseconds delay, std::function<void()> work);
  // Runs `handler` on the loop's thread whenever the process receives `signalNumber`.
  void OnSignal(int signalNumber, std::function<void()> handler);

  // The poll list: members registered here get their queued messages delivered.
  void AddToPollList(LoopMember& member) { member.LoopLists({}).poll = true; }
  void RemoveFromPollList(LoopMember& member) { member.LoopLists({}).poll = false; }
  bool IsOnPollList(const LoopMember& member) const { return member.LoopLists({}).poll; }
  // A registered member has a queued message: deliver in the next delivery rounds.
  void RequestDelivery(LoopMember& member);
  // Input left to read in the next pass; output to flush at the end of this one.
  void RequestRead(LoopMember& member);
  void RequestFlush(LoopMember& member);

  // Whether the next pass must not wait.
  bool HasPendingWork() const;

  // What every connection on the loop has moved, for monitoring.
  struct Traffic {
    uint64_t bytesSent = 0;
    uint64_t bytesReceived = 0;
  };
  Traffic& TrafficTotals() { return traffic_; }

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  EventLoop();
  ~EventLoop();
  void ReadPending();
  void Deliver();
  void FlushWrites();

  std::unique_ptr<Impl> impl_;
  std::vector<std::shared_ptr<LoopMember>> toRead_;
  std::vector<std::shared_ptr<LoopMember>> toDeliver_;
  std::vector<std::shared_ptr<LoopMember>> toFlush_;
  std::vector<std::function<void()>> nextPass_;
  uint64_t pass_ = 0;
  std::chrono::microseconds deliveryBudget_ = kDeliveryBudget;
  Traffic traffic_;
  friend class ManualClock;  // installs itself
  ManualClock* clock_ = nullptr;
};

}  // namespace velmora::platform
