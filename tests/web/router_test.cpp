// Every route of the page's server against the guard, the limits and the
// busy rule: a good request, a bad token, a foreign Host, a foreign Origin,
// an oversized body and a request while an operation runs each get their
// own status code.
#include "web/router.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/case_names.h"
#include "web/fake_desk.h"
#include "web/http_client.h"
#include "web/server.h"

namespace orvik::tool::web {
namespace {

using testing::FakeDesk;

constexpr unsigned kPort = 40123;
const std::string kToken = "a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f90";

struct Route {
  std::string name;
  std::string method;
  std::string target;
  std::string body;
  int good;  // the status of a good request
  int busy;  // the status while an operation runs
};

const Route kRoutes[] = {
    {"page", "GET", "/", "", 200, 200},
    {"script", "GET", "/app.js", "", 200, 200},
    {"state", "GET", "/api/state", "", 200, 409},
    {"versions", "GET", "/api/versions?manifest=%2Fsets%2Fmanifest.json", "", 200, 409},
    {"blocks", "GET", "/api/blocks", "", 200, 409},
    {"operation", "GET", "/api/operation", "", 200, 200},
    {"events", "GET", "/api/events", "", 200, 200},
    {"update", "POST", "/api/operations/update", R"({"manifest": "/sets/manifest.json"})", 202,
     409},
    {"fix", "POST", "/api/operations/fix", "{}", 202, 409},
    {"backup", "POST", "/api/operations/backup", R"({"file": "saved.img"})", 202, 409},
    {"restore", "POST", "/api/operations/restore", R"({"file": "saved.img"})", 202, 409},
    {"reflash", "POST", "/api/operations/reflash",
     R"({"manifest": "/sets/manifest.json", "backupFirst": false})", 202, 409},
    // No question waits in these tests: the answer is refused as stale.
    {"answer", "POST", "/api/answer", R"({"question": 7, "yes": true})", 409, 409},
};

enum class Variation {
  kGood,
  kBadToken,
  kNoToken,
  kForeignHost,
  kForeignOrigin,
  kOversized,
  kBusy
};

const char* VariationName(Variation variation) {
  switch (variation) {
    case Variation::kGood:
      return "Good";
    case Variation::kBadToken:
      return "BadToken";
    case Variation::kNoToken:
      return "NoToken";
    case Variation::kForeignHost:
      return "ForeignHost";
    case Variation::kForeignOrigin:
      return "ForeignOrigin";
    case Variation::kOversized:
      return "OversizedBody";
    case Variation::kBusy:
      return "WhileOneRuns";
  }
  return "";
}

int Expected(const Route& route, Variation variation) {
  const bool api = route.target.rfind("/api/", 0) == 0;
  switch (variation) {
    case Variation::kGood:
      return route.good;
    case Variation::kBadToken:
    case Variation::kNoToken:
      return api ? 401 : route.good;
    case Variation::kForeignHost:
      return 421;
    case Variation::kForeignOrigin:
      return 403;
    case Variation::kOversized:
      return 413;
    case Variation::kBusy:
      return route.busy;
  }
  return 0;
}

// Each case goes through the real server on a socket, so that what the
// parser refuses (an oversized body) and what the guard and the routes
// refuse are tested alike.
class RouteTest : public ::testing::TestWithParam<std::tuple<Route, Variation>> {
 protected:
  void SetUp() override {
    server_ = std::make_unique<Server>(0);
    router_ = std::make_unique<Router>(RouterParts{
        desk_, hub_, questions_, assets_, {server_->Port(), kToken}, "/preset/manifest.json"});
    thread_ = std::thread([this] {
      server_->Serve([this](const HttpRequest& request) { return router_->Handle(request); }, hub_,
                     [] { return false; });
    });
  }
  void TearDown() override {
    server_->Stop();
    thread_.join();
  }

