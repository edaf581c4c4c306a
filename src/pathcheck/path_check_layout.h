// The fixed design of the path-check window Form1: a sizable window with an empty picture box and one
// button, in twips like the setup window's table. Attributes not listed are the toolkit's defaults
// (button-face colours, the system's message font, a sunken edge on the picture box).
#pragma once

#include <algorithm>
#include <array>
#include <string_view>

#include "common/geometry.h"

namespace pathcheck {

enum class PathCheckControlKind {
  PictureBox,
  CommandButton,
};

struct PathCheckControl {
  // The child window's control ID. Never IDOK (1) or IDCANCEL (2): the dialog manager sends those for
  // Enter and Esc, and they must not read as a click on a control.
  int id = 0;
  std::string_view name{};
  PathCheckControlKind kind = PathCheckControlKind::PictureBox;
  common::TwipBox box{};  // relative to Form1's client area
  std::wstring_view text{};
  int tabIndex = 0;
};

inline constexpr std::wstring_view kPathCheckCaption = L"Form1";
// The caption of the message box: the application's title, which is the program's name.
inline constexpr std::wstring_view kApplicationTitle = L"pathcheck";

inline constexpr float kPathCheckClientWidthTwips = 4620;
inline constexpr float kPathCheckClientHeightTwips = 2985;

inline constexpr int kPicture1Id = 101;
inline constexpr int kCommand1Id = 102;

// In control order, which is also the stacking order from the top.
inline constexpr std::array<PathCheckControl, 2> kPathCheckControls{{
    {kPicture1Id, "Picture1", PathCheckControlKind::PictureBox, {360, 360, 2775, 1455}, L"", 1},
    {kCommand1Id, "Command1", PathCheckControlKind::CommandButton, {3180, 2280, 1095, 465}, L"Command1", 0},
}};

// The control that has the focus when the window first shows: the lowest TabIndex.
constexpr const PathCheckControl& FirstFocusControl() {
  return *std::min_element(
      kPathCheckControls.begin(), kPathCheckControls.end(),
      [](const PathCheckControl& a, const PathCheckControl& b) { return a.tabIndex < b.tabIndex; });
}

}  // namespace pathcheck
