#pragma once
// Replies of the location service, scripted for FakeHttpService.
#include <chrono>
#include <string>

#include "support/FakeHttpService.h"

namespace velmora::testing {

// The country, at once.
inline FakeReply Country(const std::string& country) {
  FakeReply reply;
  reply.chunks.push_back({{}, "HTTP/1.0 200 OK\r\n\r\n"});
  reply.chunks.push_back({{}, "<meta name=\"country\" content=\"" + country + "\">\r\n"});
  return reply;
}

// The same reply one byte at a time, each after `gap`, and blank after blank between the
// status line and the country until the service is released: never silent for long enough to
// be given up, and over only when the test says so.
inline FakeReply Trickle(const std::string& country, std::chrono::milliseconds gap) {
  FakeReply reply;
  for (char c : std::string("HTTP/1.0 200 OK\r\n\r\n")) reply.chunks.push_back({gap, {c}});
  reply.chunks.push_back({gap, " ", true});
  for (char c : "\r\n<meta name=\"country\" content=\"" + country + "\">\r\n")
    reply.chunks.push_back({gap, {c}});
  return reply;
}

}  // namespace velmora::testing
