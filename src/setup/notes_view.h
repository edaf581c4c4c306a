// What the controller changes in the setup window, as the user sees it: the notes panel Text2, the
// confirm button and the picture button's look.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "actions/notes_toggle.h"
#include "setup/child_controls.h"
#include "setup/painter.h"

namespace setup {

class WindowNotesView final : public actions::NotesView {
 public:
  WindowNotesView(const ChildControls& controls, Painter& painter) : controls_(controls), painter_(painter) {}

  bool ShowNotesPanel() override;
  bool HideNotesPanel() override;
  bool SetNotesText(const std::wstring& text) override;
  bool AppendNotesText(std::wstring_view text) override;
  bool EnableConfirm() override;
  bool ShowConfirm() override;
  bool ShowPictureButtonRead() override;

 private:
  bool SetVisibleKeepingFocus(Row row, bool visible);

  const ChildControls& controls_;
  Painter& painter_;
};

}  // namespace setup
