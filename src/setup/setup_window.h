// The setup window frmGroup2, the frame around its parts: it makes the window, runs the load step and
// shows it, and passes each message to the part whose job it is. The parts, each in a file of its own:
// child_controls (the child windows from the table), painter (what is drawn, and the fonts),
// keys_and_focus, notes_view (what the controller changes). The user's input becomes events for the
// controller, through the run state, which decides what happens.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "actions/notes_toggle.h"
#include "actions/run_state.h"
#include "common/geometry.h"
#include "setup/child_controls.h"
#include "setup/keys_and_focus.h"
#include "setup/layout.h"
#include "setup/notes_view.h"
#include "setup/painter.h"
#include "setup/placement.h"
#include "win32/unique_handle.h"
#include "win32/window.h"

namespace setup {

// The payload list the program carries in its resources; empty when it carries none.
std::optional<std::string> PayloadListResource(HINSTANCE instance);

class SetupWindow final : public win32::Window {
 public:
  // The window is made at the screen's resolution as it is now.
  explicit SetupWindow(HINSTANCE instance);
  ~SetupWindow() override;

  // Creates the window, hidden and centred on the screen, with every control that shows at first in its
  // initial state (Show makes the others).
  bool Create();

  // The load step: makes the window topmost at its position and size. (Create already made it topmost
  // where this keeps its box.)
  void RunLoadStep();

  // Shows the window with the focus on the control the table names first and paints it whole; then
  // makes what the user does not see at first: the hidden and the off-window child windows, their name
  // labels and the tool tip.
  void Show();

  // Tab, Shift+Tab, Enter and Esc for the window and all its children. Returns true when the key was
  // taken, in which case the message must be neither translated nor dispatched (so no WM_CHAR follows).
  bool RouteKey(const MSG& message) { return keys_.RouteKey(message); }

  // From now on the buttons and the close request go to the run state as events.
  void Connect(actions::RunState& run) { run_ = &run; }
  // What the controller changes, as the user sees it.
  actions::NotesView& Notes() { return notes_; }
  // A file of the medium failed the payload check: "确认" is disabled for good at once, and a message
  // box owned by the window, under its caption, names the file (or says that this Windows cannot check
  // it) and says that nothing more will be used. The box waits for the message loop, since a click never
  // handles messages inside it (the box's own loop would); after the loop has ended, ShowRefusal shows it.
  void RefuseMedium(std::wstring_view relativePath, actions::RefusalCause cause);
  // The box of a refusal not shown yet, if there is one.
  void ShowRefusal();
  // Pictures made ahead on another thread, which has ended (see paint_warm_up.h).
  void AdoptPictures(PictureCache&& made) { painter_.AdoptPictures(std::move(made)); }

  // --- For the tests ---
  // The child window of a row (Text2, Picture1, the buttons, the lists); NULL for painted rows.
  HWND ControlWindow(Row row) const { return controls_.WindowOf(row); }
  common::Rgb PictureButtonColor() const { return painter_.PictureButtonColor(); }

 protected:
  bool OnPaint() override;
  bool OnEraseBackground(HDC) override { return true; }
  bool OnCommand(int id, int notification, HWND control) override;
  bool OnDrawItem(const DRAWITEMSTRUCT& item) override { return painter_.DrawCommandButton(item); }
  HBRUSH OnControlColor(UINT message, HDC dc, HWND control) override;
  bool OnClose() override;
  bool OnSetFocus(HWND previous) override;
  bool OnActivate(WORD state, HWND other) override;
  bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void Deliver(actions::Event event);
  // Where the load step places a window that stands in box; none when its arithmetic fails.
  std::optional<WindowPlacementPixels> LoadStepPlacement(const common::PixelRect& box) const;
  // Whether the load step places such a window in that same box.
  bool LoadStepKeeps(const common::PixelRect& box) const;

  HINSTANCE instance_;
  int dpi_;
  std::optional<std::wstring> refusal_;  // the message of a refusal whose box is still to come
  Painter painter_;
  ChildControls controls_;
  KeysAndFocus keys_{controls_};
  WindowNotesView notes_{controls_, painter_};
  win32::UniqueWindow owner_;  // never shown: keeps the window off the task bar
  actions::RunState* run_ = nullptr;
};

}  // namespace setup
