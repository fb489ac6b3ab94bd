// orvik gui driven over HTTP as the page drives it: the built tool serves a
// simulated player, the test starts operations, answers their questions
// and reads the event stream.
#include <gtest/gtest.h>

#include <boost/asio.hpp>
#include <regex>
#include <thread>

#include "tool/tool_runner.h"
#include "web/http_client.h"

namespace orvik::tool::testing {
namespace {

namespace net = boost::asio;
using web::testing::Answer;

// The event stream of a running gui, read on a thread of its own.
class EventReader {
 public:
  EventReader(unsigned port, const std::string& token) : socket_(io_) {
    socket_.connect({net::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port)});
    net::write(socket_, net::buffer(web::testing::RequestText("GET", "/api/events", port, token)));
    reader_ = std::thread([this] {
      char chunk[8192];
      boost::system::error_code error;
      while (!error) {
        const size_t got = socket_.read_some(net::buffer(chunk), error);
        std::lock_guard<std::mutex> lock(mutex_);
        text_.append(chunk, got);
      }
    });
  }
  ~EventReader() {
    boost::system::error_code ignored;
    socket_.shutdown(net::ip::tcp::socket::shutdown_both, ignored);
    reader_.join();
  }
  // The events of type seen so far (data parsed), waiting up to limit for
  // at least count of them.
  std::vector<nlohmann::json> Wait(const std::string& type, size_t count,
                                   std::chrono::seconds limit = std::chrono::seconds(120)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<nlohmann::json> found;
    while (true) {
      found = Events(type);
      if (found.size() >= count || std::chrono::steady_clock::now() > deadline) return found;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  std::vector<nlohmann::json> Events(const std::string& type) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<nlohmann::json> found;
    const std::regex event("event: (\\w+)\ndata: ([^\n]*)\n\n");
    for (std::sregex_iterator it(text_.begin(), text_.end(), event); it != std::sregex_iterator();
         ++it)
      if ((*it)[1] == type) found.push_back(nlohmann::json::parse((*it)[2].str()));
    return found;
  }

 private:
  net::io_context io_;
  net::ip::tcp::socket socket_;
  std::thread reader_;
  std::mutex mutex_;
  std::string text_;
};

class GuiTest : public ToolTest {
 protected:
  void TearDown() override {
    if (gui_ > 0) {
      // Ctrl-C is the way to stop serving: the run ends as done.
      EXPECT_EQ(StopProgram(gui_, SIGINT), 0) << ReadFile(log_ + ".err");
    }
    ToolTest::TearDown();
  }

