#pragma once

#include <QDialog>

namespace kestrova {

// VerFrm: the program's name, its line and version. A click anywhere on it closes it.
class VersionBox : public QDialog {
  Q_OBJECT

 public:
  explicit VersionBox(QWidget* parent = nullptr);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace kestrova
