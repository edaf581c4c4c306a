// What a screen reader speaks for each control of the setup window that can take the focus. Most of the
// window is painted, so the system finds no label beside a control; the names come from the texts that
// the sighted user reads in the same place instead.
#pragma once

#include <string>

#include "setup/layout.h"

namespace setup {

// Where the system's accessibility layer looks for a control's name. Buttons and plain windows are
// named by their own window text. An edit holds its contents there and takes its name from the nearest
// static label before it in the stacking order; so does a list box on Windows, while some versions of
// Wine read its window text, which a list box does not show. A list box therefore carries its name both
// ways.
bool NamedByWindowText(ControlKind kind);
bool NamedByLabelBefore(ControlKind kind);

// The name of a control that can take the focus at some time: a command button's caption; for the
// picture button, which shows none, the words of its tool tip without the blanks and quotation marks
// around them; for the notes panel, the heading of the notes it lies over; for the title strip, the
// title it shows; for the directory list, what it lists. Empty for every other row.
std::wstring AccessibleName(const ControlRow& row);

// The window text a child window is created with: its caption, or its name where the system reads the
// name from the window text and the control shows no caption (owner-drawn controls do not paint it).
std::wstring WindowTextOf(const ControlRow& row);

}  // namespace setup