  std::string RequestFor(const Route& route, Variation variation) const {
    const std::string port = std::to_string(server_->Port());
    std::string token = kToken;
    if (variation == Variation::kBadToken) token = kToken.substr(1) + "0";
    if (variation == Variation::kNoToken) token.clear();
    std::string text = route.method + " " + route.target + " HTTP/1.1\r\nConnection: close\r\n";
    text += "Host: " +
            std::string(variation == Variation::kForeignHost ? "attacker.example" : "127.0.0.1") +
            ":" + port + "\r\n";
    text += "Origin: " +
            (variation == Variation::kForeignOrigin ? std::string("http://attacker.example")
                                                    : "http://127.0.0.1:" + port) +
            "\r\n";
    if (!token.empty()) text += std::string(kTokenHeader) + ": " + token + "\r\n";
    if (route.method == "POST") text += "Content-Type: application/json\r\n";
    // An oversized body is refused on its declared length, before it is read.
    const size_t length = variation == Variation::kOversized ? 64 * 1024 + 1 : route.body.size();
    return text + "Content-Length: " + std::to_string(length) + "\r\n\r\n" + route.body;
  }

  FakeDesk desk_;
  EventHub hub_;
  QuestionBox questions_;
  AssetSource assets_;
  std::unique_ptr<Server> server_;
  std::unique_ptr<Router> router_;
  std::thread thread_;
};

TEST_P(RouteTest, AnswersWithTheStatusOfTheCase) {
  const auto& [route, variation] = GetParam();
  desk_.running = variation == Variation::kBusy;
  const testing::Answer answer = testing::SendRaw(server_->Port(), RequestFor(route, variation));
  EXPECT_EQ(answer.status, Expected(route, variation)) << answer.body;
  // Nothing is started or read unless the request was let through.
  if (answer.status >= 400) {
    EXPECT_TRUE(desk_.started.empty());
    EXPECT_TRUE(desk_.reads.empty());
  }
  EXPECT_EQ(answer.headers.count("Access-Control-Allow-Origin"), 0u);
  ASSERT_EQ(answer.headers.count("Cache-Control"), 1u);
  EXPECT_EQ(answer.headers.at("Cache-Control"), "no-store");
}

INSTANTIATE_TEST_SUITE_P(
    Routes, RouteTest,
    ::testing::Combine(::testing::ValuesIn(kRoutes),
                       ::testing::Values(Variation::kGood, Variation::kBadToken,
                                         Variation::kNoToken, Variation::kForeignHost,
                                         Variation::kForeignOrigin, Variation::kOversized,
                                         Variation::kBusy)),
    [](const ::testing::TestParamInfo<std::tuple<Route, Variation>>& test) {
      return std::get<0>(test.param).name + std::string(VariationName(std::get<1>(test.param)));
    });

class RouterTest : public ::testing::Test {
 protected:
  HttpResponse Send(const std::string& method, const std::string& target,
                    const std::string& body = {},
                    const std::string& contentType = "application/json") {
    HttpRequest request;
    request.method = method;
    request.target = target;
    request.body = body;
    request.headers["host"] = "127.0.0.1:" + std::to_string(kPort);
    request.headers[kTokenHeader] = kToken;
    if (!contentType.empty()) request.headers["content-type"] = contentType;
    return router_.Handle(request);
  }

