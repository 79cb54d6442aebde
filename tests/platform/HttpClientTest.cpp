#include <gtest/gtest.h>

#include <optional>

#include "platform/adapters/HttpClient.h"
#include "support/FakeHttpService.h"
#include "support/RunLoop.h"

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;
using testing::FakeHttpService;
using testing::FakeReply;
using Clock = std::chrono::steady_clock;

// The tests of the time-outs give their requests a short one instead of the default two
// seconds; every pause of a service that must not end a request stays well inside it.
constexpr auto kInactivity = 500ms;

HttpRequest To(const std::string& host, const std::string& path = "/") {
  HttpRequest request;
  request.Host = host;
  request.Path = path;
  return request;
}

HttpRequest Impatient(const std::string& host) {
  HttpRequest request = To(host);
  request.InactivityTimeout = kInactivity;
  return request;
}

HttpResult Fetch(HttpRequest request) {
  std::optional<HttpResult> got;
  auto id =
      HttpClient::Instance().Get(std::move(request), [&](HttpResult result) { got = result; });
  EXPECT_TRUE(testing::RunLoopUntil([&] { return got.has_value(); }));
  if (!got) HttpClient::Instance().Cancel(id);  // `got` is about to go away
  return got.value_or(HttpResult{});
}

FakeReply Drip(const std::string& head, const std::vector<std::string>& pieces,
               std::chrono::milliseconds gap, FakeReply::End end) {
  FakeReply reply;
  reply.chunks.push_back({{}, head});
  for (auto& piece : pieces) reply.chunks.push_back({gap, piece});
  reply.end = end;
  reply.silence = 10s;
  return reply;
}

TEST(HttpClient, SendsAPlainHttp10GetWithHostAndTheTwoAcceptHeaders) {
  FakeHttpService service([](auto&, int) { return FakeReply::UntilClose("fine"); });
  auto result = Fetch(To(service.Host(), "/IpLocator.htm?GetLocation&IpAddress=10.1.2.3"));
  EXPECT_EQ(result.Body, "fine");
  ASSERT_EQ(service.Requests().size(), 1u);
  std::string request = service.Requests()[0];
  EXPECT_EQ(request.rfind("GET /IpLocator.htm?GetLocation&IpAddress=10.1.2.3 HTTP/1.0\r\n", 0),
            0u)
      << request;
  EXPECT_NE(request.find("\r\nHost: " + service.Host() + "\r\n"), std::string::npos);
  EXPECT_NE(request.find("\r\nAccept: */*\r\n"), std::string::npos);
  EXPECT_NE(request.find("\r\nAccept-Language: en\r\n"), std::string::npos);
  EXPECT_EQ(request.find("Authorization"), std::string::npos);
  EXPECT_EQ(request.find("Cookie"), std::string::npos);
}

TEST(HttpClient, ReplyIsWholeAtItsContentLengthOrAtTheClose) {
  // The service stays open after the announced body: only the length can end the wait.
  FakeHttpService lengthy([](auto&, int) { return FakeReply::WithLength("hello", 10s); });
  auto byLength = Fetch(To(lengthy.Host()));
  EXPECT_EQ(byLength.Outcome, HttpOutcome::kComplete);
  EXPECT_EQ(byLength.Body, "hello");
  EXPECT_EQ(byLength.Status, 200);

  FakeHttpService closing([](auto&, int) { return FakeReply::UntilClose("bye\r\n"); });
  auto byClose = Fetch(To(closing.Host()));
  EXPECT_EQ(byClose.Outcome, HttpOutcome::kComplete);
  EXPECT_EQ(byClose.Body, "bye\r\n");
}

TEST(HttpClient, DataArrivingRestartsTheInactivityWait) {
  // Six pieces, each 0.3 of the inactivity wait after the one before: 1.8 waits in all, yet
  // never a whole wait without data.
  FakeHttpService service([](auto&, int) {
    return Drip("HTTP/1.0 200 OK\r\n\r\n", {"a", "b", "c", "d", "e", "f"}, kInactivity * 3 / 10,
                FakeReply::End::kClose);
  });
  auto started = Clock::now();
  auto result = Fetch(Impatient(service.Host()));
  EXPECT_EQ(result.Outcome, HttpOutcome::kComplete);
  EXPECT_EQ(result.Body, "abcdef");
  EXPECT_GE(Clock::now() - started, kInactivity * 3 / 2);
}

// Services that fall silent: nothing here must arrive within the wait, so a shorter one than
// kInactivity cannot make the test fail under load, only the request end sooner.
TEST(HttpClient, SilenceEndsTheRequestWithWhatHadArrived) {
  constexpr auto kSilence = 200ms;
  FakeHttpService service([](auto&, int) {
    return Drip("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n", {"<meta "}, 0ms,
                FakeReply::End::kStaySilent);
  });
  auto request = To(service.Host());
  request.InactivityTimeout = kSilence;
  auto started = Clock::now();
  auto result = Fetch(request);
  EXPECT_EQ(result.Outcome, HttpOutcome::kTimedOut);
  EXPECT_EQ(result.Body, "<meta ");
  EXPECT_GE(Clock::now() - started, kSilence);

  FakeHttpService mute([](auto&, int) { return FakeReply::Silent(10s); });
  auto quiet = To(mute.Host());
  quiet.InactivityTimeout = kSilence;
  auto nothing = Fetch(quiet);
  EXPECT_EQ(nothing.Outcome, HttpOutcome::kTimedOut);
  EXPECT_EQ(nothing.Body, "");
  EXPECT_EQ(nothing.Status, 0);
  EXPECT_TRUE(testing::RunLoopUntil([&] { return mute.OpenConnections() == 0; }, 5s))
      << "the timed-out connection is closed";
}

