#include "platform/adapters/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/net/EventLoop.h"

namespace velmora::platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A host setting carrying a user name, a path or anything a URL would read as more than a host
// could send credentials or reach somewhere else: such a request is not made.
bool IsPlainHost(const std::string& host) {
  if (host.empty()) return false;
  for (unsigned char c : host)
    if (c <= 0x20 || c >= 0x7F || c == '/' || c == '\\' || c == '?' || c == '#' || c == '@')
      return false;
  return true;
}

struct Transfer {
  HttpClient::RequestId id = 0;
  HttpRequest request;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::string body;
  bool tooLarge = false;
  bool connected = false;
  SteadyClock::time_point started;
  SteadyClock::time_point lastActivity;

  ~Transfer() {
    if (easy != nullptr) curl_easy_cleanup(easy);
    if (headers != nullptr) curl_slist_free_all(headers);
  }

  SteadyClock::time_point Deadline() const {
    auto deadline = lastActivity + request.InactivityTimeout;
    if (request.TotalTimeout.count() > 0)
      deadline = std::min(deadline, started + request.TotalTimeout);
    return deadline;
  }
};

size_t ReceiveBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  size_t length = size * count;
  transfer->lastActivity = SteadyClock::now();
  size_t room = transfer->request.MaxBodyBytes - transfer->body.size();
  if (length > room) {
    transfer->body.append(data, room);
    transfer->tooLarge = true;
    return 0;  // stops the transfer
  }
  transfer->body.append(data, length);
  return length;
}

size_t ReceiveHeader(char* data, size_t size, size_t count, void* user) {
  static_cast<Transfer*>(user)->lastActivity = SteadyClock::now();
  return size * count;
}

}  // namespace

struct HttpClient::Impl {
  // Loop thread only.
  std::unordered_map<RequestId, Done> waiting;
  RequestId nextId = 1;

  // Shared with the worker.
  std::mutex mutex;
  std::deque<std::unique_ptr<Transfer>> incoming;
  std::vector<RequestId> cancelled;
  std::atomic<bool> stopping{false};
  CURLM* multi = nullptr;
  std::thread worker;

  // Worker thread only.
  std::deque<std::unique_ptr<Transfer>> queued;
  std::unordered_map<CURL*, std::unique_ptr<Transfer>> running;

  void Run();
  void TakeRequests();
  void StartQueued();
  bool Start(Transfer& transfer);
  void CollectFinished();
  void CheckTimeouts();
  int WaitMilliseconds() const;
  void Finish(CURL* easy, HttpOutcome outcome);
  void Hand(RequestId id, HttpResult result);
  void Deliver(RequestId id, HttpResult result);
};

HttpClient& HttpClient::Instance() {
  static HttpClient* client = new HttpClient();  // its worker lives until the process ends
  return *client;
}

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  impl_->multi = curl_multi_init();
  impl_->worker = std::thread([impl = impl_.get()] { impl->Run(); });
}

HttpClient::~HttpClient() {
  impl_->stopping = true;
  curl_multi_wakeup(impl_->multi);
  impl_->worker.join();
  impl_->queued.clear();
  for (auto& [easy, transfer] : impl_->running) curl_multi_remove_handle(impl_->multi, easy);
  impl_->running.clear();
  curl_multi_cleanup(impl_->multi);
}

HttpClient::RequestId HttpClient::Get(HttpRequest request, Done done) {
  RequestId id = impl_->nextId++;
  impl_->waiting.emplace(id, std::move(done));
  if (!IsPlainHost(request.Host)) {
    impl_->Hand(id, HttpResult{});
    return id;
  }
  auto transfer = std::make_unique<Transfer>();
  transfer->id = id;
  transfer->request = std::move(request);
  {
    std::lock_guard lock(impl_->mutex);
    impl_->incoming.push_back(std::move(transfer));
  }
  curl_multi_wakeup(impl_->multi);
  return id;
}

void HttpClient::Cancel(RequestId id) {
  if (impl_->waiting.erase(id) == 0) return;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->cancelled.push_back(id);
  }
  curl_multi_wakeup(impl_->multi);
}

void HttpClient::Impl::Hand(RequestId id, HttpResult result) {
  EventLoop::Instance().Post(
      [this, id, result = std::move(result)]() mutable { Deliver(id, std::move(result)); });
}

void HttpClient::Impl::Deliver(RequestId id, HttpResult result) {
  auto entry = waiting.find(id);
  if (entry == waiting.end()) return;  // cancelled after the worker had finished it
  Done done = std::move(entry->second);
  waiting.erase(entry);
  done(std::move(result));
}

void HttpClient::Impl::Run() {
  while (!stopping) {
    TakeRequests();
    StartQueued();
    int active = 0;
    curl_multi_perform(multi, &active);
    CollectFinished();
    CheckTimeouts();
    curl_multi_poll(multi, nullptr, 0, WaitMilliseconds(), nullptr);
  }
}

