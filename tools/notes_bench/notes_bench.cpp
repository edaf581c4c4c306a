// notes_bench RUNS [clicks-only]: with the setup window up (fresh, so that "确认" is still disabled) and
// its notes panel hidden, times RUNS show-clicks of the picture button, from the BM_CLICK sent here until
// the panel holds the whole text (a text with long lines goes in in slices after the click's message has
// returned), against the same text going into a bare EDIT of the panel's style, size and font in one
// WM_SETTEXT. Clicks and bare runs alternate, after one warm-up of each; every click is followed by an
// untimed hide-click. clicks-only leaves the bare control out (a text with one long line would keep it
// busy for minutes) and reports its time as 0. Prints one line per run and medians:
//   run N click_ms X bare_ms Y
//   median click_ms X bare_ms Y chars Z
//
// notes_bench once: one show-click of the fresh window, for files the panel may take only in part, or that
// may bring the launcher down: the time from the click until "确认" is enabled, or until the panel's text
// last grew when it has stopped growing for kSettledMs without "确认", or until the window was gone:
//   once click_ms X confirm 1|0|gone chars Z
// Exit codes: 0 done, 2 no setup window, 3 bad usage, 4 the panel did not end up with the whole text.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "setup/class_names.h"
#include "setup/layout.h"
#include "win32/unique_handle.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitNoWindow = 2;
constexpr int kExitUsage = 3;
constexpr int kExitWrongText = 4;

double Now() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / ticksPerMs;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Lets this process's own windows paint what they were given, outside the timed part.
void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

std::wstring TextOf(HWND window) {
  const auto length = static_cast<std::size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(length);
  return text;
}

