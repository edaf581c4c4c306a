// Everything of the setup window that is drawn rather than a child window: the painted rows (labels,
// images, lines) of the window and of the title strip, the owner-drawn command buttons, the notes
// panel's colours, and the fonts the window and its children use.
#pragma once

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "common/geometry.h"
#include "setup/layout.h"
#include "setup/picture_cache.h"
#include "win32/surface.h"
#include "win32/unique_handle.h"

namespace setup {

// A table row's font at a resolution. Fonts made alike share what the system loads at their first use.
win32::UniqueFont MakeFont(const FontSpec& spec, int dpi);

class Painter {
 public:
  Painter(HINSTANCE instance, int dpi);

  // The font of a table row, made once at the window's resolution.
  HFONT Font(const FontSpec& spec);

  // WM_PAINT of the window and of the title strip: their painted rows, last row first.
  void PaintWindow(HWND window);
  void PaintStrip(HWND strip);

  // WM_DRAWITEM of a graphical command button: its colour, a raised edge (sunken with the content moved
  // by one pixel while pressed), the dark frame of the button that Enter presses, and a focus rectangle.
  // False for anything that is not such a button.
  bool DrawCommandButton(const DRAWITEMSTRUCT& item);

  // The notes panel's colours into its DC; the brush for its background.
  HBRUSH PanelColors(HDC dc);

  // The picture button's background, which changes once the notes have been read.
  common::Rgb PictureButtonColor() const { return pictureButtonColor_; }
  void SetPictureButtonColor(common::Rgb color) { pictureButtonColor_ = color; }

 private:
  void PaintPaintedRows(HWND container, std::unique_ptr<win32::Surface>& buffer, common::Rgb backColor,
                        bool inTitleStrip);
  void PaintRows(win32::Surface& surface, bool inTitleStrip);
  void PaintLabel(win32::Surface& surface, const ControlRow& row);
  void PaintImage(win32::Surface& surface, const ControlRow& row);
  void PaintLine(win32::Surface& surface, const ControlRow& row);

  int dpi_;
  PictureCache pictures_;
  // The few fonts of the table, each made at its first use.
  std::vector<std::pair<const FontSpec*, win32::UniqueFont>> fonts_;
  win32::UniqueBrush panelBrush_;
  std::unique_ptr<win32::Surface> background_;  // the painted rows of the window and of the strip
  std::unique_ptr<win32::Surface> stripBackground_;
  common::Rgb pictureButtonColor_ = ControlAt(Row::Command4).backColor.value_or(common::kWhite);
};

}  // namespace setup
