// The setup window frmGroup2: built from the layout table and painted from it. It is a view: the
// user's input becomes events for the controller, which decides what happens, and the window carries
// out what the controller asks through the NotesView it implements. The portable rules (geometry, tab
// order, base directory, placement, the controller) live in launcher_core; this class only carries
// them out with Win32.
#pragma once

#include <windows.h>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "actions/controller.h"
#include "actions/picture_button.h"
#include "common/geometry.h"
#include "setup/layout.h"
#include "setup/picture_cache.h"
#include "win32/surface.h"
#include "win32/unique_handle.h"
#include "win32/window.h"

namespace setup {

class SetupWindow;

// Picture1, the navy title strip: a focusable child window that contains Command1 and paints rows 5 to 8.
class TitleStrip final : public win32::Window {
 public:
  explicit TitleStrip(SetupWindow& owner) : owner_(owner) {}
  HWND Create(HWND parent, const common::PixelRect& box, const std::wstring& text);

 protected:
  bool OnPaint() override;
  bool OnEraseBackground(HDC) override { return true; }
  bool OnCommand(int id, int notification, HWND control) override;
  bool OnDrawItem(const DRAWITEMSTRUCT& item) override;

 private:
  SetupWindow& owner_;
};

class SetupWindow final : public win32::Window, public actions::NotesView {
 public:
  // The hidden labels that name the notes panel and the directory list for screen readers; outside the
  // rows' identifiers.
  static constexpr int kNameLabelId = 0xFFFF;

  explicit SetupWindow(HINSTANCE instance);
  ~SetupWindow() override;

  // Creates the window, hidden and centred on the screen, with every control that shows at first in its
  // initial state (Show makes the others).
  bool Create();

  // The load step: fixes the base directory, then makes the window topmost at its position and size.
  void RunLoadStep();

  // Shows the window with the focus on "取消" and paints it whole; then makes what the user does not see
  // at first: the hidden and the off-window child windows, their name labels and the tool tip.
  void Show();

  // Tab, Shift+Tab, Enter and Esc for the window and all its children. Returns true when the key was
  // taken, in which case the message must be neither translated nor dispatched (so no WM_CHAR follows).
  bool RouteKey(const MSG& message);

  // --- The controller's side ---
  // From now on the buttons and the close request go to the controller as events.
  void Connect(actions::Controller& controller) { controller_ = &controller; }
  // Whether the controller waits for a step, which the message loop runs once nothing else waits.
  bool StepPending() const { return stepPending_ && !ending_; }
  void RunStep();
  // The end the controller decided on (End or StartInstallerThenEnd), once it has. From then on the
  // window hands the controller nothing more.
  std::optional<actions::Next> Ending() const { return ending_; }

  // What the controller changes, as the user sees it.
  bool ShowNotesPanel() override;
  bool HideNotesPanel() override;
  bool SetNotesText(const std::wstring& text) override;
  bool AppendNotesText(std::wstring_view text) override;
  bool EnableConfirm() override;
  bool ShowConfirm() override;
  bool ShowPictureButtonRead() override;

  // --- For the load step's users and the tests ---
  // The child window of a row (Text2, Picture1, the buttons, the lists); NULL for painted rows.
  HWND ControlWindow(Row row) const;
  common::Rgb PictureButtonColor() const { return pictureButtonColor_; }
  // The base directory fixed by the load step (empty before it).
  const std::wstring& BaseDirectory() const { return baseDirectory_; }
  int Dpi() const { return dpi_; }

 protected:
  bool OnPaint() override;
  bool OnEraseBackground(HDC) override { return true; }
  bool OnCommand(int id, int notification, HWND control) override;
  bool OnDrawItem(const DRAWITEMSTRUCT& item) override;
  HBRUSH OnControlColor(UINT message, HDC dc, HWND control) override;
  bool OnClose() override;
  bool OnSetFocus(HWND previous) override;
  bool OnActivate(WORD state, HWND other) override;
  bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  friend class TitleStrip;

  std::array<HWND, 2> CreateControl(const ControlRow& row);
  HWND CreateNameLabel(const ControlRow& row);
  void CreateUnseenControls();
  HWND CreateChild(const ControlRow& row, DWORD exStyle, const wchar_t* className, DWORD style);
  common::PixelRect PixelBox(const ControlRow& row) const { return common::TwipsToPixels(row.box, dpi_); }
  HFONT Font(const FontSpec& spec);

  // Paints the labels, images and lines of the window (inTitleStrip false) or of the strip, last row first.
  void PaintRows(win32::Surface& surface, bool inTitleStrip);
  void PaintLabel(win32::Surface& surface, const ControlRow& row);
  void PaintImage(win32::Surface& surface, const ControlRow& row);
  void PaintLine(win32::Surface& surface, const ControlRow& row);
  void PaintStrip(HWND strip);
  void PaintPaintedRows(HWND container, std::unique_ptr<win32::Surface>& buffer, common::Rgb backColor,
                        bool inTitleStrip);
  void DrawCommandButton(const DRAWITEMSTRUCT& item);

  void Deliver(actions::Event event);
  void Carry(actions::Next next);
  void SetPictureButtonColor(common::Rgb color);
  bool SetVisibleKeepingFocus(Row row, bool visible);

  void Press(Row row);
  std::optional<int> FocusedRow() const;
  bool CanTakeFocus(int row) const;
  void RefreshDefaultButton();
  void CreateToolTip();

  HINSTANCE instance_;
  int dpi_ = 96;
  TitleStrip strip_{*this};
  win32::UniqueWindow owner_;                       // never shown: keeps the window off the task bar
  std::array<HWND, kControlCount + 1> controls_{};  // by row number
  std::map<const FontSpec*, win32::UniqueFont> fonts_;
  win32::UniqueBrush panelBrush_;
  PictureCache pictures_;
  std::unique_ptr<win32::Surface> background_;  // the painted rows of the window and of the strip
  std::unique_ptr<win32::Surface> stripBackground_;
  std::wstring baseDirectory_;
  actions::Controller* controller_ = nullptr;
  bool stepPending_ = false;
  std::optional<actions::Next> ending_;
  common::Rgb pictureButtonColor_ = ControlAt(Row::Command4).backColor.value_or(common::kWhite);
  HWND focusBeforeDeactivation_ = nullptr;
  win32::UniqueModule commonControls_;
  win32::UniqueWindow toolTip_;
  std::wstring toolTipText_;
};

}  // namespace setup
