// The picture button's view of the setup window: the notes panel Text2 and the confirm button are child
// windows; the picture button's look belongs to whoever paints it.
#pragma once

#include <windows.h>

#include <functional>

#include "actions/picture_button.h"

namespace actions {

class Win32NotesView final : public NotesView {
 public:
  // pumpMessages, when given, handles the window's pending input between the slices of a text with
  // long lines, so that the launcher still answers while the panel takes such a text.
  Win32NotesView(HWND panel, HWND continueButton, std::function<void()> showPictureButtonRead,
                 std::function<void()> pumpMessages = {})
      : panel_(panel),
        continueButton_(continueButton),
        showPictureButtonRead_(std::move(showPictureButtonRead)),
        pumpMessages_(std::move(pumpMessages)) {}

  bool SetPanelVisible(bool visible) override;
  bool SetPanelText(const std::wstring& text) override;
  bool SetContinueEnabled(bool enabled) override;
  bool SetContinueVisible(bool visible) override;
  bool ShowPictureButtonRead() override;

 private:
  bool AppendInSlices(const std::wstring& text);

  HWND panel_;
  HWND continueButton_;
  std::function<void()> showPictureButtonRead_;
  std::function<void()> pumpMessages_;
};

}  // namespace actions
