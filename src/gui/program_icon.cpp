#include "gui/program_icon.h"

namespace tessaro::gui {

QIcon ProgramIcon() {
  // Drawn per size rather than scaled from one picture: the small sizes have
  // their own, simpler drawing so they stay sharp.
  static const int kSizes[] = {16, 24, 32, 48, 64, 128, 256};
  QIcon icon;
  for (int size : kSizes) icon.addFile(QStringLiteral(":/tessaro/icons/tessaro-%1.png").arg(size), QSize(size, size));
  return icon;
}

}  // namespace tessaro::gui