TEST(HttpClient, TotalTimeOutBoundsAServiceThatKeepsDripping) {
  FakeHttpService service([](auto&, int) {
    return Drip("HTTP/1.0 200 OK\r\n\r\n", std::vector<std::string>(20, "x"), 100ms,
                FakeReply::End::kClose);
  });
  auto request = To(service.Host());
  request.TotalTimeout = 500ms;
  auto result = Fetch(request);
  EXPECT_EQ(result.Outcome, HttpOutcome::kTimedOut);
  EXPECT_FALSE(result.Body.empty());
  EXPECT_LT(result.Body.size(), 20u);
}

TEST(HttpClient, FailedConnectionsGiveWhatArrivedAndNeverThrow) {
  auto refused = Fetch(To(testing::RefusingHost()));
  EXPECT_EQ(refused.Outcome, HttpOutcome::kFailed);
  EXPECT_EQ(refused.Body, "");

  FakeHttpService resetting([](auto&, int) {
    return Drip("HTTP/1.0 200 OK\r\n\r\n", {"part"}, 100ms, FakeReply::End::kReset);
  });
  auto reset = Fetch(To(resetting.Host()));
  EXPECT_EQ(reset.Body, "part");

  FakeHttpService shortOne([](auto&, int) {
    return Drip("HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\n", {"only this"}, 0ms,
                FakeReply::End::kClose);
  });
  auto cut = Fetch(To(shortOne.Host()));
  EXPECT_EQ(cut.Outcome, HttpOutcome::kFailed);
  EXPECT_EQ(cut.Body, "only this");
}

TEST(HttpClient, UsesTheBodyWhateverTheStatusAndFollowsNoRedirect) {
  FakeHttpService missing([](auto&, int) {
    FakeReply reply;
    reply.chunks.push_back({{}, "HTTP/1.0 404 Not Found\r\n\r\nno such page"});
    return reply;
  });
  auto notFound = Fetch(To(missing.Host()));
  EXPECT_EQ(notFound.Status, 404);
  EXPECT_EQ(notFound.Body, "no such page");

  FakeHttpService moving([](auto&, int) {
    FakeReply reply;
    reply.chunks.push_back({{}, "HTTP/1.0 302 Found\r\nLocation: /elsewhere\r\n\r\nmoved"});
    return reply;
  });
  auto redirect = Fetch(To(moving.Host()));
  EXPECT_EQ(redirect.Status, 302);
  EXPECT_EQ(redirect.Body, "moved");
  testing::RunLoopFor(200ms);
  EXPECT_EQ(moving.Requests().size(), 1u);
}

TEST(HttpClient, StopsAtTheBodyLimitAndRefusesHostsThatAreMoreThanAHost) {
  FakeHttpService big([](auto&, int) { return FakeReply::UntilClose(std::string(5000, 'z')); });
  auto request = To(big.Host());
  request.MaxBodyBytes = 10;
  auto capped = Fetch(request);
  EXPECT_EQ(capped.Outcome, HttpOutcome::kTooLarge);
  EXPECT_EQ(capped.Body, std::string(10, 'z'));

  FakeHttpService service([](auto&, int) { return FakeReply::UntilClose("x"); });
  for (std::string host : {"user:secret@" + service.Host(), service.Host() + "/x", std::string()}) {
    auto refused = Fetch(To(host));
    EXPECT_EQ(refused.Outcome, HttpOutcome::kFailed) << host;
  }
  EXPECT_TRUE(service.Requests().empty());
}

TEST(HttpClient, CancelStopsTheTransferAndDropsItsResult) {
  FakeHttpService service([](auto&, int) { return FakeReply::Silent(10s); });
  bool ran = false;
  auto& http = HttpClient::Instance();
  auto id = http.Get(Impatient(service.Host()), [&](HttpResult) { ran = true; });
  ASSERT_TRUE(testing::RunLoopUntil([&] { return service.OpenConnections() == 1; }, 5s));
  http.Cancel(id);
  EXPECT_TRUE(testing::RunLoopUntil([&] { return service.OpenConnections() == 0; }, 5s));
  testing::RunLoopFor(kInactivity * 3 / 2);  // past the time-out the request would have reached
  EXPECT_FALSE(ran);
}

TEST(HttpClient, ManyRequestsTakeTurnsWithinTheTransferLimit) {
  FakeHttpService service([](auto&, int number) {
    FakeReply reply = FakeReply::UntilClose(std::to_string(number));
    reply.chunks[0].delay = 100ms;
    return reply;
  });
  const size_t count = HttpClient::kMaxTransfers + 8;
  size_t done = 0;
  for (size_t i = 0; i < count; ++i)
    HttpClient::Instance().Get(To(service.Host()), [&](HttpResult result) {
      EXPECT_EQ(result.Outcome, HttpOutcome::kComplete);
      ++done;
    });
  EXPECT_TRUE(testing::RunLoopUntil([&] { return done == count; }));
  EXPECT_LE(service.MostOpenConnections(), static_cast<int>(HttpClient::kMaxTransfers));
  EXPECT_EQ(service.Requests().size(), count);
}

}  // namespace
}  // namespace velmora::platform
