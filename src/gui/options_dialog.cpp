#include "gui/options_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/fonts.h"
#include "gui/qt_text.h"

namespace kestrova {

namespace {

QSpinBox* NewSpin(QWidget* parent, const char* name, int low, int high) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(QLatin1String(name));
  spin->setRange(low, high);
  spin->setFixedWidth(48);
  spin->setAlignment(Qt::AlignRight);
  // Once the user changes a value that a hand-edited settings file put outside the
  // range, the box is back to its own range.
  QObject::connect(spin, &QSpinBox::valueChanged, spin,
                   [spin, low, high] { spin->setRange(low, high); });
  spin->setProperty("low", low);
  spin->setProperty("high", high);
  return spin;
}

// A value outside the box's range (a hand-edited settings file) is shown and kept as it
// is rather than quietly cut to the range, which the next OK would have stored.
void ShowSpinValue(QSpinBox* spin, int value) {
  const QSignalBlocker quiet(spin);
  const int low = spin->property("low").toInt();
  const int high = spin->property("high").toInt();
  spin->setRange(std::min(low, value), std::max(high, value));
  spin->setValue(value);
}

QCheckBox* NewCheck(QWidget* parent, const char* name, const QString& text) {
  auto* check = new QCheckBox(text, parent);
  check->setObjectName(QLatin1String(name));
  return check;
}

template <size_t N>
QComboBox* NewList(QWidget* parent, const char* name, const std::array<const char*, N>& entries) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QLatin1String(name));
  for (const char* entry : entries)
    combo->addItem(Utf8ToQt(entry));
  combo->setEditable(false);  // only an entry chosen from the list counts
  combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  return combo;
}

QFrame* Rule(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

QLabel* Heading(QWidget* parent, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignCenter);
  return label;
}

void SetIndex(QComboBox* combo, int index) {
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

}  // namespace

