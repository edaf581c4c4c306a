// The setup window's child windows, made from the layout table: the controls seen at first, then after
// the first paint the rest, each in its place in the stacking order, the hidden labels that name
// controls for screen readers, and the tool tip.
#pragma once

#include <windows.h>

#include <array>
#include <optional>
#include <string>

#include "setup/layout.h"
#include "setup/painter.h"
#include "setup/title_strip.h"
#include "win32/unique_handle.h"

namespace setup {

class ChildControls {
 public:
  // The hidden labels that name the notes panel and the directory list for screen readers; outside the
  // rows' identifiers.
  static constexpr int kNameLabelId = 0xFFFF;

  // The painter gives the children their fonts and paints the title strip.
  ChildControls(HINSTANCE instance, int dpi, Painter& painter);

  // The child windows that the user sees at first (SeenAtStart), in control order, which is also the
  // creation order, so that their stacking order follows the table.
  void CreateSeen(HWND window);
  // The hidden and the off-window child windows with their name labels, each put in the stacking order
  // where creating every row in control order would have put it; then the tool tip.
  void CreateUnseen();
  // The tool tip goes before the window, which owns it and would take it along, leaving a stale handle.
  void DestroyToolTip() { toolTip_.reset(); }

  // The child window of a row (Text2, Picture1, the buttons, the lists); NULL for painted rows and for
  // rows not made yet.
  HWND WindowOf(Row row) const { return windows_[IndexOf(row)]; }
  // The row whose child window this is, if it is one.
  std::optional<Row> RowOf(HWND child) const;

 private:
  std::array<HWND, 2> Create(const ControlRow& row);
  HWND CreateChild(const ControlRow& row, DWORD exStyle, const wchar_t* className, DWORD style);
  HWND CreateNameLabel(const ControlRow& row);
  HWND ContainerOf(const ControlRow& row) const;
  void CreateToolTip();

  HINSTANCE instance_;
  int dpi_;
  Painter& painter_;
  HWND window_ = nullptr;
  TitleStrip strip_;
  std::array<HWND, kControlCount> windows_{};
  win32::UniqueModule commonControls_;
  win32::UniqueWindow toolTip_;
  std::wstring toolTipText_;
};

}  // namespace setup