  FakeDesk desk_;
  EventHub hub_;
  QuestionBox questions_;
  AssetSource assets_;
  Router router_{{desk_, hub_, questions_, assets_, {kPort, kToken}, "/preset/manifest.json"}};
};

TEST_F(RouterTest, ReadsTakeTheManifestFromTheQueryAndTheStateNamesThePreset) {
  const HttpResponse state = Send("GET", "/api/state?manifest=%2Fa%20set%2Fmanifest.json");
  ASSERT_EQ(state.status, 200);
  ASSERT_EQ(desk_.reads.size(), 1u);
  EXPECT_EQ(desk_.reads[0].second, "/a set/manifest.json");
  EXPECT_EQ(nlohmann::json::parse(state.body)["presetManifest"], "/preset/manifest.json");
  EXPECT_EQ(Send("GET", "/api/versions").status, 400);  // a comparison needs a set
}

TEST_F(RouterTest, OperationOptionsArriveAsTheRequestGaveThem) {
  ASSERT_EQ(Send("POST", "/api/operations/reflash", R"({"manifest": "m.json"})").status, 202);
  ASSERT_EQ(desk_.started.size(), 1u);
  EXPECT_EQ(desk_.started[0].name, "reflash");
  EXPECT_EQ(desk_.started[0].manifest, "m.json");
  EXPECT_TRUE(desk_.started[0].backupFirst);  // ticked unless said otherwise
}

struct BadCase {
  std::string name, method, target, body, contentType;
  int status;
};

class RouterRefusalTest : public RouterTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(RouterRefusalTest, RefusesWithoutStartingAnything) {
  const BadCase& bad = GetParam();
  EXPECT_EQ(Send(bad.method, bad.target, bad.body, bad.contentType).status, bad.status);
  EXPECT_TRUE(desk_.started.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RouterRefusalTest,
    ::testing::Values(
        BadCase{"UnknownOperation", "POST", "/api/operations/format", "{}", "application/json",
                404},
        BadCase{"UpdateWithoutSet", "POST", "/api/operations/update", "{}", "application/json",
                400},
        BadCase{"RestoreWithoutImage", "POST", "/api/operations/restore", "{}", "application/json",
                400},
        BadCase{"BodyNotAnObject", "POST", "/api/operations/fix", "[1]", "application/json", 400},
        BadCase{"BodyNotJson", "POST", "/api/operations/fix", "manifest=x", "application/json",
                400},
        BadCase{"WrongOptionType", "POST", "/api/operations/reflash",
                R"({"manifest": "m", "backupFirst": "yes"})", "application/json", 400},
        BadCase{"FormPost", "POST", "/api/operations/fix", "a=b",
                "application/x-www-form-urlencoded", 415},
        BadCase{"GetAnOperation", "GET", "/api/operations/update", "", "", 405},
        BadCase{"PostTheState", "POST", "/api/state", "{}", "application/json", 405},
        BadCase{"AnswerWithoutId", "POST", "/api/answer", R"({"yes": true})", "application/json",
                400},
        BadCase{"UnknownRoute", "GET", "/api/format", "", "", 404},
        BadCase{"AssetOutsideTheFolder", "GET", "/../CMakeLists.txt", "", "", 404}),
    orvik::testing::NameOfCase());

TEST_F(RouterTest, TheAnswerReachesTheQuestionThatWaits) {
  std::thread asker(
      [&] { EXPECT_EQ(questions_.Ask(5, std::chrono::seconds(30), {}), AnswerOutcome::kNo); });
  while (!questions_.Open()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(Send("POST", "/api/answer", R"({"question": 4, "yes": true})").status, 409);
  EXPECT_EQ(Send("POST", "/api/answer", R"({"question": 5, "yes": false})").status, 200);
  asker.join();
  // Answered once: a second answer finds nothing waiting.
  EXPECT_EQ(Send("POST", "/api/answer", R"({"question": 5, "yes": true})").status, 409);
}

TEST_F(RouterTest, TheStreamStartsAtTheRunningOperationOrWhereThePageLeftOff) {
  hub_.Publish("line", {{"text", "an old operation"}});
  hub_.BeginOperation();
  const uint64_t first = hub_.Publish("start", {});
  EXPECT_EQ(Send("GET", "/api/events").streamAfter, first - 1);
  HttpRequest resumed;
  resumed.method = "GET";
  resumed.target = "/api/events?token=" + kToken;  // as EventSource sends it
  resumed.headers = {{"host", "127.0.0.1:" + std::to_string(kPort)}, {"last-event-id", "17"}};
  const HttpResponse answer = router_.Handle(resumed);
  EXPECT_EQ(answer.status, 200);
  EXPECT_TRUE(answer.eventStream);
  EXPECT_EQ(answer.streamAfter, 17u);
}

}  // namespace
}  // namespace orvik::tool::web
