#pragma once

// The desktop program's dialogs, window and clipboard as the command tests drive them:
// answers and files come from a script, and whatever was shown is recorded.

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/messages.h"
#include "common/error.h"

namespace kestrova::test {

// The bundled examples' folder as the program spells a folder: absolute, with its own
// separators and a final one.
inline const std::string kExamples =
    (std::filesystem::absolute(KESTROVA_SOURCE_DIR "/examples") / "").make_preferred().string();

class ScriptedPrompts : public Prompts {
 public:
  struct Shown {
    Kind kind;
    Buttons buttons;
    std::string text;
  };

  Answer Message(Kind kind, Buttons buttons, const std::string& text) override {
    shown.push_back({kind, buttons, text});
    Log("message");
    EXPECT_EQ(busyDepth, 0) << "a message under the hourglass: " << text;
    return Next(answers, Answer::kOk);
  }
  std::optional<FileChoice> OpenFile(const std::string& filter,
                                     const std::filesystem::path& start) override {
    return File(filter, start);
  }
  std::optional<FileChoice> SaveFile(const std::string& filter,
                                     const std::filesystem::path& start) override {
    return File(filter, start);
  }
  std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                       const std::string& text) override {
    inputs.push_back(caption + "|" + prompt + "|" + text);
    return typed;
  }
  std::unique_ptr<BusyGuard> Busy() override {
    ++busyCount;
    return std::make_unique<Guard>(*this);
  }
  std::unique_ptr<WorkGuard> LongWork(const std::string& text) override {
    works.push_back(text);
    fractions.clear();
    return std::make_unique<Work>(*this, Busy());
  }
  bool EditOptions(OptionsForm& form) override {
    OptionsForm edited = form;
    if (onOptions) onOptions(edited);
    if (optionsOk) form = edited;
    return optionsOk;
  }
  void ShowVersion() override { ++versionBoxes; }
  void PrinterSetup() override { throw std::runtime_error("no printer"); }
  std::optional<GisChoice> ChooseGisExport(const std::vector<SurveySystem>& systems,
                                           const GisChoice& current) override {
    offered = systems.size();
    asked.push_back(current.Crs + "|" + current.Format);
    return Next(choices, std::optional<GisChoice>());
  }

  // The i-th message shown, with its icon and buttons.
  void ExpectShown(size_t i, Kind kind, Buttons buttons, const std::string& text) const {
    ASSERT_LT(i, shown.size()) << text;
    EXPECT_EQ(shown[i].kind, kind) << text;
    EXPECT_EQ(shown[i].buttons, buttons) << text;
    EXPECT_EQ(shown[i].text, text);
  }

  std::deque<Answer> answers;
  std::deque<std::optional<FileChoice>> files;
  std::deque<std::optional<GisChoice>> choices;
  std::optional<std::string> typed;
  std::function<void(OptionsForm&)> onOptions;
  bool optionsOk = true;  // the options dialog is closed with OK
  std::vector<Shown> shown;
  std::vector<std::string> dialogs;  // filter|start folder, open and save alike
  std::vector<std::string> inputs;   // caption|prompt|text shown
  std::vector<std::string> asked;    // crs|format offered as the current GIS choice
  std::vector<std::string> works;    // the texts of long work, in order
  std::vector<double> fractions;     // how far the last long work came
  // When set, "message", "busy" and "idle" in the order they happened.
  std::vector<std::string>* events = nullptr;
  bool stopWork = false;  // the stop button is pressed at once
  size_t offered = 0;     // survey systems offered in the GIS dialog
  int busyDepth = 0;
  int busyCount = 0;
  int versionBoxes = 0;

 private:
  struct Guard : BusyGuard {
    explicit Guard(ScriptedPrompts& p) : prompts(p) {
      ++prompts.busyDepth;
      prompts.Log("busy");
    }
    ~Guard() override {
      --prompts.busyDepth;
      prompts.Log("idle");
    }
    ScriptedPrompts& prompts;
  };
  // Long work records how far it came and stops when the script says so.
  struct Work : WorkGuard {
    Work(ScriptedPrompts& p, std::unique_ptr<BusyGuard> b) : prompts(p), busy(std::move(b)) {}
    bool Continue(double fraction) override {
      EXPECT_TRUE(prompts.fractions.empty() || fraction >= prompts.fractions.back());
      prompts.fractions.push_back(fraction);
      return !prompts.stopWork;
    }
    ScriptedPrompts& prompts;
    std::unique_ptr<BusyGuard> busy;
  };

  void Log(const char* event) {
    if (events) events->push_back(event);
  }
  std::optional<FileChoice> File(const std::string& filter, const std::filesystem::path& start) {
    dialogs.push_back(filter + "|" + start.string());
    return Next(files, std::optional<FileChoice>());
  }
  template <class T>
  static T Next(std::deque<T>& script, T otherwise) {
    if (script.empty()) return otherwise;
    T next = script.front();
    script.pop_front();
    return next;
  }
};

// With a workspace, fits its view as a 400 x 300 plot would.
class RecordingView : public MainView {
 public:
  void SetStatusText(int panel, const std::string& text) override { status.at(panel) = text; }
  void SetTitle(const std::string& text) override { title = text; }
  void CommitGridEdit() override {
    calls += "commit ";
    if (onCommit) onCommit();
  }
  void GridChanged() override { calls += "grid "; }
  void FitPlot() override {
    calls += "fit ";
    if (ws) FitView(ws->View, ws->Bounds, ws->Coords.Table.PointCount, 400, 300);
  }
  void HomePlot() override {
    calls += "home ";
    if (ws) {
      FitView(ws->View, ws->Bounds, ws->Coords.Table.PointCount, 400, 300, RefitKind::kHomeKey);
    }
  }
  void RepaintPlot() override { calls += "repaint "; }
  bool OpenManual(const std::filesystem::path& file) override {
    opened = file;
    return browserWorks;
  }
  void Close() override { calls += "close "; }

  Workspace* ws = nullptr;
  std::function<void()> onCommit;  // what an open grid editor hands over
  std::array<std::string, 3> status;
  std::string title = " Kestrova";
  std::string calls;
  std::filesystem::path opened;
  bool browserWorks = true;
};

class MemorySink : public ClipboardSink {
 public:
  void SetJwWinData(std::string_view payload) override {
    if (busy) throw Error(MessageId::kClipboardBusy, {});
    bytes.assign(payload);
    ++calls;
  }
  std::string bytes;
  int calls = 0;      // payloads handed over
  bool busy = false;  // another program holds the clipboard
};

// A command context over a fresh folder with the program's settings file in it; the
// folder's name is random too, for two builds' tests may run at once.
class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("kestrova-") + test->test_suite_name() + "-" + test->name() + "-" +
            std::to_string(std::random_device{}()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "program");
    ctx_.settingsFile = dir_ / "program" / "Kestrova.INI";
    ctx_.programFolder = dir_ / "program";
    view_.ws = &ws_;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Choose(const std::filesystem::path& file, int filterIndex = 1) {
    prompts_.files.push_back(Prompts::FileChoice{file, filterIndex});
  }
  void LoadSite() {
    Choose(kExamples + "site.sim");
    LoadCommand(ctx_);
    ASSERT_EQ(ws_.Coords.Table.PointCount, 11);
  }

  std::filesystem::path dir_;
  Workspace ws_;
  ScriptedPrompts prompts_;
  RecordingView view_;
  MemorySink sink_;
  CommandContext ctx_{ws_, prompts_, view_, sink_, nullptr, {}, {}, {}};
};

}  // namespace kestrova::test
