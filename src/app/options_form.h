#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "coords/output_settings.h"

namespace kestrova {

// What the options dialog's controls hold, without the widgets: the dialog copies the
// form into its controls and back, the rules of filling, enabling and storing live here.
// Texts are UTF-8; list indexes are 0-based, -1 for no entry.
struct OptionsForm {
  // Tab " 出力設定 "
  int PaperIndex = 2;       // ComboBox1
  std::string ScaleText;    // Edit1
  int Group = 8;            // Edit2 / UpDown1, 0..15
  bool SurveyAxes = true;   // RadioGroup1: the second choice
  bool MmUnit = false;      // CheckBox8
  bool CursorBase = false;  // CheckBox7
  int VersionIndex = 0;     // RadioGroup2

  // Tab " 詳細設定 "
  struct PointRow {
    int Lay = 1;     // 0..15
    int LColor = 2;  // 1..9
    bool OutFlg = true;
    bool EnkoFlg = false;
    bool CodeFlg = true;
    int CodeIndex = 0;  // mark list
    std::string EnkoRText;
  } Point;
  struct TextRow {
    int Lay = 0;     // 0..15
    int MojiNo = 3;  // 1..10
    int MojiCl = 1;  // 1..8
    bool OutFlg = true;
    int BaseIndex = 0;  // 0..8 for base points 1..9
  };
  TextRow PointStr;
  TextRow XYcoord;
  TextRow Zcoord;

  // Enabling, kept by the click reactions.
  bool CodeCheckEnabled = true;  // "コード番号："
  bool CodeListEnabled = true;   // the mark list
};

extern const std::array<const char*, 9> kPaperNames;      // "A-0" .. "5A"
extern const std::array<const char*, 11> kMarkNames;      // "・" .. "／" (UTF-8)
extern const std::array<const char*, 9> kBasePointNames;  // "左下" .. "右上" (UTF-8)
extern const std::array<const char*, 7> kVersionNames;    // "V4.20（最新）" ..
extern const std::array<uint32_t, 7> kVersionValues;      // 420 .. 220

// Copies the settings into a fresh form, as the dialog does once at start-up (with the
// click reaction of "点出力 " that clears Point.CodeFlg when points are not written).
OptionsForm OptionsFormFromSettings(OutputSettings& settings, uint32_t jwwVersion);

// Puts the stored values back into the controls after a close, so that a value that
// could not be taken shows what is in force; the enabling and the check boxes' click
// state stay as the dialog left them.
void ShowStoredOptions(OptionsForm& form, const OutputSettings& settings, uint32_t jwwVersion);

// The click reactions; they run whenever the box changes state.
void PointOutChanged(OptionsForm& form, OutputSettings& settings);
void CodeFlagChanged(OptionsForm& form, OutputSettings& settings);

// Stores the controls into the settings when the dialog closes. A value that cannot be
// taken keeps the previous setting and is described in the returned messages (UTF-8),
// which the command shows.
std::vector<std::string> ApplyOptionsForm(const OptionsForm& form, OutputSettings& settings,
                                          uint32_t& jwwVersion);

}  // namespace kestrova
