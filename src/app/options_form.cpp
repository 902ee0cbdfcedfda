#include "app/options_form.h"

#include <algorithm>
#include <optional>

#include "common/number_text.h"

namespace kestrova {

const std::array<const char*, 9> kPaperNames = {"A-0", "A-1", "A-2", "A-3", "A-4",
                                                "2A",  "3A",  "4A",  "5A"};
const std::array<const char*, 11> kMarkNames = {"・", "△", "□", "○",  "",  "■",
                                                "▲",  "●", "∫", "＞", "／"};
const std::array<const char*, 9> kBasePointNames = {"左下", "中下", "右下", "左中", "中中",
                                                    "右中", "左上", "中上", "右上"};
const std::array<const char*, 7> kVersionNames = {"V4.20（最新）", "V3.51-4.10a", "V3.00-3.50a",
                                                  "V2.30-2.51",    "V2.25-2.25e", "V2.23-2.24a",
                                                  "V2.20-2.22d"};
const std::array<uint32_t, 7> kVersionValues = {420, 351, 300, 230, 225, 223, 220};

namespace {

// A list shows no entry for a value it does not offer (a hand-edited settings file).
int ListIndex(int64_t value, size_t entries) {
  return value >= 0 && value < static_cast<int64_t>(entries) ? static_cast<int>(value) : -1;
}

bool InRange(int value, int low, int high) {
  return value >= low && value <= high;
}

OptionsForm::TextRow TextRowFrom(const OutputSettings::TextSection& t) {
  OptionsForm::TextRow row;
  row.Lay = t.Lay;
  row.MojiNo = static_cast<int>(t.MojiNo);
  row.MojiCl = static_cast<int>(t.MojiCl);
  row.OutFlg = t.OutFlg;
  row.BaseIndex = ListIndex(static_cast<int64_t>(t.MojiBs) - 1, kBasePointNames.size());
  return row;
}

// The values of the controls, without the enabling.
void FillValues(OptionsForm& form, const OutputSettings& s, uint32_t jwwVersion) {
  form.PaperIndex = ListIndex(s.WrtBAse.Size, kPaperNames.size());
  form.ScaleText = FormatGeneral(s.WrtBAse.Scale);
  form.Group = static_cast<int>(s.WrtBAse.Group);
  form.SurveyAxes = s.Coordinate.Flg;
  form.MmUnit = s.WrtBAse.mmFlg;
  form.CursorBase = s.WrtBAse.OutBaseFlg;
  const auto version = std::find(kVersionValues.begin(), kVersionValues.end(), jwwVersion);
  form.VersionIndex =
      version == kVersionValues.end() ? 0 : static_cast<int>(version - kVersionValues.begin());

  form.Point.Lay = s.Point.Lay;
  form.Point.LColor = s.Point.LColor;
  form.Point.OutFlg = s.Point.OutFlg;
  form.Point.EnkoFlg = s.Point.EnkoFlg;
  form.Point.CodeFlg = s.Point.CodeFlg;
  form.Point.CodeIndex = ListIndex(s.Point.Code, kMarkNames.size());
  form.Point.EnkoRText = FormatGeneral(s.Point.EnkoR);
  form.PointStr = TextRowFrom(s.PointStr);
  form.XYcoord = TextRowFrom(s.XYcoord);
  form.Zcoord = TextRowFrom(s.Zcoord);
}

// A positive number, or nullopt.
std::optional<double> PositiveNumber(const std::string& text) {
  const std::optional<double> v = ParseFloat(NarrowNumberForms(text));
  if (!v || !(*v > 0.0)) return std::nullopt;
  return v;
}

void ApplyTextRow(const OptionsForm::TextRow& row, OutputSettings::TextSection& t) {
  if (InRange(row.Lay, 0, 15)) t.Lay = static_cast<uint16_t>(row.Lay);
  if (InRange(row.MojiNo, 1, 10)) t.MojiNo = static_cast<uint32_t>(row.MojiNo);
  if (InRange(row.MojiCl, 1, 8)) t.MojiCl = static_cast<uint32_t>(row.MojiCl);
  t.OutFlg = row.OutFlg;
  if (InRange(row.BaseIndex, 0, 8)) t.MojiBs = row.BaseIndex + 1;
}

}  // namespace

OptionsForm OptionsFormFromSettings(OutputSettings& settings, uint32_t jwwVersion) {
  OptionsForm form;
  FillValues(form, settings, jwwVersion);
  form.CodeCheckEnabled = true;
  form.CodeListEnabled = true;
  PointOutChanged(form, settings);
  form.Point.CodeFlg = settings.Point.CodeFlg;
  form.CodeListEnabled = form.Point.CodeFlg;
  return form;
}

void ShowStoredOptions(OptionsForm& form, const OutputSettings& settings, uint32_t jwwVersion) {
  FillValues(form, settings, jwwVersion);
}

void PointOutChanged(OptionsForm& form, OutputSettings& settings) {
  form.CodeCheckEnabled = form.Point.OutFlg;
  form.CodeListEnabled = form.Point.OutFlg;
  if (!form.Point.OutFlg) settings.Point.CodeFlg = false;
}

void CodeFlagChanged(OptionsForm& form, OutputSettings& settings) {
  form.CodeListEnabled = form.Point.CodeFlg;
  settings.Point.CodeFlg = form.Point.CodeFlg;
}

std::vector<std::string> ApplyOptionsForm(const OptionsForm& form, OutputSettings& settings,
                                          uint32_t& jwwVersion) {
  std::vector<std::string> messages;
  OutputSettings& s = settings;
  if (InRange(form.PaperIndex, 0, static_cast<int>(kPaperNames.size()) - 1)) {
    s.WrtBAse.Size = form.PaperIndex;
  }
  // A scale of 0 or below makes every coordinate of the drawing infinite or mirrored.
  if (const auto scale = PositiveNumber(form.ScaleText)) {
    s.WrtBAse.Scale = *scale;
  } else {
    messages.push_back("縮尺「" + form.ScaleText + "」は 0 より大きい数値ではないため、縮尺は " +
                       FormatGeneral(s.WrtBAse.Scale) + " のままです。");
  }
  if (InRange(form.Group, 0, 15)) s.WrtBAse.Group = static_cast<uint32_t>(form.Group);

  s.WrtBAse.OutBaseFlg = form.CursorBase;
  s.WrtBAse.mmFlg = form.MmUnit;
  s.Point.OutFlg = form.Point.OutFlg;
  s.Point.CodeFlg = form.Point.CodeFlg;
  s.Point.EnkoFlg = form.Point.EnkoFlg;

  if (InRange(form.Point.Lay, 0, 15)) s.Point.Lay = static_cast<uint16_t>(form.Point.Lay);
  if (InRange(form.Point.LColor, 1, 9)) s.Point.LColor = static_cast<uint16_t>(form.Point.LColor);
  if (InRange(form.Point.CodeIndex, 0, static_cast<int>(kMarkNames.size()) - 1)) {
    s.Point.Code = static_cast<uint16_t>(form.Point.CodeIndex);
  }
  if (const auto diameter = PositiveNumber(form.Point.EnkoRText)) {
    s.Point.EnkoR = *diameter;
  } else {
    messages.push_back("円直径「" + form.Point.EnkoRText +
                       "」は 0 より大きい数値ではないため、円直径は " +
                       FormatGeneral(s.Point.EnkoR) + " mm のままです。");
  }
  ApplyTextRow(form.PointStr, s.PointStr);
  ApplyTextRow(form.XYcoord, s.XYcoord);
  ApplyTextRow(form.Zcoord, s.Zcoord);

  s.Coordinate.Flg = form.SurveyAxes;
  jwwVersion = InRange(form.VersionIndex, 0, static_cast<int>(kVersionValues.size()) - 1)
                   ? kVersionValues[static_cast<size_t>(form.VersionIndex)]
                   : 420;
  return messages;
}

}  // namespace kestrova
