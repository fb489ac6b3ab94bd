// The page's server on a real socket: the limits on a request's head and
// body, requests Beast cannot parse, the number of connections, and the
// event stream.  None of them stops the server.
#include "web/server.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/case_names.h"
#include "web/http_client.h"

namespace orvik::tool::web {
namespace {

using testing::Request;
using testing::RequestText;
using testing::SendRaw;

class ServerTest : public ::testing::Test {
 protected:
  void Start(ServerLimits limits = {}) {
    server_ = std::make_unique<Server>(0, limits);
    port_ = server_->Port();
    thread_ = std::thread([this] {
      server_->Serve(
          [this](const HttpRequest& request) {
            ++handled_;
            HttpResponse response;
            if (request.Path() == "/api/events") {
              response.eventStream = true;
              response.streamAfter = 0;
              return response;
            }
            response.body = nlohmann::json{{"path", request.Path()},
                                           {"bytes", request.body.size()},
                                           {"host", request.Header("host")}}
                                .dump();
            return response;
          },
          hub_, [] { return false; });
    });
  }
  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
  }
  // The server still answers a good request.
  void ExpectServing() {
    const testing::Answer answer = Request("GET", "/still", port_, "");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.Json()["path"], "/still");
  }

  EventHub hub_;
  std::unique_ptr<Server> server_;
  unsigned port_ = 0;
  std::thread thread_;
  std::atomic<int> handled_{0};
};

struct RawCase {
  std::string name;
  std::string text;  // "{port}" stands for the server's port
  int status;        // 0: the connection is closed without an answer
};

class RawRequestTest : public ServerTest, public ::testing::WithParamInterface<RawCase> {};

std::string WithPort(std::string text, unsigned port) {
  for (size_t at = text.find("{port}"); at != std::string::npos; at = text.find("{port}"))
    text.replace(at, 6, std::to_string(port));
  return text;
}

TEST_P(RawRequestTest, GetsItsStatusAndTheServerGoesOn) {
  Start();
  const testing::Answer answer = SendRaw(port_, WithPort(GetParam().text, port_));
  EXPECT_EQ(answer.status, GetParam().status) << answer.body;
  if (GetParam().status >= 400) {
    EXPECT_EQ(handled_, 0);  // refused before any route
  }
  ExpectServing();
}

const std::string kHost = "Host: 127.0.0.1:{port}\r\n";

INSTANTIATE_TEST_SUITE_P(
    Requests, RawRequestTest,
    ::testing::Values(
        RawCase{"Good", "GET / HTTP/1.1\r\n" + kHost + "Connection: close\r\n\r\n", 200},
        RawCase{"GarbageRequestLine", "HELLO THERE\r\n\r\n", 400},
        RawCase{"BadVersion", "GET / HTTP/9.Z\r\n" + kHost + "\r\n", 400},
        RawCase{"SpaceInHeaderName", "GET / HTTP/1.1\r\nHo st: x\r\n\r\n", 400},
        RawCase{"BinaryNoise", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11),
                400},
        RawCase{"BodyOverTheLimit",
                "POST /api/answer HTTP/1.1\r\n" + kHost +
                    "Content-Type: application/json\r\nContent-Length: 70000\r\n\r\n{",
                413},
        RawCase{"HeadOverTheLimit",
                "GET / HTTP/1.1\r\n" + kHost + "X-Filler: " + std::string(9000, 'a') + "\r\n\r\n",
                431},
        RawCase{"BadChunkedBody",
                "POST /x HTTP/1.1\r\n" + kHost +
                    "Transfer-Encoding: chunked\r\n\r\nZZ\r\nabc\r\n0\r\n\r\n",
                400}),
    orvik::testing::NameOfCase());

TEST_F(ServerTest, ABodyWithinTheLimitArrivesWhole) {
  Start();
  const std::string body(60 * 1024, 'x');
  const testing::Answer answer = Request("POST", "/api/answer", port_, "t", body);
  ASSERT_EQ(answer.status, 200);
  EXPECT_EQ(answer.Json()["bytes"], body.size());
}

TEST_F(ServerTest, AConnectionOverTheLimitIsTurnedAwayUntilOneCloses) {
  ServerLimits limits;
  limits.connections = 2;
  Start(limits);
  namespace net = boost::asio;
  net::io_context io;
  const net::ip::tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"),
                                        static_cast<unsigned short>(port_));
  auto idle = std::make_unique<net::ip::tcp::socket>(io);
  net::ip::tcp::socket second(io);
  idle->connect(endpoint);
  second.connect(endpoint);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // both accepted
  EXPECT_EQ(Request("GET", "/", port_, "").status, 0);          // the third is closed
  idle.reset();                                                 // one leaves
  // Its connection notices at its next read and frees its place.
  bool served = false;
  for (int attempt = 0; attempt < 50 && !served; ++attempt) {
    served = Request("GET", "/", port_, "").status == 200;
    if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(served);
}

TEST_F(ServerTest, TheStreamSendsEachEventOnceAsItComes) {
  hub_.Publish("line", {{"text", "first"}});
  Start();
  namespace net = boost::asio;
  net::io_context io;
  net::ip::tcp::socket socket(io);
  socket.connect({net::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port_)});
  net::write(socket, net::buffer(RequestText("GET", "/api/events", port_, "t")));
  std::string seen;
  auto readUntil = [&](const std::string& text) {
    char chunk[4096];
    while (seen.find(text) == std::string::npos) {
      const size_t got = socket.read_some(net::buffer(chunk));
      seen.append(chunk, got);
    }
  };
  readUntil("first");
  hub_.Publish("progress", {{"label", "Writing"}, {"percent", 50}});
  readUntil("\"percent\":50");
  EXPECT_NE(seen.find("HTTP/1.1 200"), std::string::npos);
  EXPECT_NE(seen.find("Content-Type: text/event-stream"), std::string::npos);
  EXPECT_NE(seen.find("id: 1\nevent: line\ndata: {\"text\":\"first\"}\n\n"), std::string::npos);
  EXPECT_NE(seen.find("id: 2\nevent: progress\n"), std::string::npos);
  EXPECT_EQ(seen.find("first"), seen.rfind("first"));
}

}  // namespace
}  // namespace orvik::tool::web
