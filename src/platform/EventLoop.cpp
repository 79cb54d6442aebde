#include "platform/EventLoop.h"

#include <csignal>
#include <unordered_map>

#include "platform/AsioContext.h"
#include "platform/TcpConnection.h"

namespace velmora::platform {

namespace {
// Under a steady stream of messages, how many passes may gather output before it is written.
constexpr int kMaxPassesBetweenFlushes = 8;
}  // namespace

struct EventLoop::Impl {
  asio::io_context context{1};
  // Without outstanding work a run would return at once and the main loop would spin; with this
  // guard a pass waits its full limit when nothing is ready (a server with no listener, or one
  // whose only work is on a background thread that posts its results back).
  asio::executor_work_guard<asio::io_context::executor_type> keepWaiting{
      context.get_executor()};
  // Connections with a queued message, to be polled in the next pass (each at most once).
  std::vector<std::shared_ptr<TcpConnection>> readyToPoll;
  // Connections that stopped reading with bytes possibly left in the kernel.
  std::vector<std::shared_ptr<TcpConnection>> readyToRead;
  // Connections with output queued during this pass.
  std::vector<std::shared_ptr<TcpConnection>> readyToFlush;
  std::unordered_map<int, std::unique_ptr<asio::signal_set>> signals;
  int passesSinceFlush = 0;
};

EventLoop& EventLoop::Instance() {
  static EventLoop* loop = new EventLoop();  // lives until the process ends, like the sockets on it
  return *loop;
}

asio::io_context& IoContext() { return EventLoop::Instance().impl().context; }

EventLoop::EventLoop() : impl_(std::make_unique<Impl>()) {}
EventLoop::~EventLoop() = default;

bool EventLoop::HasPendingWork() const {
  return !impl_->readyToPoll.empty() || !impl_->readyToRead.empty() ||
         !impl_->readyToFlush.empty();
}

void EventLoop::RunOnce(int maxWaitMs) {
  auto& context = impl_->context;
  if (context.stopped()) context.restart();
  ReadPending();
  if (HasPendingWork() || maxWaitMs <= 0)
    context.poll();
  else if (context.run_one_for(std::chrono::milliseconds(maxWaitMs)) > 0)
    context.poll();
  PollReady();
  // While messages keep coming, output of a few passes is gathered into one write per
  // connection; as soon as nothing is left to deliver, everything goes out.
  if (impl_->readyToPoll.empty() || ++impl_->passesSinceFlush >= kMaxPassesBetweenFlushes) {
    impl_->passesSinceFlush = 0;
    FlushWrites();
  }
}

void EventLoop::ReadPending() {
  if (impl_->readyToRead.empty()) return;
  auto batch = std::move(impl_->readyToRead);
  impl_->readyToRead.clear();
  for (auto& connection : batch) {
    connection->readQueued_ = false;
    connection->ReadNow();
  }
}

void EventLoop::PollReady() {
  if (impl_->readyToPoll.empty()) return;
  // Requests made while polling go to the next pass: one message per connection per pass.
  auto batch = std::move(impl_->readyToPoll);
  impl_->readyToPoll.clear();
  for (auto& connection : batch) {
    connection->pollQueued_ = false;
    if (connection->onPollList_) connection->_Poll();
  }
}

void EventLoop::FlushWrites() {
  // A flush can queue nothing new, but an error it finds is handled in a later pass.
  auto batch = std::move(impl_->readyToFlush);
  impl_->readyToFlush.clear();
  for (auto& connection : batch) {
    connection->flushQueued_ = false;
    connection->FlushNow();
  }
}

void EventLoop::Post(std::function<void()> work) { asio::post(impl_->context, std::move(work)); }

void EventLoop::After(std::chrono::milliseconds delay, std::function<void()> work) {
  auto timer = std::make_shared<asio::steady_timer>(impl_->context, delay);
  timer->async_wait([timer, work = std::move(work)](const std::error_code& error) {
    if (!error) work();
  });
}

void EventLoop::OnSignal(int signalNumber, std::function<void()> handler) {
  auto set = std::make_unique<asio::signal_set>(impl_->context, signalNumber);
  auto* raw = set.get();
  impl_->signals[signalNumber] = std::move(set);
  struct Rearm {
    asio::signal_set* set;
    std::function<void()> handler;
    void operator()(const std::error_code& error, int) {
      if (error) return;
      handler();
      set->async_wait(*this);
    }
  };
  raw->async_wait(Rearm{raw, std::move(handler)});
}

void EventLoop::AddToPollList(const std::shared_ptr<TcpConnection>& connection) {
  connection->onPollList_ = true;
}

void EventLoop::RemoveFromPollList(TcpConnection& connection) { connection.onPollList_ = false; }

bool EventLoop::IsOnPollList(const TcpConnection& connection) const {
  return connection.onPollList_;
}

void EventLoop::RequestPoll(TcpConnection& connection) {
  if (connection.pollQueued_ || !connection.onPollList_) return;
  connection.pollQueued_ = true;
  impl_->readyToPoll.push_back(connection.shared_from_this());
}

void EventLoop::RequestRead(TcpConnection& connection) {
  if (connection.readQueued_) return;
  connection.readQueued_ = true;
  impl_->readyToRead.push_back(connection.shared_from_this());
}

void EventLoop::RequestFlush(TcpConnection& connection) {
  if (connection.flushQueued_) return;
  connection.flushQueued_ = true;
  impl_->readyToFlush.push_back(connection.shared_from_this());
}

}  // namespace velmora::platform
