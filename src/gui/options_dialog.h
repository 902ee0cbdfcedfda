#pragma once

#include <QDialog>
#include <array>

#include "app/options_form.h"
#include "coords/output_settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace kestrova {

// OptFrm: the options dialog. It shows an OptionsForm and hands it back; the rules of
// enabling and storing live with the form. Created once and hidden between uses, as
// the controls keep their contents.
class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // settings: what the click reactions change while the dialog is open.
  OptionsDialog(OutputSettings& settings, QWidget* parent = nullptr);

  // Shows the form modally. With OK the form then holds what the controls hold and true
  // is returned; Cancel, Escape and the close box leave the form as it was.
  bool Edit(OptionsForm& form);

  void LoadForm(const OptionsForm& form);
  void StoreForm(OptionsForm& form) const;

 private:
  struct TextRowControls {
    QSpinBox* lay = nullptr;
    QSpinBox* mojiNo = nullptr;
    QSpinBox* mojiCl = nullptr;
    QCheckBox* outFlg = nullptr;
    QComboBox* base = nullptr;
  };

  QWidget* BuildOutputTab();
  QWidget* BuildDetailTab();
  void PointOutClicked();
  void CodeFlagClicked();
  void ShowEnabling();

  OutputSettings& settings_;
  OptionsForm form_;  // the form while the dialog is open
  bool loading_ = false;

  QComboBox* paper_ = nullptr;
  QLineEdit* scale_ = nullptr;
  QSpinBox* group_ = nullptr;
  QRadioButton* mathAxes_ = nullptr;
  QRadioButton* surveyAxes_ = nullptr;
  QCheckBox* mmUnit_ = nullptr;
  QCheckBox* cursorBase_ = nullptr;
  std::array<QRadioButton*, 7> versions_{};

  QSpinBox* pointLay_ = nullptr;
  QSpinBox* pointColour_ = nullptr;
  QCheckBox* pointOut_ = nullptr;
  QCheckBox* circleOut_ = nullptr;
  QCheckBox* codeFlag_ = nullptr;
  QComboBox* mark_ = nullptr;
  QLineEdit* diameter_ = nullptr;
  TextRowControls pointStr_;
  TextRowControls xyCoord_;
  TextRowControls zCoord_;
};

}  // namespace kestrova
