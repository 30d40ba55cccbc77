#pragma once
// The options box, template 103: what the window's recovery does beyond
// copying each fragment whole under its own name.

#include <QDialog>

#include "app/recovery_options.h"

namespace tessaro::gui {

class OptionsBox : public QDialog {
  Q_OBJECT

 public:
  // Shows `options`; Options() reads back what the user left.
  explicit OptionsBox(const RecoveryOptions& options, QWidget* parent = nullptr);
  RecoveryOptions Options() const;
};

}  // namespace tessaro::gui