bool IsShown(HWND window) {
  return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

// The panel's twin: same class, styles, client size and font, in a plain window of its own, placed
// where the setup window does not cover it.
struct BareEdit {
  win32::UniqueWindow frame;
  win32::UniqueFont font;
  HWND edit = nullptr;
};

BareEdit MakeBareEdit(HWND panel) {
  BareEdit bare;
  RECT box{};
  GetWindowRect(panel, &box);
  const int width = box.right - box.left;
  const int height = box.bottom - box.top;
  bare.frame.reset(CreateWindowExW(0, L"STATIC", L"bare", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                                   nullptr, nullptr, nullptr));
  const auto style = static_cast<DWORD>(GetWindowLongW(panel, GWL_STYLE)) & ~static_cast<DWORD>(WS_VISIBLE);
  const auto exStyle = static_cast<DWORD>(GetWindowLongW(panel, GWL_EXSTYLE));
  bare.edit = CreateWindowExW(exStyle, L"EDIT", L"", style | WS_VISIBLE | WS_CHILD, 0, 0, width, height,
                              bare.frame.get(), nullptr, nullptr, nullptr);
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const setup::FontSpec& spec = setup::kWindowFont;
  bare.font.reset(CreateFontW(-MulDiv(static_cast<int>(spec.points * 100), dpi, 7200), 0, 0, 0, spec.weight,
                              FALSE, FALSE, FALSE, setup::kGb2312Charset, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                              std::wstring(spec.face).c_str()));
  SendMessageW(bare.edit, WM_SETFONT, reinterpret_cast<WPARAM>(bare.font.get()), FALSE);
  SendMessageW(bare.edit, EM_SETLIMITTEXT, 0, 0);
  PumpMessages();
  return bare;
}

// How long the panel's text stays the same before a fill without "确认" counts as finished: longer than
// the slowest slice the launcher appends.
constexpr double kSettledMs = 5000;

int ClickOnce(HWND window, HWND panel, HWND pictureButton, HWND confirm) {
  const double start = Now();
  SendMessageW(pictureButton, BM_CLICK, 0, 0);
  double grown = Now();
  LRESULT length = -1;
  const char* confirmed = "0";
  for (;;) {
    if (!IsWindow(window)) {
      confirmed = "gone";
      grown = Now();
      break;
    }
    if (IsWindowEnabled(confirm)) {
      confirmed = "1";
      grown = Now();
      break;
    }
    const LRESULT now = SendMessageW(panel, WM_GETTEXTLENGTH, 0, 0);
    if (now != length) {
      length = now;
      grown = Now();
    } else if (Now() - grown > kSettledMs) {
      break;
    }
    Sleep(10);
  }
  const LRESULT chars = IsWindow(panel) ? SendMessageW(panel, WM_GETTEXTLENGTH, 0, 0) : 0;
  std::printf("once click_ms %.1f confirm %s chars %ld\n", grown - start, confirmed,
              static_cast<long>(chars));
  return kExitDone;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int runs = argc == 2 || argc == 3 ? _wtoi(argv[1]) : 0;
  const bool clicksOnly = argc == 3 && std::wcscmp(argv[2], L"clicks-only") == 0;
  const bool once = argc == 2 && std::wcscmp(argv[1], L"once") == 0;
  if ((runs < 1 && !once) || (argc == 3 && !clicksOnly)) {
    std::fprintf(stderr, "usage: notes_bench RUNS [clicks-only] | notes_bench once\n");
    return kExitUsage;
  }
  const HWND window = FindWindowW(setup::kSetupWindowClassName, nullptr);
  if (!window) return kExitNoWindow;
  const HWND panel = GetDlgItem(window, setup::ControlId(setup::Row::Text2));
  const HWND pictureButton = GetDlgItem(window, setup::ControlId(setup::Row::Command4));
  if (!panel || !pictureButton || IsShown(panel)) {
    std::fprintf(stderr, "notes_bench: needs the setup window with its notes panel hidden\n");
    return kExitNoWindow;
  }

  const HWND confirm = GetDlgItem(window, setup::ControlId(setup::Row::cmdContinue));
  if (once) return ClickOnce(window, panel, pictureButton, confirm);
  auto click = [&] { SendMessageW(pictureButton, BM_CLICK, 0, 0); };
  // Warm-up, and the text that the panel holds once the file has been read: the first show-click that
  // reads the whole file enables "确认" as its last change to the window.
  click();
  while (!IsWindowEnabled(confirm)) Sleep(1);
  const std::wstring text = TextOf(panel);
  click();
  auto wholeTextIn = [&] {
    return static_cast<std::size_t>(SendMessageW(panel, WM_GETTEXTLENGTH, 0, 0)) >= text.size();
  };
  BareEdit bare;
  if (!clicksOnly) {
    bare = MakeBareEdit(panel);
    SendMessageW(bare.edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(bare.edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    PumpMessages();
  }

  std::vector<double> clickMs;
  std::vector<double> bareMs;
  for (int run = 1; run <= runs; ++run) {
    double start = Now();
    click();
    while (!wholeTextIn()) Sleep(1);
    clickMs.push_back(Now() - start);
    const auto panelLength = static_cast<std::size_t>(SendMessageW(panel, WM_GETTEXTLENGTH, 0, 0));
    if (!IsShown(panel) || panelLength != text.size()) {
      std::fprintf(stderr, "notes_bench: the panel holds %zu of %zu characters\n", panelLength, text.size());
      return kExitWrongText;
    }
    click();
    Sleep(200);  // the launcher repaints on its own time
    if (clicksOnly) {
      bareMs.push_back(0);
      std::printf("run %d click_ms %.1f bare_ms 0\n", run, clickMs.back());
      std::fflush(stdout);
      continue;
    }

    start = Now();
    SendMessageW(bare.edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    bareMs.push_back(Now() - start);
    PumpMessages();
    SendMessageW(bare.edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    PumpMessages();
    std::printf("run %d click_ms %.1f bare_ms %.1f\n", run, clickMs.back(), bareMs.back());
    std::fflush(stdout);
  }
  std::printf("median click_ms %.1f bare_ms %.1f chars %zu\n", Median(clickMs), Median(bareMs), text.size());
  return kExitDone;
}
