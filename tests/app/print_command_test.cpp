#include "app/print_command.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/scripted_prompts.h"
#include "common/error.h"
#include "view/print_test_support.h"

namespace kestrova {
namespace {

using Events = std::vector<std::string>;

using test::ScriptedPrompts;

// A printer that logs the job's steps and fails at the step a test names ("begin",
// "page N" for the N-th new page, "end") with what the test asks for.
class FakeTarget : public PrintTarget {
 public:
  enum class Failure { kError, kStd, kOdd };
  explicit FakeTarget(Events& events) : events_(events) {}

  bool ChoosePrinter() override {
    events_.push_back("choose");
    return choose;
  }
  PageGeometry Page() override { return page; }
  TextMetrics& Metrics() override { return metrics; }
  void BeginDocument() override { Step("begin"); }
  Canvas& PageCanvas() override { return canvas; }
  void NewPage() override { Step("page " + std::to_string(++newPages)); }
  void EndDocument() override { Step("end"); }
  void AbortDocument() noexcept override { events_.push_back("abort"); }

  bool choose = true;
  std::string failAt;
  Failure failure = Failure::kError;
  int newPages = 0;
  // 254 dpi on a 1000 x 600 sheet: three rows and three column groups per band.
  PageGeometry page{1000, 600, 254, 254};
  FixedMetrics metrics;
  RecordingCanvas canvas;

 private:
  void Step(const std::string& step) {
    if (step == failAt) {
      if (failure == Failure::kStd) throw std::runtime_error("out of paper");
      if (failure == Failure::kOdd) throw 42;
      throw Error("the printer failed at " + step);
    }
    events_.push_back(step.starts_with("page") ? "page" : step);
  }
  Events& events_;
};

struct PrintCommandTest : ::testing::Test {
  void SetUp() override {
    prompts.events = &events;
    ClearPointTable(ws.Coords.Table, ws.Coords.Sima, ws.Grid);
    screen.DpiX = screen.DpiY = 127;
  }
  void LoadSevenPoints() { ws.Grid = SevenPointGrid(&ws.Coords.Table); }
  void Run() { PrintCoordinateListCommand(ctx, target, screen); }
  size_t PagesDrawn() const {
    size_t n = 0;
    for (const CanvasCall& c : target.canvas.calls)
      n += c.kind == CanvasCall::Kind::kSetFont;
    return n;
  }

