#pragma once

#include <QDialog>
#include <optional>
#include <vector>

#include "app/prompts.h"

class QComboBox;
class QPushButton;

namespace kestrova {

// The coordinate system and format of a GIS export. The system list starts with "none",
// which only a DXF drawing may be written with.
class GisExportDialog : public QDialog {
  Q_OBJECT

 public:
  GisExportDialog(const std::vector<SurveySystem>& systems, const Prompts::GisChoice& current,
                  QWidget* parent = nullptr);

  Prompts::GisChoice Choice() const;

 private:
  void UpdateOk();

  QComboBox* systems_;
  QComboBox* formats_;
  QPushButton* ok_ = nullptr;
};

// Shows the dialog modally; nullopt when it was cancelled.
std::optional<Prompts::GisChoice> AskGisExport(QWidget* parent,
                                               const std::vector<SurveySystem>& systems,
                                               const Prompts::GisChoice& current);

}  // namespace kestrova
