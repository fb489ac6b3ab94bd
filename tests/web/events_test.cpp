// The events an operation sends the page, and the question it asks there.
#include <gtest/gtest.h>

#include <thread>

#include "base/tool_error.h"
#include "support/case_names.h"
#include "web/web_events.h"

namespace orvik::tool::web {
namespace {

using namespace std::chrono_literals;

std::vector<WebEvent> OfType(const EventHub& hub, const std::string& type) {
  std::vector<WebEvent> out;
  for (const WebEvent& event : hub.Since(0))
    if (event.type == type) out.push_back(event);
  return out;
}

TEST(EventHubTest, KeepsTheNewestEventsAndStartsAStreamAtTheRunningOperation) {
  EventHub hub(3);
  for (int i = 1; i <= 5; ++i) hub.Publish("line", {{"n", i}});
  const std::vector<WebEvent> kept = hub.Since(0);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept.front().id, 3u);
  EXPECT_EQ(hub.Since(4).size(), 1u);
  EXPECT_EQ(hub.StreamStart(), 5u);  // nothing runs: only what comes next
  hub.BeginOperation();
  hub.Publish("start", {});
  hub.Publish("line", {});
  EXPECT_EQ(hub.StreamStart(), 5u);  // a page that opens now sees the whole operation
  hub.EndOperation();
  EXPECT_EQ(hub.StreamStart(), 7u);
}

TEST(EventHubTest, AnEventIsOneBlockOfTheStreamWhateverItsText) {
  const std::string text = EventStreamText({9, "line", {{"text", "two\nlines\r\n\n"}}});
  EXPECT_EQ(text.rfind("id: 9\nevent: line\ndata: ", 0), 0u);
  // The only blank line is the one that ends the event.
  EXPECT_EQ(text.find("\n\n"), text.size() - 2);
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

ProgressUpdate Update(const std::string& label, double percent,
                      std::optional<double> secondsLeft = std::nullopt, bool done = false) {
  return {label, percent, secondsLeft, done};
}

struct ProgressCase {
  std::string name;
  std::vector<ProgressUpdate> updates;
  std::vector<double> sent;  // the percentages that reach the page
};

class ProgressTest : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressTest, SendsOnlyWhatThePageWouldShowDifferently) {
  EventHub hub;
  QuestionBox questions;
  WebEvents events(hub, questions, 1s);
  for (const ProgressUpdate& update : GetParam().updates) events.Progress(update);
  std::vector<double> sent;
  for (const WebEvent& event : OfType(hub, "progress")) sent.push_back(event.data["percent"]);
  EXPECT_EQ(sent, GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Updates, ProgressTest,
    ::testing::Values(
        ProgressCase{"SameWholePercent",
                     {Update("Writing", 10.1), Update("Writing", 10.7), Update("Writing", 11.0)},
                     {10.1, 11.0}},
        ProgressCase{
            "NewStep", {Update("Scanning", 100.0), Update("Writing", 100.0)}, {100.0, 100.0}},
        ProgressCase{"TimeLeftChanges",
                     {Update("Writing", 20.0, 30.0), Update("Writing", 20.2, 30.2),
                      Update("Writing", 20.4, 29.0)},
                     {20.0, 20.4}},
        ProgressCase{"DoneAlwaysSent",
                     {Update("Writing", 100.0), Update("Writing", 100.0, std::nullopt, true)},
                     {100.0, 100.0}},
        ProgressCase{"OutOfRangeClamped",
                     {Update("Writing", 140.0), Update("Erasing", -3.0)},
                     {100.0, 0.0}}),
    orvik::testing::NameOfCase());

TEST(ProgressJsonTest, SecondsLeftIsWholeAndNullUntilKnown) {
  EXPECT_TRUE(ProgressJson(Update("Writing", 5.0)).at("secondsLeft").is_null());
  EXPECT_EQ(ProgressJson(Update("Writing", 5.0, 61.6)).at("secondsLeft"), 62);
}

// The question's round trip: the operation's thread asks, the page's
// answer (through the box, as POST /api/answer hands it over) decides.
class ConfirmTest : public ::testing::Test {
 protected:
  // Runs Confirm on a thread of its own and answers the question it sends
  // with answer (nullopt: no answer); returns the problem it threw, if any.
  std::optional<Problem> Ask(std::optional<bool> answer, std::chrono::milliseconds limit = 5s) {
    WebEvents events(hub_, questions_, limit);
    std::optional<Problem> problem;
    std::thread operation([&] {
      try {
        events.Confirm({"orvik reflash", "erase the flash", "every file", "orvik backup ...",
                        "simulated player in p", "saved.img"});
      } catch (const ToolError& failure) {
        problem = failure.problem();
      }
    });
    if (answer) {
      while (OfType(hub_, "question").size() <= asked_) std::this_thread::sleep_for(1ms);
      const WebEvent question = OfType(hub_, "question").back();
      EXPECT_TRUE(questions_.Answer(question.data["id"], *answer));
    }
    operation.join();
    ++asked_;
    return problem;
  }

  EventHub hub_;
  QuestionBox questions_;
  size_t asked_ = 0;
};

TEST_F(ConfirmTest, TheQuestionCarriesWhatTheTerminalPromptShows) {
  EXPECT_FALSE(Ask(true).has_value());
  const nlohmann::json question = OfType(hub_, "question").at(0).data;
  EXPECT_EQ(question["target"], "simulated player in p");
  EXPECT_EQ(question["what"], "erase the flash");
  EXPECT_EQ(question["lost"], "every file");
  EXPECT_EQ(question["backup"], "orvik backup ...");
  EXPECT_EQ(question["backupMade"], "saved.img");
  const nlohmann::json answered = OfType(hub_, "answered").at(0).data;
  EXPECT_EQ(answered["id"], question["id"]);
  EXPECT_EQ(answered["yes"], true);
}

TEST_F(ConfirmTest, NoOrNoAnswerInTimeCancelsAndChangesNothing) {
  std::optional<Problem> refused = Ask(false);
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->code, "cancelled");
  const auto started = std::chrono::steady_clock::now();
  std::optional<Problem> unanswered = Ask(std::nullopt, 300ms);
  ASSERT_TRUE(unanswered.has_value());
  EXPECT_EQ(unanswered->code, "cancelled");
  EXPECT_NE(unanswered->message.find("No answer"), std::string::npos);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
  // Each question has its own id; the old one cannot be answered any more.
  const std::vector<WebEvent> questions = OfType(hub_, "question");
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_NE(questions[0].data["id"], questions[1].data["id"]);
  EXPECT_FALSE(questions_.Answer(questions[1].data["id"], true));
  EXPECT_FALSE(questions_.Open().has_value());
}

TEST(QuestionBoxTest, StopsWaitingWhenTheToolStops) {
  QuestionBox questions;
  std::atomic<bool> stopping{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(50ms);
    stopping = true;
  });
  EXPECT_EQ(questions.Ask(1, 60s, [&] { return stopping.load(); }), AnswerOutcome::kStopped);
  stopper.join();
}

}  // namespace
}  // namespace orvik::tool::web
