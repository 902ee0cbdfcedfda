#include "gui/version_box.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "gui/fonts.h"

namespace kestrova {

namespace {

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text, const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  // Clicks go through to the box, which closes on any of them.
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  return label;
}

}  // namespace

VersionBox::VersionBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("VerFrm"));
  setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
  setModal(true);
  setFont(PGothicFont(12));
  setFixedSize(300, 170);
  setStyleSheet(QStringLiteral("QDialog#VerFrm { background: white; }"));

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAttribute(Qt::WA_TransparentForMouseEvents);

  QFont nameFont = GothicFont(26);
  nameFont.setBold(true);
  nameFont.setItalic(true);
  auto* name = NewLabel(panel, "Label1", QStringLiteral("Kestrova"), nameFont);
  name->setStyleSheet(QStringLiteral("color: rgb(0, 64, 128);"));
  auto* line =
      NewLabel(panel, "Label2", QStringLiteral("－ Kestrova File converter －"), PGothicFont(12));
  auto* version =
      NewLabel(panel, "Label3", QStringLiteral("ﾊﾞｰｼﾞｮﾝ %1").arg(QLatin1String(KESTROVA_VERSION)),
               PGothicFont(12));

  auto* inner = new QVBoxLayout(panel);
  inner->addStretch();
  inner->addWidget(name);
  inner->addWidget(line);
  inner->addSpacing(10);
  inner->addWidget(version);
  inner->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->addWidget(panel);
}

void VersionBox::mousePressEvent(QMouseEvent* event) {
  event->accept();
  accept();
}

}  // namespace kestrova