void HttpClient::Impl::TakeRequests() {
  std::vector<RequestId> drop;
  {
    std::lock_guard lock(mutex);
    for (auto& transfer : incoming) queued.push_back(std::move(transfer));
    incoming.clear();
    drop.swap(cancelled);
  }
  for (RequestId id : drop) {
    auto waitingOne = std::find_if(queued.begin(), queued.end(),
                                   [id](const auto& transfer) { return transfer->id == id; });
    if (waitingOne != queued.end()) {
      queued.erase(waitingOne);
      continue;
    }
    for (auto entry = running.begin(); entry != running.end(); ++entry) {
      if (entry->second->id != id) continue;
      curl_multi_remove_handle(multi, entry->first);
      running.erase(entry);
      break;
    }
  }
}

void HttpClient::Impl::StartQueued() {
  while (running.size() < kMaxTransfers && !queued.empty()) {
    auto transfer = std::move(queued.front());
    queued.pop_front();
    if (!Start(*transfer)) {
      Hand(transfer->id, HttpResult{std::move(transfer->body), HttpOutcome::kFailed, 0});
      continue;
    }
    CURL* easy = transfer->easy;
    running.emplace(easy, std::move(transfer));
  }
}

bool HttpClient::Impl::Start(Transfer& transfer) {
  transfer.easy = curl_easy_init();
  if (transfer.easy == nullptr) return false;
  CURL* easy = transfer.easy;
  std::string url = "http://" + transfer.request.Host + transfer.request.Path;
  transfer.headers = curl_slist_append(transfer.headers, "Accept: */*");
  transfer.headers = curl_slist_append(transfer.headers, "Accept-Language: en");
  bool ok = transfer.headers != nullptr;
  auto set = [&](CURLoption option, auto value) {
    if (curl_easy_setopt(easy, option, value) != CURLE_OK) ok = false;
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http");
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  set(CURLOPT_HTTPHEADER, transfer.headers);
  set(CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
  // The environment's proxy settings are not this program's configuration.
  set(CURLOPT_PROXY, "");
  // The worker is not the main thread: signals must not be used for resolver time-outs.
  set(CURLOPT_NOSIGNAL, 1L);
  // HTTP/1.0 without keep-alive: every request has its own connection, closed at the end.
  set(CURLOPT_FORBID_REUSE, 1L);
  set(CURLOPT_FRESH_CONNECT, 1L);
  set(CURLOPT_WRITEFUNCTION, ReceiveBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
  set(CURLOPT_HEADERFUNCTION, ReceiveHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
  if (!ok) return false;
  transfer.started = transfer.lastActivity = SteadyClock::now();
  return curl_multi_add_handle(multi, easy) == CURLM_OK;
}

void HttpClient::Impl::CollectFinished() {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    CURL* easy = message->easy_handle;
    CURLcode code = message->data.result;
    auto entry = running.find(easy);
    if (entry == running.end()) continue;
    HttpOutcome outcome = HttpOutcome::kFailed;
    if (code == CURLE_OK)
      outcome = HttpOutcome::kComplete;
    else if (entry->second->tooLarge)
      outcome = HttpOutcome::kTooLarge;
    else if (code == CURLE_OPERATION_TIMEDOUT)
      outcome = HttpOutcome::kTimedOut;
    Finish(easy, outcome);
  }
}

void HttpClient::Impl::CheckTimeouts() {
  auto now = SteadyClock::now();
  std::vector<CURL*> expired;
  for (auto& [easy, transfer] : running) {
    if (!transfer->connected) {
      // The connection being established counts as progress, as arriving data does.
      curl_off_t connectTime = 0;
      if (curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK &&
          connectTime > 0) {
        transfer->connected = true;
        transfer->lastActivity = std::max(transfer->lastActivity, now);
      }
    }
    if (now >= transfer->Deadline()) expired.push_back(easy);
  }
  for (CURL* easy : expired) Finish(easy, HttpOutcome::kTimedOut);
}

int HttpClient::Impl::WaitMilliseconds() const {
  if (running.empty()) return queued.empty() ? 60000 : 0;
  auto now = SteadyClock::now();
  auto nearest = now + std::chrono::seconds(1);
  for (auto& [easy, transfer] : running) {
    nearest = std::min(nearest, transfer->Deadline());
    // Until it is connected, look again soon: connecting restarts the wait.
    if (!transfer->connected) nearest = std::min(nearest, now + std::chrono::milliseconds(20));
  }
  auto wait = std::chrono::ceil<std::chrono::milliseconds>(nearest - now).count();
  return static_cast<int>(std::max<int64_t>(wait, 0));
}

void HttpClient::Impl::Finish(CURL* easy, HttpOutcome outcome) {
  auto entry = running.find(easy);
  if (entry == running.end()) return;
  HttpResult result;
  result.Outcome = outcome;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.Status);
  result.Body = std::move(entry->second->body);
  RequestId id = entry->second->id;
  curl_multi_remove_handle(multi, easy);
  running.erase(entry);
  Hand(id, std::move(result));
}

}  // namespace velmora::platform