  // Starts orvik gui on the test's player and reads the address it prints.
  void StartGui() {
    log_ = scratch_ + "/gui.log";
    gui_ = StartOrvik({"--player", player_, "gui", "--no-browser"}, log_);
    const std::regex address("http://127\\.0\\.0\\.1:(\\d+)/\\?token=([0-9a-f]{64})");
    std::smatch found;
    for (int wait = 0; wait < 200; ++wait) {
      const std::string printed = ReadFile(log_);
      if (std::regex_search(printed, found, address)) {
        port_ = static_cast<unsigned>(std::stoul(found[1]));
        token_ = found[2];
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FAIL() << "orvik gui printed no address:\n" << ReadFile(log_) << ReadFile(log_ + ".err");
  }

  Answer Post(const std::string& path, const nlohmann::json& body) {
    return web::testing::Request("POST", path, port_, token_, body.dump());
  }
  Answer Get(const std::string& path) { return web::testing::Request("GET", path, port_, token_); }

  // Runs the operation through the API, saying yes to each question it
  // asks, and returns its end event ("result" or "failure").
  nlohmann::json RunOperation(EventReader& events, const std::string& name,
                              const nlohmann::json& options) {
    const Answer started = Post("/api/operations/" + name, options);
    EXPECT_EQ(started.status, 202) << started.body;
    const nlohmann::json id = started.Json()["id"];
    size_t answered = events.Events("question").size();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < deadline) {
      for (const char* type : {"result", "failure"})
        for (const nlohmann::json& end : events.Events(type))
          if (end["id"] == id) return end;
      const std::vector<nlohmann::json> questions = events.Events("question");
      if (questions.size() > answered) {
        EXPECT_EQ(Post("/api/answer", {{"question", questions.back()["id"]}, {"yes", true}}).status,
                  200);
        answered = questions.size();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << name << " did not end";
    return nlohmann::json::object();
  }

  // A firmware set newer than the sample: its raw file says 2.0.1.4.
  std::string NewerSet() {
    const std::string set = CopySamples("newer");
    std::string raw = ReadFile(set + "/resources.bin");
    raw[raw.size() - 2] = 4;
    WriteFile(set + "/resources.bin", raw);
    ResealSet(set + "/manifest.json");
    return set + "/manifest.json";
  }

  pid_t gui_ = 0;
  std::string log_;
  unsigned port_ = 0;
  std::string token_;
};

TEST_F(GuiTest, AnUpdateAsksThenItsProgressRisesToDone) {
  MakeReflashedPlayer();
  const std::string manifest = NewerSet();
  StartGui();
  ASSERT_FALSE(HasFatalFailure());
  EventReader events(port_, token_);
  const nlohmann::json end = RunOperation(events, "update", {{"manifest", manifest}});
  ASSERT_EQ(end.value("error", nlohmann::json()), nullptr) << end.dump(2);
  EXPECT_EQ(end["exitCode"], 0);
  EXPECT_EQ(end["result"]["updated"], true);
  const std::vector<nlohmann::json> question = events.Events("question");
  ASSERT_EQ(question.size(), 1u);
  EXPECT_NE(question[0]["target"].get<std::string>().find(player_), std::string::npos);

  // Within each step the bar only rises, and the last update says done.
  const std::vector<nlohmann::json> progress = events.Events("progress");
  ASSERT_GE(progress.size(), 3u);
  std::map<std::string, double> highest;
  for (const nlohmann::json& update : progress) {
    const std::string label = update["label"];
    EXPECT_GE(update["percent"].get<double>(), highest[label]) << label;
    highest[label] = update["percent"];
  }
  EXPECT_EQ(progress.back()["done"], true);
  EXPECT_EQ(progress.back()["percent"], 100.0);
  const Answer versions = Get("/api/versions?manifest=" + manifest);
  EXPECT_EQ(versions.Json()["result"]["upToDate"], true) << versions.body;
}

TEST_F(GuiTest, AnUpdateCutByAPowerCutIsRepairedByTheFixItNames) {
  MakeReflashedPlayer();
  const std::string manifest = NewerSet();
  // The update's transfers, counted once on a copy of the player: the cut
  // falls in the middle of its writing.
  const std::string base = scratch_ + "/base";
  std::filesystem::copy(player_, base, std::filesystem::copy_options::recursive);
  const ProgramRun traced = Orvik({"-v", "update", "--manifest", manifest});
  ASSERT_EQ(traced.exitCode, 0) << traced.err;
  uint64_t transfers = 0;
  const std::regex numbered("player: #(\\d+) ");
  for (std::sregex_iterator it(traced.err.begin(), traced.err.end(), numbered);
       it != std::sregex_iterator(); ++it)
    transfers = std::max<uint64_t>(transfers, std::stoull((*it)[1]));
  ASSERT_GT(transfers, 100u);
  std::filesystem::remove_all(player_);
  std::filesystem::copy(base, player_, std::filesystem::copy_options::recursive);
  ASSERT_EQ(
      Orvik({"sim", "faults", "--power-cut-after", std::to_string(transfers * 2 / 3)}).exitCode, 0);

  StartGui();
  ASSERT_FALSE(HasFatalFailure());
  EventReader events(port_, token_);
  const nlohmann::json cut = RunOperation(events, "update", {{"manifest", manifest}});
  ASSERT_TRUE(cut["error"].is_object()) << cut.dump(2);
  EXPECT_EQ(cut["exitCode"], 1);
  EXPECT_FALSE(cut["error"].value("playerState", "").empty()) << cut.dump(2);
  EXPECT_NE(cut["error"].value("action", "").find("fix"), std::string::npos) << cut.dump(2);

  const Answer before = Get("/api/state?manifest=" + manifest);
  ASSERT_EQ(before.status, 200);
  const nlohmann::json check = before.Json()["check"]["result"];
  EXPECT_EQ(check["healthy"], false) << before.body;
  EXPECT_TRUE(check["fix"].is_string()) << before.body;

  const nlohmann::json fixed = RunOperation(events, "fix", {{"manifest", manifest}});
  EXPECT_EQ(fixed["exitCode"], 0) << fixed.dump(2);
  const Answer after = Get("/api/state?manifest=" + manifest);
  EXPECT_EQ(after.Json()["check"]["result"]["healthy"], true) << after.body;
}

TEST_F(GuiTest, ServesOnlyTheLoopbackWithItsTokenAndOneOperationAtATime) {
  MakeReflashedPlayer();
  StartGui();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(web::testing::Request("GET", "/api/state", port_, "").status, 401);
  EXPECT_EQ(web::testing::Request("GET", "/", port_, "").status, 200);
  EventReader events(port_, token_);
  // A backup runs; a second operation meanwhile is refused.
  const Answer first =
      Post("/api/operations/reflash", {{"manifest", SampleManifest()}, {"backupFirst", false}});
  ASSERT_EQ(first.status, 202);
  EXPECT_EQ(Post("/api/operations/backup", nlohmann::json::object()).status, 409);
  EXPECT_EQ(Get("/api/blocks").status, 409);
  // The reflash waits on its question: saying no changes nothing.
  const std::vector<nlohmann::json> question = events.Wait("question", 1);
  ASSERT_EQ(question.size(), 1u);
  EXPECT_EQ(Post("/api/answer", {{"question", question[0]["id"]}, {"yes", false}}).status, 200);
  const std::vector<nlohmann::json> failure = events.Wait("failure", 1);
  ASSERT_EQ(failure.size(), 1u);
  EXPECT_EQ(failure[0]["error"]["code"], "cancelled");
  EXPECT_EQ(Get("/api/blocks").status, 200);
}

}  // namespace
}  // namespace orvik::tool::testing
