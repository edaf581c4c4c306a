// The picture button's view of the setup window: the notes panel Text2 and the confirm button are child
// windows; the picture button's colour belongs to whoever paints it.
#pragma once

#include <windows.h>

#include <functional>

#include "actions/picture_button.h"

namespace actions {

class Win32NotesView final : public NotesView {
 public:
  Win32NotesView(HWND panel, HWND continueButton, std::function<void(setup::Rgb)> colourPictureButton)
      : panel_(panel),
        continueButton_(continueButton),
        colourPictureButton_(std::move(colourPictureButton)) {}

  bool SetPanelVisible(bool visible) override;
  bool SetPanelText(const std::wstring& text) override;
  bool SetContinueEnabled(bool enabled) override;
  bool SetContinueVisible(bool visible) override;
  bool SetPictureButtonColor(setup::Rgb color) override;

 private:
  HWND panel_;
  HWND continueButton_;
  std::function<void(setup::Rgb)> colourPictureButton_;
};

}  // namespace actions
