#include "platform/adapters/HttpServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace velmora::platform {

namespace {

// One request while it arrives: the body so far, and whether it already broke its bound.
struct PendingRequest {
  std::string body;
  bool answered = false;
};

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address == nullptr) return "";
  if (address->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
              sizeof text);
  else if (address->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
              sizeof text);
  return text;
}

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    auto ip = ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
    return (ip >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    auto& ip = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&ip)) return true;
    // An IPv4 loopback address written the IPv6 way.
    return IN6_IS_ADDR_V4MAPPED(&ip) && ip.s6_addr[12] == 127;
  }
  return false;
}

struct ResolvedAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

ResolvedAddress Resolve(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (status != 0 || found == nullptr)
    throw HttpServerError("cannot resolve \"" + host + "\": " + gai_strerror(status));
  ResolvedAddress resolved;
  std::memcpy(&resolved.storage, found->ai_addr, found->ai_addrlen);
  resolved.length = found->ai_addrlen;
  freeaddrinfo(found);
  return resolved;
}

MHD_Result CollectValue(void* target, MHD_ValueKind kind, const char* key, const char* value) {
  auto& values = *static_cast<std::vector<std::pair<std::string, std::string>>*>(target);
  std::string name = key != nullptr ? key : "";
  if (kind == MHD_HEADER_KIND)
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  values.emplace_back(std::move(name), value != nullptr ? value : "");
  return MHD_YES;
}

// The path stays as sent: it is cut into segments first and each is decoded on its own, so that
// an encoded "/" inside a name cannot change the route.
size_t KeepEncoded(void*, MHD_Connection*, char* text) { return std::strlen(text); }

std::vector<std::string> DecodedSegments(const std::string& path) {
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      std::string segment = path.substr(start, end - start);
      segment.resize(MHD_http_unescape(segment.data()));
      segments.push_back(std::move(segment));
    }
    start = end + 1;
  }
  return segments;
}

MHD_Result Send(MHD_Connection* connection, const HttpServerResponse& reply) {
  MHD_Response* response = MHD_create_response_from_buffer(
      reply.Body.size(), const_cast<char*>(reply.Body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.ContentType.c_str());
  for (auto& [name, value] : reply.Headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.Status), response);
  MHD_destroy_response(response);
  return queued;
}

}  // namespace

std::string HttpServerRequest::Header(const std::string& lowerName) const {
  for (auto& [name, value] : Headers)
    if (name == lowerName) return value;
  return "";
}

std::string HttpServerRequest::Cookie(const std::string& name) const {
  for (auto& [key, value] : Cookies)
    if (key == name) return value;
  return "";
}

HttpServerResponse HttpServerResponse::Text(int status, std::string body) {
  HttpServerResponse response;
  response.Status = status;
  response.Body = std::move(body);
  return response;
}

bool IsLoopbackHost(const std::string& host) { return IsLoopback(Resolve(host).get()); }

struct HttpServer::Impl {
  Handler handler;
  HttpServerLimits limits;
  MHD_Daemon* daemon = nullptr;
  mutable std::mutex mutex;  // guards `daemon` between Start, Stop and the questions

  HttpServerRequest Gather(MHD_Connection* connection, const char* url, const char* method,
                           std::string body) {
    HttpServerRequest request;
    request.Method = method;
    request.Path = url;
    request.PathSegments = DecodedSegments(request.Path);
    MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectValue, &request.Headers);
    MHD_get_connection_values(connection, MHD_COOKIE_KIND, CollectValue, &request.Cookies);
    request.Body = std::move(body);
    if (auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
      request.RemoteAddress = AddressText(info->client_addr);
    return request;
  }

  MHD_Result Answer(MHD_Connection* connection, const char* url, const char* method,
                    const char* uploadData, size_t* uploadSize, void** state) {
    auto* pending = static_cast<PendingRequest*>(*state);
    if (pending == nullptr) {
      pending = new PendingRequest;
      *state = pending;
      // An announced body beyond the bound is refused before a byte of it is read.
      const char* length =
          MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
      if (length != nullptr && std::strtoull(length, nullptr, 10) > limits.MaxBodyBytes) {
        pending->answered = true;
        return Send(connection, HttpServerResponse::Text(413, "request body too large\n"));
      }
      return MHD_YES;
    }
    if (*uploadSize > 0) {
      if (pending->answered) {
        *uploadSize = 0;
        return MHD_YES;
      }
      if (pending->body.size() + *uploadSize > limits.MaxBodyBytes) return MHD_NO;  // cut off
      pending->body.append(uploadData, *uploadSize);
      *uploadSize = 0;
      return MHD_YES;
    }
    if (pending->answered) return MHD_YES;
    pending->answered = true;
    HttpServerResponse reply;
    try {
      reply = handler(Gather(connection, url, method, std::move(pending->body)));
    } catch (...) {
      reply = HttpServerResponse::Text(500, "internal error\n");
    }
    return Send(connection, reply);
  }

  static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url,
                              const char* method, const char*, const char* uploadData,
                              size_t* uploadSize, void** state) {
    try {
      return static_cast<Impl*>(self)->Answer(connection, url, method, uploadData, uploadSize,
                                              state);
    } catch (...) {
      return MHD_NO;  // out of memory: drop the connection, keep the server
    }
  }

  static void OnCompleted(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
    delete static_cast<PendingRequest*>(*state);
    *state = nullptr;
  }
};

HttpServer::HttpServer(Handler handler, HttpServerLimits limits) : impl_(std::make_unique<Impl>()) {
  impl_->handler = std::move(handler);
  impl_->limits = limits;
}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Start(const std::string& host, uint16_t port) {
  std::lock_guard lock(impl_->mutex);
  if (impl_->daemon != nullptr) throw HttpServerError("the HTTP server is already running");
  ResolvedAddress address = Resolve(host);
  unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD;
  if (address.storage.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = htons(port);
    flags |= MHD_USE_IPv6;
  } else {
    reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = htons(port);
  }
  const auto& limits = impl_->limits;
  errno = 0;
  impl_->daemon = MHD_start_daemon(
      flags, port, nullptr, nullptr, &Impl::OnRequest, impl_.get(),  //
      MHD_OPTION_SOCK_ADDR, address.get(),                           //
      MHD_OPTION_NOTIFY_COMPLETED, &Impl::OnCompleted, nullptr,      //
      MHD_OPTION_UNESCAPE_CALLBACK, &KeepEncoded, nullptr,           //
      MHD_OPTION_THREAD_POOL_SIZE, limits.Threads,                   //
      MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(limits.MaxConnections),
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned>(limits.MaxConnectionsPerAddress),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.MaxHeadBytes,  //
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits.IdleTimeout.count()),
      MHD_OPTION_END);
  if (impl_->daemon == nullptr) {
    std::string why = errno != 0 ? std::string(": ") + std::strerror(errno) : "";
    throw HttpServerError("cannot listen on " + host + " port " + std::to_string(port) + why);
  }
}

void HttpServer::Stop() {
  MHD_Daemon* daemon = nullptr;
  {
    std::lock_guard lock(impl_->mutex);
    std::swap(daemon, impl_->daemon);
  }
  if (daemon != nullptr) MHD_stop_daemon(daemon);
}

bool HttpServer::Running() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->daemon != nullptr;
}

uint16_t HttpServer::Port() const {
  std::lock_guard lock(impl_->mutex);
  if (impl_->daemon == nullptr) return 0;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(impl_->daemon, MHD_DAEMON_INFO_BIND_PORT);
  return info != nullptr ? info->port : 0;
}

}  // namespace velmora::platform
