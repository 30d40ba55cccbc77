#pragma once
// The About box, template 100: the program icon, the version and "确定".

#include <QDialog>

namespace tessaro::gui {

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace tessaro::gui