  Events events;
  Workspace ws;
  ScriptedPrompts prompts;
  test::RecordingView view;
  test::MemorySink clipboard;
  CommandContext ctx{ws, prompts, view, clipboard, nullptr, {}, {}, {}};
  FakeTarget target{events};
  GridGeometry screen;
};

const char kNoPoints[] = "座標データがありません。";
const char kQuestion[] = "座標データを印刷しますか？　";

TEST_F(PrintCommandTest, QuestionsAndTheirCancelPaths) {
  // An empty table: the first question, and Cancel ends the command there.
  prompts.answers = {Prompts::Answer::kCancel};
  Run();
  ASSERT_EQ(prompts.shown.size(), 1u);
  prompts.ExpectShown(0, Prompts::Kind::kConfirmation, Prompts::Buttons::kOkCancel, kNoPoints);
  EXPECT_EQ(events, Events{"message"});

  // OK, then Cancel on the print question.
  prompts.shown.clear();
  events.clear();
  prompts.answers = {Prompts::Answer::kOk, Prompts::Answer::kCancel};
  Run();
  ASSERT_EQ(prompts.shown.size(), 2u);
  prompts.ExpectShown(1, Prompts::Kind::kConfirmation, Prompts::Buttons::kOkCancel, kQuestion);
  EXPECT_EQ(events, (Events{"message", "message"}));

  // With points only the print question; cancelling the printer dialog prints nothing
  // and says nothing.
  LoadSevenPoints();
  prompts.shown.clear();
  events.clear();
  target.choose = false;
  prompts.answers = {Prompts::Answer::kOk};
  Run();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text, kQuestion);
  EXPECT_EQ(events, (Events{"message", "choose"}));
  EXPECT_TRUE(target.canvas.calls.empty());
}

TEST_F(PrintCommandTest, PrintsEverySheetOnceAndEndsTheJob) {
  LoadSevenPoints();
  // The cell being edited is printed as typed.
  view.onCommit = [this] { ws.Grid.Rows[2][2] = "typed"; };
  Run();
  bool typed = false;
  for (const CanvasCall& c : target.canvas.calls)
    typed |= c.kind == CanvasCall::Kind::kText && c.text == "typed";
  EXPECT_TRUE(typed);
  // Nine sheets: the layout's three bands of three column groups.
  Events expected = {"message", "choose", "busy", "begin"};
  for (int i = 0; i < 8; ++i)
    expected.push_back("page");
  expected.insert(expected.end(), {"end", "idle"});
  EXPECT_EQ(events, expected);
  EXPECT_EQ(PagesDrawn(), 9u);
  EXPECT_EQ(prompts.shown.size(), 1u);

  // After OK twice an empty table prints its empty ruled grid: header and ten rows.
  ClearPointTable(ws.Coords.Table, ws.Coords.Sima, ws.Grid);
  events.clear();
  target.canvas.Clear();
  target.newPages = 0;
  Run();
  EXPECT_EQ(prompts.shown.size(), 3u);
  EXPECT_EQ(PagesDrawn(), 12u);  // bands 1-3, 4-6, 7-9, 10; three groups each
  EXPECT_EQ(events.back(), "idle");
  EXPECT_EQ(events[events.size() - 2], "end");
}

TEST_F(PrintCommandTest, FailuresAbortTheJobRestoreTheCursorAndAreShown) {
  LoadSevenPoints();
  using F = FakeTarget::Failure;
  const struct {
    const char* at;
    F failure;
    size_t pagesDrawn;
    std::string message;
  } cases[] = {
      {"page 3", F::kError, 3, "the printer failed at page 3"},
      {"page 1", F::kStd, 1, "out of paper"},
      {"page 2", F::kOdd, 2, "予期しないエラーで処理を中止しました。"},
      {"begin", F::kError, 0, "the printer failed at begin"},
      {"end", F::kError, 9, "the printer failed at end"},
  };
  for (const auto& c : cases) {
    events.clear();
    target.canvas.Clear();
    target.newPages = 0;
    target.failAt = c.at;
    target.failure = c.failure;
    Run();
    // The job is aborted, the cursor restored, and only then the error shown.
    Events expected = {"message", "choose", "busy"};
    if (std::string(c.at) != "begin") expected.push_back("begin");
    for (size_t i = 1; i < c.pagesDrawn; ++i)
      expected.push_back("page");
    expected.insert(expected.end(), {"abort", "idle", "message"});
    EXPECT_EQ(events, expected) << c.at;
    EXPECT_EQ(PagesDrawn(), c.pagesDrawn) << c.at;
    EXPECT_EQ(prompts.shown.back().kind, Prompts::Kind::kError);
    EXPECT_EQ(prompts.shown.back().buttons, Prompts::Buttons::kOk);
    EXPECT_EQ(prompts.shown.back().text, c.message);
  }
}

TEST_F(PrintCommandTest, APageWithoutRoomForARowNeverStartsAJob) {
  LoadSevenPoints();
  target.page.Height = 450 + 71;
  Run();
  EXPECT_EQ(events, (Events{"message", "choose", "busy", "idle", "message"}));
  EXPECT_TRUE(target.canvas.calls.empty());
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(prompts.shown[1].kind, Prompts::Kind::kError);
  EXPECT_TRUE(prompts.shown[1].text.starts_with("用紙が小さすぎるため、座標一覧を印刷できません。"))
      << prompts.shown[1].text;
}

}  // namespace
}  // namespace kestrova
