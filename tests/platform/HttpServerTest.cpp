#include "platform/adapters/HttpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "support/HttpProbe.h"

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;
using testing::Exchange;
using testing::GetRequest;
using testing::HttpProbe;
using testing::PostRequest;

// A server on 127.0.0.1 whose handler keeps every request it saw.
struct RecordingServer {
  explicit RecordingServer(HttpServerLimits limits = {})
      : server(
            [this](const HttpServerRequest& request) {
              std::lock_guard lock(mutex);
              seen.push_back(request);
              if (request.Path == "/throw") throw std::runtime_error("handler failed");
              HttpServerResponse response = HttpServerResponse::Text(201, "made");
              response.Headers.emplace_back("X-Answer", "yes");
              return response;
            },
            limits) {
    server.Start("127.0.0.1", 0);
  }
  std::vector<HttpServerRequest> Seen() {
    std::lock_guard lock(mutex);
    return seen;
  }

  std::mutex mutex;
  std::vector<HttpServerRequest> seen;
  HttpServer server;
};

TEST(HttpServer, HandsTheRequestOverAsPlainFieldsAndSendsTheAnswer) {
  RecordingServer recording;
  uint16_t port = recording.server.Port();
  ASSERT_NE(port, 0);

  auto answer = Exchange(port, GetRequest("/api/a%2Fb/x?q=1", "X-Thing: One\r\nCookie: k=v\r\n"));
  EXPECT_EQ(answer.Status, 201);
  EXPECT_EQ(answer.Body, "made");
  EXPECT_EQ(answer.Header("X-Answer"), "yes");
  EXPECT_EQ(answer.Header("Content-Type"), "text/plain; charset=utf-8");

  auto posted = Exchange(port, PostRequest("/p", R"({"a":1})"));
  EXPECT_EQ(posted.Status, 201);

  auto seen = recording.Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Method, "GET");
  EXPECT_EQ(seen[0].Path, "/api/a%2Fb/x");
  EXPECT_EQ(seen[0].PathSegments, (std::vector<std::string>{"api", "a/b", "x"}));
  EXPECT_EQ(seen[0].Header("x-thing"), "One");
  EXPECT_EQ(seen[0].Cookie("k"), "v");
  EXPECT_EQ(seen[0].RemoteAddress, "127.0.0.1");
  EXPECT_EQ(seen[1].Method, "POST");
  EXPECT_EQ(seen[1].Body, R"({"a":1})");
}

TEST(HttpServer, RefusesWhatBreaksABoundAndSurvivesAFailingHandler) {
  HttpServerLimits limits;
  limits.MaxBodyBytes = 100;
  RecordingServer recording(limits);
  uint16_t port = recording.server.Port();

  // Headers without end: refused once they pass the head's memory, and the connection cut.
  HttpProbe flood(port);
  flood.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");
  std::string line = "X-Filler: " + std::string(1000, 'a') + "\r\n";
  for (int i = 0; i < 200 && flood.Send(line); ++i) {
  }
  EXPECT_EQ(flood.Receive().Status, 431);
  EXPECT_TRUE(flood.ClosedWithin(2s));

  EXPECT_EQ(Exchange(port, PostRequest("/p", std::string(101, 'b'))).Status, 413);
  EXPECT_EQ(Exchange(port, PostRequest("/p", std::string(100, 'b'))).Status, 201);

  // A body that arrives in chunks past the bound is cut off unanswered.
  HttpProbe chunked(port);
  chunked.Send("POST /p HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n");
  for (int i = 0; i < 10; ++i) chunked.Send("20\r\n" + std::string(32, 'c') + "\r\n");
  EXPECT_TRUE(chunked.ClosedWithin(2s));

  EXPECT_EQ(Exchange(port, GetRequest("/throw")).Status, 500);
  EXPECT_EQ(Exchange(port, GetRequest("/still-here")).Status, 201);
  for (auto& request : recording.Seen()) EXPECT_LE(request.Body.size(), 100u);
}

TEST(HttpServer, BoundsConnectionsPerAddressAndClosesSilentOnes) {
  HttpServerLimits limits;
  limits.MaxConnectionsPerAddress = 2;
  limits.IdleTimeout = 1s;
  RecordingServer recording(limits);
  uint16_t port = recording.server.Port();

  HttpProbe first(port), second(port), third(port);
  EXPECT_TRUE(third.ClosedWithin(2s)) << "one connection past the limit is closed at once";
  EXPECT_TRUE(first.ClosedWithin(3s)) << "a connection that sends nothing is closed";
  EXPECT_TRUE(second.ClosedWithin(3s));
  // The server counts a closed connection off its address just after closing it.
  int status = 0;
  auto until = std::chrono::steady_clock::now() + 2s;
  while (status != 201 && std::chrono::steady_clock::now() < until) {
    status = Exchange(port, GetRequest("/")).Status;
    if (status != 201) std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(status, 201) << "the places are free again";
}

TEST(HttpServer, ListensOnlyWhereToldAndSaysWhenItCannot) {
  EXPECT_TRUE(IsLoopbackHost("127.0.0.1"));
  EXPECT_TRUE(IsLoopbackHost("127.1.2.3"));
  EXPECT_TRUE(IsLoopbackHost("::1"));
  EXPECT_TRUE(IsLoopbackHost("localhost"));
  EXPECT_FALSE(IsLoopbackHost("0.0.0.0"));
  EXPECT_FALSE(IsLoopbackHost("::"));

  RecordingServer taken;
  HttpServer second([](const HttpServerRequest&) { return HttpServerResponse(); });
  EXPECT_THROW(second.Start("127.0.0.1", taken.server.Port()), HttpServerError);
  EXPECT_FALSE(second.Running());

  taken.server.Stop();
  EXPECT_FALSE(taken.server.Running());
  taken.server.Stop();  // twice is harmless
}

}  // namespace
}  // namespace velmora::platform