OptionsDialog::OptionsDialog(OutputSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setObjectName(QStringLiteral("OptFrm"));
  setWindowTitle(QStringLiteral("　ｵﾌﾟｼｮﾝ設定"));
  setFont(PGothicFont(12));
  setModal(true);
  setFixedSize(482, 410);

  auto* tabs = new QTabWidget(this);
  tabs->setObjectName(QStringLiteral("PageControl1"));
  tabs->addTab(BuildOutputTab(), QStringLiteral(" 出力設定 "));
  tabs->addTab(BuildDetailTab(), QStringLiteral(" 詳細設定 "));

  auto* ok = new QPushButton(QStringLiteral("ＯＫ"), this);
  ok->setObjectName(QStringLiteral("Button1"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
  cancel->setObjectName(QStringLiteral("Button2"));
  // Only OK takes the controls; Cancel, like Escape and the close box, rejects.
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(tabs);
  layout->addLayout(buttons);

  connect(pointOut_, &QCheckBox::toggled, this, &OptionsDialog::PointOutClicked);
  connect(codeFlag_, &QCheckBox::toggled, this, &OptionsDialog::CodeFlagClicked);
}

QWidget* OptionsDialog::BuildOutputTab() {
  auto* tab = new QWidget;
  tab->setObjectName(QStringLiteral("TabSheet1"));

  auto* basic = new QGroupBox(QStringLiteral(" データ書込基本設定 "), tab);
  basic->setObjectName(QStringLiteral("GroupBox1"));
  paper_ = NewList(basic, "ComboBox1", kPaperNames);
  scale_ = new QLineEdit(basic);
  scale_->setObjectName(QStringLiteral("Edit1"));
  scale_->setAlignment(Qt::AlignRight);
  group_ = NewSpin(basic, "Edit2", 0, 15);
  auto* basicGrid = new QGridLayout(basic);
  basicGrid->setContentsMargins(8, 4, 8, 6);
  basicGrid->setVerticalSpacing(4);
  basicGrid->addWidget(new QLabel(QStringLiteral("用紙サイズ："), basic), 0, 0, Qt::AlignRight);
  basicGrid->addWidget(paper_, 0, 1);
  basicGrid->addWidget(new QLabel(QStringLiteral("縮 尺 ＝ １ ／"), basic), 1, 0, Qt::AlignRight);
  basicGrid->addWidget(scale_, 1, 1);
  basicGrid->addWidget(new QLabel(QStringLiteral("書込グループ："), basic), 2, 0, Qt::AlignRight);
  basicGrid->addWidget(group_, 2, 1, Qt::AlignLeft);
  basicGrid->setColumnStretch(1, 1);

  auto* name = new QLabel(QStringLiteral("Kestrova "), tab);
  QFont nameFont = GothicFont(22);
  nameFont.setBold(true);
  nameFont.setItalic(true);
  name->setFont(nameFont);
  name->setStyleSheet(QStringLiteral("color: rgb(0, 64, 128);"));
  name->setAlignment(Qt::AlignCenter);
  auto* line = new QLabel(QStringLiteral("－ Kestrova File converter －"), tab);
  line->setStyleSheet(QStringLiteral("color: rgb(96, 96, 96);"));
  line->setAlignment(Qt::AlignCenter);
  auto* decoration = new QVBoxLayout;
  decoration->addStretch();
  decoration->addWidget(name);
  decoration->addWidget(line);
  decoration->addStretch();

  auto* axes = new QGroupBox(QStringLiteral(" 座標系 （simaﾌｧｲﾙ系は、測量座標） "), tab);
  axes->setObjectName(QStringLiteral("RadioGroup1"));
  mathAxes_ = new QRadioButton(QStringLiteral("数学座標系　（縦軸：Ｙ　横軸：Ｘ）"), axes);
  surveyAxes_ = new QRadioButton(QStringLiteral("測量座標系　（縦軸：Ｘ　横軸：Ｙ）"), axes);
  auto* axesLayout = new QVBoxLayout(axes);
  axesLayout->setContentsMargins(8, 2, 8, 4);
  axesLayout->setSpacing(2);
  axesLayout->addWidget(mathAxes_);
  axesLayout->addWidget(surveyAxes_);

  mmUnit_ = NewCheck(tab, "CheckBox8", QStringLiteral("座標値単位を ［mm］ とする"));
  cursorBase_ =
      NewCheck(tab, "CheckBox7", QStringLiteral("シート上のカーソル位置を貼付基準点としてJww出力"));

  auto* version = new QGroupBox(QStringLiteral(" Jww保存バージョン形式 "), tab);
  version->setObjectName(QStringLiteral("RadioGroup2"));
  auto* versionGrid = new QGridLayout(version);
  versionGrid->setContentsMargins(8, 2, 8, 4);
  versionGrid->setVerticalSpacing(2);
  auto* versionButtons = new QButtonGroup(version);
  for (size_t i = 0; i < versions_.size(); ++i) {
    versions_[i] = new QRadioButton(Utf8ToQt(kVersionNames[i]), version);
    versionButtons->addButton(versions_[i], static_cast<int>(i));
    versionGrid->addWidget(versions_[i], static_cast<int>(i % 4), static_cast<int>(i / 4));
  }

  auto* top = new QHBoxLayout;
  top->addWidget(basic, 3);
  top->addLayout(decoration, 2);
  auto* layout = new QVBoxLayout(tab);
  layout->setContentsMargins(8, 6, 8, 6);
  layout->setSpacing(6);
  layout->addLayout(top);
  layout->addWidget(axes);
  layout->addWidget(mmUnit_);
  layout->addWidget(cursorBase_);
  layout->addWidget(version);
  return tab;
}

QWidget* OptionsDialog::BuildDetailTab() {
  auto* tab = new QWidget;
  tab->setObjectName(QStringLiteral("TabSheet2"));
  auto* frame = new QGroupBox(QStringLiteral(" データ書込詳細設定 "), tab);
  frame->setObjectName(QStringLiteral("GroupBox2"));
  auto* grid = new QGridLayout(frame);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(8);
  const auto right = Qt::AlignRight | Qt::AlignVCenter;

  // Points: two lines of controls.
  pointLay_ = NewSpin(frame, "PointLay", 0, 15);
  pointColour_ = NewSpin(frame, "PointLColor", 1, 9);
  pointOut_ = NewCheck(frame, "PointOutFlg", QStringLiteral("点出力 "));
  circleOut_ = NewCheck(frame, "PointEnkoFlg", QStringLiteral("円出力"));
  codeFlag_ = NewCheck(frame, "PointCodeFlg", QStringLiteral("コード番号："));
  mark_ = NewList(frame, "PointCode", kMarkNames);
  diameter_ = new QLineEdit(frame);
  diameter_->setObjectName(QStringLiteral("PointEnkoR"));
  diameter_->setAlignment(Qt::AlignRight);
  diameter_->setFixedWidth(60);

  grid->addWidget(Heading(frame, QStringLiteral("レイヤー [0-15]")), 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("測　点："), frame), 1, 0, right);
  grid->addWidget(pointLay_, 1, 1, Qt::AlignCenter);
  auto* colourBox = new QHBoxLayout;
  colourBox->addWidget(new QLabel(QStringLiteral("線　色："), frame));
  colourBox->addWidget(pointColour_);
  grid->addLayout(colourBox, 1, 2, 1, 2);
  grid->addWidget(pointOut_, 1, 4);
  grid->addWidget(circleOut_, 1, 5);
  auto* codeBox = new QHBoxLayout;
  codeBox->addWidget(codeFlag_);
  codeBox->addWidget(mark_);
  codeBox->addStretch();
  grid->addLayout(codeBox, 2, 1, 1, 3);
  auto* diameterBox = new QHBoxLayout;
  diameterBox->addWidget(new QLabel(QStringLiteral("円直径："), frame));
  diameterBox->addWidget(diameter_);
  diameterBox->addWidget(new QLabel(QStringLiteral("mm"), frame));
  diameterBox->addStretch();
  grid->addLayout(diameterBox, 2, 4, 1, 2);
  grid->addWidget(Rule(frame), 3, 0, 1, 6);

  grid->addWidget(Heading(frame, QStringLiteral("レイヤー [0-15]")), 4, 1);
  grid->addWidget(Heading(frame, QStringLiteral("文字種")), 4, 2);
  grid->addWidget(Heading(frame, QStringLiteral("色Ｎo.")), 4, 3);
  grid->addWidget(Heading(frame, QStringLiteral("文字基点")), 4, 5);

  struct RowSpec {
    TextRowControls* controls;
    const char* prefix;
    QString label;
    QString check;
  };
  const RowSpec rows[] = {
      {&pointStr_, "PointStr", QStringLiteral("測点名："), QStringLiteral("測点名出力")},
      {&xyCoord_, "XYcoord", QStringLiteral("XY座標："), QStringLiteral("XY座標値出力")},
      {&zCoord_, "Zcoord", QStringLiteral("Ｚ座標："), QStringLiteral("Ｚ座標値出力")},
  };
  int line = 5;
  for (const RowSpec& spec : rows) {
    const std::string prefix = spec.prefix;
    TextRowControls& c = *spec.controls;
    c.lay = NewSpin(frame, (prefix + "Lay").c_str(), 0, 15);
    c.mojiNo = NewSpin(frame, (prefix + "MojiNo").c_str(), 1, 10);
    c.mojiCl = NewSpin(frame, (prefix + "MojiCl").c_str(), 1, 8);
    c.outFlg = NewCheck(frame, (prefix + "OutFlg").c_str(), spec.check);
    c.base = NewList(frame, (prefix + "MojiBs").c_str(), kBasePointNames);
    if (line > 5) grid->addWidget(Rule(frame), line++, 0, 1, 6);
    grid->addWidget(new QLabel(spec.label, frame), line, 0, right);
    grid->addWidget(c.lay, line, 1, Qt::AlignCenter);
    grid->addWidget(c.mojiNo, line, 2, Qt::AlignCenter);
    grid->addWidget(c.mojiCl, line, 3, Qt::AlignCenter);
    grid->addWidget(c.outFlg, line, 4);
    grid->addWidget(c.base, line, 5);
    ++line;
  }
  grid->setRowStretch(line, 1);

  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(frame);
  return tab;
}

bool OptionsDialog::Edit(OptionsForm& form) {
  form_ = form;
  LoadForm(form_);
  if (exec() != QDialog::Accepted) return false;
  StoreForm(form);
  return true;
}

void OptionsDialog::LoadForm(const OptionsForm& form) {
  loading_ = true;
  form_ = form;
  SetIndex(paper_, form.PaperIndex);
  scale_->setText(Utf8ToQt(form.ScaleText));
  ShowSpinValue(group_, form.Group);
  surveyAxes_->setChecked(form.SurveyAxes);
  mathAxes_->setChecked(!form.SurveyAxes);
  mmUnit_->setChecked(form.MmUnit);
  cursorBase_->setChecked(form.CursorBase);
  // An index no entry has shows no choice at all.
  QButtonGroup* versionGroup = versions_[0]->group();
  versionGroup->setExclusive(false);
  for (size_t i = 0; i < versions_.size(); ++i) {
    versions_[i]->setChecked(static_cast<int>(i) == form.VersionIndex);
  }
  versionGroup->setExclusive(true);

  ShowSpinValue(pointLay_, form.Point.Lay);
  ShowSpinValue(pointColour_, form.Point.LColor);
  pointOut_->setChecked(form.Point.OutFlg);
  circleOut_->setChecked(form.Point.EnkoFlg);
  codeFlag_->setChecked(form.Point.CodeFlg);
  SetIndex(mark_, form.Point.CodeIndex);
  diameter_->setText(Utf8ToQt(form.Point.EnkoRText));
  auto loadRow = [](TextRowControls& c, const OptionsForm::TextRow& row) {
    ShowSpinValue(c.lay, row.Lay);
    ShowSpinValue(c.mojiNo, row.MojiNo);
    ShowSpinValue(c.mojiCl, row.MojiCl);
    c.outFlg->setChecked(row.OutFlg);
    SetIndex(c.base, row.BaseIndex);
  };
  loadRow(pointStr_, form.PointStr);
  loadRow(xyCoord_, form.XYcoord);
  loadRow(zCoord_, form.Zcoord);
  ShowEnabling();
  loading_ = false;
}

void OptionsDialog::StoreForm(OptionsForm& form) const {
  form.PaperIndex = paper_->currentIndex();
  form.ScaleText = QtToUtf8(scale_->text());
  form.Group = group_->value();
  form.SurveyAxes = !mathAxes_->isChecked();
  form.MmUnit = mmUnit_->isChecked();
  form.CursorBase = cursorBase_->isChecked();
  form.VersionIndex = -1;
  for (size_t i = 0; i < versions_.size(); ++i) {
    if (versions_[i]->isChecked()) form.VersionIndex = static_cast<int>(i);
  }

  form.Point.Lay = pointLay_->value();
  form.Point.LColor = pointColour_->value();
  form.Point.OutFlg = pointOut_->isChecked();
  form.Point.EnkoFlg = circleOut_->isChecked();
  form.Point.CodeFlg = codeFlag_->isChecked();
  form.Point.CodeIndex = mark_->currentIndex();
  form.Point.EnkoRText = QtToUtf8(diameter_->text());
  auto storeRow = [](const TextRowControls& c, OptionsForm::TextRow& row) {
    row.Lay = c.lay->value();
    row.MojiNo = c.mojiNo->value();
    row.MojiCl = c.mojiCl->value();
    row.OutFlg = c.outFlg->isChecked();
    row.BaseIndex = c.base->currentIndex();
  };
  storeRow(pointStr_, form.PointStr);
  storeRow(xyCoord_, form.XYcoord);
  storeRow(zCoord_, form.Zcoord);
  form.CodeCheckEnabled = codeFlag_->isEnabled();
  form.CodeListEnabled = mark_->isEnabled();
}

void OptionsDialog::PointOutClicked() {
  if (loading_) return;
  StoreForm(form_);
  PointOutChanged(form_, settings_);
  ShowEnabling();
}

void OptionsDialog::CodeFlagClicked() {
  if (loading_) return;
  StoreForm(form_);
  CodeFlagChanged(form_, settings_);
  ShowEnabling();
}

void OptionsDialog::ShowEnabling() {
  const bool wasLoading = loading_;
  loading_ = true;
  codeFlag_->setEnabled(form_.CodeCheckEnabled);
  codeFlag_->setChecked(form_.Point.CodeFlg);
  mark_->setEnabled(form_.CodeListEnabled);
  loading_ = wasLoading;
}

}  // namespace kestrova
