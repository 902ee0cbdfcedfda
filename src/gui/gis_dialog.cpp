#include "gui/gis_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "gis/gis_export.h"
#include "gui/qt_text.h"

namespace kestrova {

namespace {

// In the order the list shows them: GeoPackage first, the format QGIS itself prefers.
const char* const kFormatNames[] = {"gpkg", "geojson", "shp", "kml", "dxf"};

}  // namespace

GisExportDialog::GisExportDialog(const std::vector<SurveySystem>& systems,
                                 const Prompts::GisChoice& current, QWidget* parent)
    : QDialog(parent), systems_(new QComboBox(this)), formats_(new QComboBox(this)) {
  setObjectName(QStringLiteral("GisExportDialog"));
  setWindowTitle(QStringLiteral("GISﾃﾞｰﾀで保存"));
  systems_->setObjectName(QStringLiteral("cbGisCrs"));
  formats_->setObjectName(QStringLiteral("cbGisFormat"));

  systems_->addItem(QStringLiteral("指定しない（DXF のみ）"), QString());
  for (const SurveySystem& s : systems) {
    systems_->addItem(
        Utf8ToQt(s.Name) + QStringLiteral("  (") + Utf8ToQt(EpsgName(s.Epsg)) + QLatin1Char(')'),
        Utf8ToQt(EpsgName(s.Epsg)));
  }
  const int crs = systems_->findData(Utf8ToQt(current.Crs));
  systems_->setCurrentIndex(crs >= 0 ? crs : 0);
  systems_->setMaxVisibleItems(20);

  for (const char* name : kFormatNames) {
    formats_->addItem(QLatin1String(GisFormatTitle(*GisFormatFromName(name))), QLatin1String(name));
  }
  const int format = formats_->findData(Utf8ToQt(current.Format));
  formats_->setCurrentIndex(format >= 0 ? format : 0);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("座標系(&C):"), systems_);
  form->addRow(QStringLiteral("形式(&F):"), formats_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
  ok_ = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);

  connect(systems_, &QComboBox::currentIndexChanged, this, [this] { UpdateOk(); });
  connect(formats_, &QComboBox::currentIndexChanged, this, [this] { UpdateOk(); });
  UpdateOk();
}

Prompts::GisChoice GisExportDialog::Choice() const {
  return {QtToUtf8(systems_->currentData().toString()),
          QtToUtf8(formats_->currentData().toString())};
}

// Only a DXF drawing can be written without a system; the others would be refused after
// the file dialog.
void GisExportDialog::UpdateOk() {
  const Prompts::GisChoice c = Choice();
  const auto format = GisFormatFromName(c.Format);
  ok_->setEnabled(format && (!c.Crs.empty() || !GisFormatNeedsSystem(*format)));
}

std::optional<Prompts::GisChoice> AskGisExport(QWidget* parent,
                                               const std::vector<SurveySystem>& systems,
                                               const Prompts::GisChoice& current) {
  GisExportDialog dialog(systems, current, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Choice();
}

}  // namespace kestrova
