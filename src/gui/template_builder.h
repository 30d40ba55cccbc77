#pragma once
// Builds the widgets of a window template: one widget per control, in template
// order, placed by its dialog-unit position. A control with an id is found
// again by that id (object name "ctl<id>", property "controlId").

#include <QWidget>
#include <vector>

#include "gui/dialog_units.h"
#include "resources/dialog_templates.h"

namespace tessaro::gui {

inline constexpr const char* kControlIdProperty = "controlId";

// The widgets of `dialog`, children of `client`, in template order. Tab stops
// are chained in that order and group boxes sent to the back, so they frame
// the controls before them without covering them.
std::vector<QWidget*> BuildControls(const templates::Dialog& dialog, QWidget* client,
                                    const DialogUnits& units);

// The width in dialog units that control `index` of `dialog` may grow to,
// keeping its place: up to the next control to its right on the same line,
// less a gap, or where there is none, up to the inside of the group box that
// frames it (of the dialog). Never less than its own width.
int RoomToTheRight(const templates::Dialog& dialog, int index);

// The widget of control `id` below `root`, or null.
QWidget* FindControl(const QWidget* root, int id);

// The template's entry for `widget`, or null when it is none of the template's.
const templates::Control* TemplateEntry(const templates::Dialog& dialog, const QWidget* widget);

}  // namespace tessaro::gui
