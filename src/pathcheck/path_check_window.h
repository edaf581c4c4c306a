// The path-check window Form1, built from its table in path_check_layout.h. Apart from the click of
// Command1 it behaves as an ordinary top-level window with dialog keys: Tab between the two controls,
// Enter and Space on the focused button.
#pragma once

#include <windows.h>

#include "win32/dialog_behaviour.h"
#include "win32/unique_handle.h"
#include "win32/window.h"

namespace pathcheck {

// Picture1: an empty, focusable box with a sunken edge, painted in the button-face colour by its class.
class PictureBox final : public win32::Window {
 public:
  static constexpr const wchar_t* kClassName = L"TarvinPathCheckPicture";
  HWND Create(HWND parent, int id, const RECT& box);

 protected:
  bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

class PathCheckWindow final : public win32::Window {
 public:
  // The class name lets other programs find the window.
  static constexpr const wchar_t* kClassName = L"TarvinPathCheckForm";

  PathCheckWindow() = default;
  ~PathCheckWindow() override;

  // Creates the window hidden, centred on the screen, with its controls.
  bool Create();
  // Shows the window (showCommand as wWinMain received it) with the focus on Command1.
  void Show(int showCommand);
  // Tab, Enter and Space for the window's controls; true when the message was handled.
  bool RouteDialogKey(MSG& message);

 protected:
  bool OnCommand(int id, int notification, HWND control) override;
  bool OnActivate(WORD state, HWND other) override;
  bool OnSetFocus(HWND previous) override;
  bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  HWND Control(int id) const { return ::GetDlgItem(hwnd(), id); }
  void CreateControls(int dpi);
  void ClickCommand1();
  void RestoreFocus();

  PictureBox picture1_;
  win32::UniqueFont font_;
  win32::UniqueModule commonControls_;
  win32::KeptFocus keptFocus_;
};

}  // namespace pathcheck
