// uiprobe: looks at the setup window from another process, the way a UI-automation tool does, and
// drives it. The UI tests run it under the same wineserver as the launcher; it prints JSON (UTF-8).
//
//   uiprobe [options] state             the window, its children, the focus and the tool tips
//   uiprobe [options] wait              wait until the window is visible and its program idle, then
//                                       print its state
//   uiprobe [options] wait-gone         wait until no such window is left
//   uiprobe [options] click ID          BM_CLICK on the child with that control ID
//   uiprobe [options] focus ID          give that child the keyboard focus
//   uiprobe [options] foreground        make the window the foreground window and raise it
//   uiprobe [options] keys KEY...       real key strokes through SendInput ("tab", "shift+tab", "return")
//   uiprobe [options] post-keys KEY...  WM_KEYDOWN/WM_KEYUP posted to the focused child (no modifiers)
//   uiprobe [options] names             what a screen reader finds for each child window: the name,
//                                       role and state that the accessibility layer (oleacc) reports
//   uiprobe time-start [--runs N] [--warmup N] EXE...
//                                       start each program N times (interleaved) and measure the time
//                                       until it shows a visible top-level window and until it idles
// Options: --caption TEXT (default: the setup window's caption), --pid N, --timeout-ms N (default 10000),
// --post (click by posting instead of sending, for clicks that do not return). Exit codes: 0 done, 2 no such
// window, 3 bad usage, 4 the action failed.
#include <windows.h>
// windows.h first: commctrl.h and oleacc.h need its types.
#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com_pointer.h"
#include "remote_view/remote_view.h"
#include "setup/layout.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoWindow = 2;
constexpr int kExitUsage = 3;
constexpr int kExitFailed = 4;

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                      nullptr);
  return result;
}

// A JSON text built front to back; the caller keeps the nesting right, the writer the commas.
class JsonWriter {
 public:
  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }

  JsonWriter& Key(std::string_view key) {
    Separate();
    AppendString(key);
    out_ += ':';
    afterKey_ = true;
    return *this;
  }
  JsonWriter& String(std::wstring_view value) {
    Separate();
    AppendString(ToUtf8(value));
    return *this;
  }
  JsonWriter& String(std::string_view utf8) {
    Separate();
    AppendString(utf8);
    return *this;
  }
  JsonWriter& Number(long long value) {
    Separate();
    out_ += std::to_string(value);
    return *this;
  }
  JsonWriter& Double(double value) {
    Separate();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.4f", value);
    out_ += buffer;
    return *this;
  }
  JsonWriter& Bool(bool value) {
    Separate();
    out_ += value ? "true" : "false";
    return *this;
  }
  JsonWriter& Null() {
    Separate();
    out_ += "null";
    return *this;
  }
  JsonWriter& Rect(const RECT& rect) {
    BeginArray();
    Number(rect.left).Number(rect.top).Number(rect.right).Number(rect.bottom);
    return EndArray();
  }
  JsonWriter& Handle(HWND hwnd) {
    return Number(static_cast<long long>(reinterpret_cast<std::intptr_t>(hwnd)));
  }

  const std::string& Text() const { return out_; }

 private:
  JsonWriter& Open(char bracket) {
    Separate();
    out_ += bracket;
    first_ = true;
    return *this;
  }
  JsonWriter& Close(char bracket) {
    out_ += bracket;
    first_ = false;
    return *this;
  }
  void Separate() {
    if (afterKey_) {
      afterKey_ = false;
    } else if (!first_ && !out_.empty()) {
      out_ += ',';
    }
    first_ = false;
  }
  void AppendString(std::string_view utf8) {
    out_ += '"';
    for (const char c : utf8) {
      const auto byte = static_cast<unsigned char>(c);
      switch (c) {
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\r':
          out_ += "\\r";
          break;
        case '\t':
          out_ += "\\t";
          break;
        default:
          if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out_ += escaped;
          } else {
            out_ += c;
          }
      }
    }
    out_ += '"';
  }

  std::string out_;
  bool first_ = true;
  bool afterKey_ = false;
};

void WriteStdout(std::string_view text) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  while (!text.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
    if (!WriteFile(out, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

void Fail(const char* message) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  WriteFile(err, message, static_cast<DWORD>(std::strlen(message)), &written, nullptr);
  WriteFile(err, "\n", 1, &written, nullptr);
}

struct Options {
  std::wstring caption{setup::kWindowCaption};
  DWORD pid = 0;
  DWORD timeoutMs = 10000;
  bool post = false;
  int runs = 15;
  int warmup = 1;
};

// Owns a kernel handle; the probe needs only this one kind.
class KernelHandle {
 public:
  explicit KernelHandle(HANDLE handle = nullptr) : handle_(handle) {}
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;
  ~KernelHandle() {
    if (handle_) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

std::wstring CaptionOf(HWND hwnd) {
  wchar_t caption[512] = {};
  GetWindowTextW(hwnd, caption, 512);
  return caption;
}

bool SameClass(HWND hwnd, const wchar_t* name) {
  return lstrcmpiW(ClassOf(hwnd).c_str(), name) == 0;
}

// GetTickCount64 is newer than the oldest supported system; the wrap of GetTickCount is harmless here.
class Deadline {
 public:
  explicit Deadline(DWORD milliseconds) : start_(GetTickCount()), length_(milliseconds) {}
  bool Passed() const { return GetTickCount() - start_ >= length_; }

 private:
  DWORD start_;
  DWORD length_;
};

DWORD ProcessOf(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

// Messages to another process wait at most this long, so a hung or dying target cannot hang the probe.
constexpr UINT kSendTimeoutMs = 10000;

std::optional<LRESULT> Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                            UINT timeoutMs = kSendTimeoutMs) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, timeoutMs, &result))
    return std::nullopt;
  return static_cast<LRESULT>(result);
}

// The whole text, however long: WM_GETTEXT is marshalled between processes, unlike most messages.
std::wstring TextOf(HWND hwnd) {
  const auto length = Send(hwnd, WM_GETTEXTLENGTH, 0, 0);
  if (!length || *length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(*length) + 1, L'\0');
  const auto copied = Send(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), 60000);
  text.resize(copied ? static_cast<std::size_t>(std::max<LRESULT>(*copied, 0)) : 0);
  return text;
}

struct WindowSearch {
  const Options* options;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectByCaption(HWND hwnd, LPARAM context) {
  auto& search = *reinterpret_cast<WindowSearch*>(context);
  if (search.options->pid != 0 && ProcessOf(hwnd) != search.options->pid) return TRUE;
  if (CaptionOf(hwnd) == search.options->caption) search.found.push_back(hwnd);
  return TRUE;
}

// A message box: the system's dialog class.
bool IsMessageBox(HWND hwnd) {
  return SameClass(hwnd, L"#32770");
}

// The top-level window with the caption; a visible one wins over a hidden one of the same name, and a
// window wins over a message box that the program shows under its own caption.
HWND FindTarget(const Options& options) {
  WindowSearch search{&options, {}};
  EnumWindows(CollectByCaption, reinterpret_cast<LPARAM>(&search));
  for (const bool boxes : {false, true}) {
    for (HWND hwnd : search.found) {
      if (IsWindowVisible(hwnd) && IsMessageBox(hwnd) == boxes) return hwnd;
    }
  }
  return search.found.empty() ? nullptr : search.found.front();
}

std::vector<HWND> Descendants(HWND top);

// The visible message box with the caption, if there is one.
HWND FindMessageBox(const Options& options) {
  WindowSearch search{&options, {}};
  EnumWindows(CollectByCaption, reinterpret_cast<LPARAM>(&search));
  for (HWND hwnd : search.found) {
    if (IsWindowVisible(hwnd) && IsMessageBox(hwnd)) return hwnd;
  }
  return nullptr;
}

// What a message box says and who owns it; "ok" presses its OK button (posted: the box's end is the
// program's business).
int MessageBoxCommand(const Options& options, const std::vector<std::wstring>& arguments) {
  const Deadline deadline(options.timeoutMs);
  HWND box = nullptr;
  while (!(box = FindMessageBox(options))) {
    if (deadline.Passed()) {
      Fail("no message box with that caption");
      return kExitNoWindow;
    }
    Sleep(20);
  }
  if (arguments.size() == 1 && arguments[0] == L"ok") {
    return PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0) ? kExitOk : kExitFailed;
  }
  if (!arguments.empty()) return kExitUsage;
  const HWND owner = GetWindow(box, GW_OWNER);
  JsonWriter json;
  json.BeginObject();
  json.Key("caption").String(CaptionOf(box));
  json.Key("pid").Number(ProcessOf(box));
  json.Key("owner_class").String(owner ? ClassOf(owner) : std::wstring());
  json.Key("owner_caption").String(owner ? CaptionOf(owner) : std::wstring());
  json.Key("texts").BeginArray();
  for (HWND child : Descendants(box)) {
    if (SameClass(child, L"Static") && !TextOf(child).empty()) json.String(TextOf(child));
  }
  json.EndArray();
  json.Key("buttons").BeginArray();
  for (HWND child : Descendants(box)) {
    if (SameClass(child, L"Button") && IsWindowVisible(child)) json.String(TextOf(child));
  }
  json.EndArray();
  json.EndObject();
  WriteStdout(json.Text() + "\n");
  return kExitOk;
}

HWND WaitForTarget(const Options& options, bool mustBeVisible) {
  const Deadline deadline(options.timeoutMs);
  for (;;) {
    HWND hwnd = FindTarget(options);
    if (hwnd && (!mustBeVisible || IsWindowVisible(hwnd))) return hwnd;
    if (deadline.Passed()) return nullptr;
    Sleep(20);
  }
}

// Once the window's thread waits for input with nothing left to do, its first paint is on the screen.
void WaitUntilIdle(HWND top, DWORD timeoutMs) {
  const KernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, ProcessOf(top)));
  if (process.get()) WaitForInputIdle(process.get(), timeoutMs);
}

BOOL CALLBACK CollectAll(HWND hwnd, LPARAM context) {
  reinterpret_cast<std::vector<HWND>*>(context)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> Descendants(HWND top) {
  std::vector<HWND> all;
  EnumChildWindows(top, CollectAll, reinterpret_cast<LPARAM>(&all));
  return all;
}

HWND ChildById(HWND top, int id) {
  for (HWND child : Descendants(top)) {
    if (GetDlgCtrlID(child) == id) return child;
  }
  return nullptr;
}

// The control ID a test knows a window by: 0 for the top-level window itself.
int IdWithin(HWND top, HWND hwnd) {
  return hwnd == top ? 0 : GetDlgCtrlID(hwnd);
}

RECT ClientRectOnScreen(HWND hwnd) {
  RECT client{};
  GetClientRect(hwnd, &client);
  POINT origin{0, 0};
  ClientToScreen(hwnd, &origin);
  OffsetRect(&client, origin.x, origin.y);
  return client;
}

int ScreenDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

// The usual rules of the task bar: a visible top-level window gets a button when it asks for one, or
// when it is neither owned nor a tool window.
bool HasTaskBarButton(HWND hwnd) {
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
  if (!IsWindowVisible(hwnd)) return false;
  if (exStyle & WS_EX_APPWINDOW) return true;
  return !(exStyle & WS_EX_TOOLWINDOW) && GetWindow(hwnd, GW_OWNER) == nullptr;
}

void WriteListItems(JsonWriter& json, HWND listBox) {
  json.Key("items").BeginArray();
  const auto count = Send(listBox, LB_GETCOUNT, 0, 0).value_or(0);
  for (LRESULT i = 0; i < std::min<LRESULT>(count, 10000); ++i) {
    const auto length = Send(listBox, LB_GETTEXTLEN, i, 0).value_or(0);
    std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    const auto copied = Send(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data())).value_or(0);
    text.resize(static_cast<std::size_t>(std::max<LRESULT>(copied, 0)));
    json.BeginObject();
    json.Key("text").String(text);
    json.Key("data").Number(Send(listBox, LB_GETITEMDATA, i, 0).value_or(0));
    json.EndObject();
  }
  json.EndArray();
}

void WriteWindowCommon(JsonWriter& json, HWND hwnd) {
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  json.Key("hwnd").Handle(hwnd);
  json.Key("class").String(ClassOf(hwnd));
  json.Key("rect").Rect(rect);
  json.Key("visible").Bool(IsWindowVisible(hwnd) != FALSE);
  json.Key("enabled").Bool(IsWindowEnabled(hwnd) != FALSE);
  json.Key("style").Number(static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)));
  json.Key("exstyle").Number(static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
}

void WriteTopLevel(JsonWriter& json, HWND top) {
  DWORD pid = 0;
  const DWORD tid = GetWindowThreadProcessId(top, &pid);
  const HWND owner = GetWindow(top, GW_OWNER);
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(top, GWL_EXSTYLE));
  json.Key("window").BeginObject();
  WriteWindowCommon(json, top);
  json.Key("pid").Number(pid);
  json.Key("tid").Number(tid);
  json.Key("caption").String(CaptionOf(top));
  json.Key("client").Rect(ClientRectOnScreen(top));
  json.Key("topmost").Bool((exStyle & WS_EX_TOPMOST) != 0);
  json.Key("owner").Handle(owner);
  json.Key("owner_visible").Bool(owner && IsWindowVisible(owner));
  json.Key("taskbar_button").Bool(HasTaskBarButton(top));
  json.Key("foreground").Bool(GetForegroundWindow() == top);
  json.EndObject();
}

void WriteControls(JsonWriter& json, HWND top) {
  json.Key("controls").BeginArray();
  for (HWND child : Descendants(top)) {
    const HWND parent = GetAncestor(child, GA_PARENT);
    json.BeginObject();
    json.Key("id").Number(GetDlgCtrlID(child));
    json.Key("parent_id").Number(IdWithin(top, parent));
    WriteWindowCommon(json, child);
    json.Key("text").String(TextOf(child));
    if (SameClass(child, L"ListBox")) {
      WriteListItems(json, child);
    }
    json.EndObject();
  }
  json.EndArray();
}

void WriteFocus(JsonWriter& json, HWND top) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD tid = GetWindowThreadProcessId(top, nullptr);
  json.Key("focus");
  if (!GetGUIThreadInfo(tid, &info) || !info.hwndFocus) {
    json.Null();
  } else {
    json.BeginObject();
    json.Key("hwnd").Handle(info.hwndFocus);
    json.Key("id").Number(IdWithin(top, info.hwndFocus));
    json.Key("class").String(ClassOf(info.hwndFocus));
    json.EndObject();
  }
  json.Key("active").Handle(info.hwndActive);
}

constexpr std::size_t kToolTextChars = 4096;

void WriteTools(JsonWriter& json, HWND top, HWND tip, HANDLE process) {
  json.Key("tools").BeginArray();
  // The tool tip messages carry pointers, which are not marshalled between processes (unlike WM_GETTEXT).
  const RemoteView remote(process, sizeof(TTTOOLINFOW) + kToolTextChars * sizeof(wchar_t));
  const auto count = Send(tip, TTM_GETTOOLCOUNT, 0, 0).value_or(0);
  auto* const shared = reinterpret_cast<TTTOOLINFOW*>(remote.local());
  wchar_t* const sharedText = reinterpret_cast<wchar_t*>(remote.local() + sizeof(TTTOOLINFOW));
  for (LRESULT i = 0; remote && i < count; ++i) {
    wchar_t* const remoteText = remote.RemoteAddressOf(sharedText);
    *shared = TTTOOLINFOW{};
    shared->cbSize = sizeof *shared;
    shared->lpszText = remoteText;
    std::fill_n(sharedText, kToolTextChars, L'\0');
    if (!Send(tip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote.remote()))
             .value_or(0)) {
      continue;
    }
    const TTTOOLINFOW info = *shared;
    json.BeginObject();
    json.Key("flags").Number(info.uFlags);
    const bool idIsWindow = (info.uFlags & TTF_IDISHWND) != 0;
    const HWND tool = idIsWindow ? reinterpret_cast<HWND>(info.uId) : info.hwnd;
    json.Key("control_id").Number(tool ? IdWithin(top, tool) : -1);
    json.Key("rect").Rect(info.rect);
    if (info.lpszText == remoteText) {
      sharedText[kToolTextChars - 1] = L'\0';
      json.Key("text").String(std::wstring_view(sharedText));
    } else if (info.lpszText == LPSTR_TEXTCALLBACKW) {
      json.Key("text").String(std::string_view("<callback>"));
    } else {
      json.Key("text").Null();
    }
    json.EndObject();
  }
  json.EndArray();
}

struct TipSearch {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTips(HWND hwnd, LPARAM context) {
  auto& search = *reinterpret_cast<TipSearch*>(context);
  if (ProcessOf(hwnd) == search.pid && SameClass(hwnd, TOOLTIPS_CLASSW)) {
    search.found.push_back(hwnd);
  }
  return TRUE;
}

void WriteToolTips(JsonWriter& json, HWND top) {
  TipSearch search{ProcessOf(top), {}};
  EnumWindows(CollectTips, reinterpret_cast<LPARAM>(&search));
  const KernelHandle process(
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION, FALSE, search.pid));
  json.Key("tooltips").BeginArray();
  for (HWND tip : search.found) {
    json.BeginObject();
    WriteWindowCommon(json, tip);
    json.Key("text").String(TextOf(tip));
    if (process.get()) WriteTools(json, top, tip, process.get());
    json.EndObject();
  }
  json.EndArray();
}

std::string StateJson(HWND top) {
  JsonWriter json;
  json.BeginObject();
  WriteTopLevel(json, top);
  WriteControls(json, top);
  WriteFocus(json, top);
  WriteToolTips(json, top);
  json.Key("screen").BeginObject();
  json.Key("width").Number(GetSystemMetrics(SM_CXSCREEN));
  json.Key("height").Number(GetSystemMetrics(SM_CYSCREEN));
  json.Key("dpi").Number(ScreenDpi());
  json.EndObject();
  json.Key("ansi_code_page").Number(GetACP());
  json.EndObject();
  return json.Text() + "\n";
}

// --- What a screen reader finds ----------------------------------------------------------------------

class Bstr {
 public:
  Bstr() = default;
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(text_); }
  BSTR* out() { return &text_; }
  bool empty() const { return text_ == nullptr; }
  std::wstring_view view() const { return {text_, SysStringLen(text_)}; }

 private:
  BSTR text_ = nullptr;
};

class ComApartment {
 public:
  ComApartment() : initialized_(SUCCEEDED(CoInitialize(nullptr))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialized_) CoUninitialize();
  }

 private:
  bool initialized_;
};

// oleacc is not among the DLLs every process loads: it comes from the system folder, by full path.
using AccessibleObjectFromWindowFunction = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);

AccessibleObjectFromWindowFunction LoadAccessibleObjectFromWindow() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const HMODULE oleacc = LoadLibraryW((std::wstring(folder, length) + L"\\oleacc.dll").c_str());
  if (!oleacc) return nullptr;
  return reinterpret_cast<AccessibleObjectFromWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(oleacc, "AccessibleObjectFromWindow")));
}

void WriteAccessible(JsonWriter& json, IAccessible& accessible) {
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  Bstr name;
  const HRESULT named = accessible.get_accName(self, name.out());
  json.Key("name");
  if (named == S_OK && !name.empty()) {
    json.String(name.view());
  } else {
    json.Null();
  }
  VARIANT role{};
  json.Key("role");
  if (SUCCEEDED(accessible.get_accRole(self, &role)) && role.vt == VT_I4) {
    json.Number(role.lVal);
  } else {
    json.Null();
  }
  VariantClear(&role);
  VARIANT state{};
  json.Key("state");
  if (SUCCEEDED(accessible.get_accState(self, &state)) && state.vt == VT_I4) {
    json.Number(state.lVal);
  } else {
    json.Null();
  }
  VariantClear(&state);
}

std::string NamesJson(HWND top) {
  const ComApartment apartment;
  const auto accessibleObjectFromWindow = LoadAccessibleObjectFromWindow();
  JsonWriter json;
  json.BeginObject();
  json.Key("oleacc").Bool(accessibleObjectFromWindow != nullptr);
  json.Key("controls").BeginArray();
  for (HWND child : Descendants(top)) {
    json.BeginObject();
    json.Key("id").Number(GetDlgCtrlID(child));
    json.Key("parent_id").Number(IdWithin(top, GetAncestor(child, GA_PARENT)));
    json.Key("class").String(ClassOf(child));
    json.Key("visible").Bool(IsWindowVisible(child) != FALSE);
    json.Key("enabled").Bool(IsWindowEnabled(child) != FALSE);
    json.Key("tabstop").Bool((GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP) != 0);
    win32::ComPointer<IAccessible> accessible;
    if (accessibleObjectFromWindow &&
        SUCCEEDED(accessibleObjectFromWindow(child, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                             accessible.outVoid())) &&
        accessible.get()) {
      WriteAccessible(json, *accessible.get());
    } else {
      json.Key("name").Null();
    }
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  return json.Text() + "\n";
}

struct KeyStroke {
  std::vector<WORD> modifiers;
  WORD key = 0;
};

std::optional<WORD> VirtualKeyNamed(std::wstring name) {
  std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return towlower(c); });
  struct Named {
    const wchar_t* name;
    WORD key;
  };
  static constexpr Named kNames[] = {
      {L"tab", VK_TAB},         {L"return", VK_RETURN}, {L"enter", VK_RETURN}, {L"escape", VK_ESCAPE},
      {L"esc", VK_ESCAPE},      {L"space", VK_SPACE},   {L"up", VK_UP},        {L"down", VK_DOWN},
      {L"left", VK_LEFT},       {L"right", VK_RIGHT},   {L"home", VK_HOME},    {L"end", VK_END},
      {L"prior", VK_PRIOR},     {L"next", VK_NEXT},     {L"shift", VK_SHIFT},  {L"ctrl", VK_CONTROL},
      {L"control", VK_CONTROL}, {L"alt", VK_MENU},      {L"f4", VK_F4},
  };
  for (const Named& named : kNames) {
    if (name == named.name) return named.key;
  }
  if (name.size() == 1 && ((name[0] >= L'a' && name[0] <= L'z') || (name[0] >= L'0' && name[0] <= L'9'))) {
    return static_cast<WORD>(towupper(name[0]));
  }
  return std::nullopt;
}

// "shift+tab" -> Shift held around Tab.
std::optional<KeyStroke> ParseKeyStroke(std::wstring_view text) {
  KeyStroke stroke;
  for (;;) {
    const std::size_t plus = text.find(L'+');
    const auto key = VirtualKeyNamed(std::wstring(text.substr(0, plus)));
    if (!key) return std::nullopt;
    if (plus == std::wstring_view::npos) {
      stroke.key = *key;
      return stroke;
    }
    stroke.modifiers.push_back(*key);
    text.remove_prefix(plus + 1);
  }
}

INPUT KeyInput(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

bool SendKeyStroke(const KeyStroke& stroke) {
  std::vector<INPUT> inputs;
  for (WORD modifier : stroke.modifiers) inputs.push_back(KeyInput(modifier, false));
  inputs.push_back(KeyInput(stroke.key, false));
  inputs.push_back(KeyInput(stroke.key, true));
  for (auto it = stroke.modifiers.rbegin(); it != stroke.modifiers.rend(); ++it)
    inputs.push_back(KeyInput(*it, true));
  const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  return sent == inputs.size();
}

LPARAM KeyLParam(WORD key, bool up) {
  const auto scan = static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
  LPARAM lParam = 1 | (scan << 16);
  if (up) lParam |= (static_cast<LPARAM>(1) << 30) | (static_cast<LPARAM>(1) << 31);
  return lParam;
}

HWND FocusOf(HWND top) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// The message loop of the target sees these like typed keys, but without the modifier state.
bool PostKeyStroke(HWND top, const KeyStroke& stroke) {
  if (!stroke.modifiers.empty()) return false;
  const HWND target = FocusOf(top) ? FocusOf(top) : top;
  return PostMessageW(target, WM_KEYDOWN, stroke.key, KeyLParam(stroke.key, false)) &&
         PostMessageW(target, WM_KEYUP, stroke.key, KeyLParam(stroke.key, true));
}

// Runs work with our input state joined to the target's thread, as SetFocus and SetForegroundWindow
// on another thread's window require.
template <typename Work>
bool WithAttachedInput(HWND top, Work work) {
  const DWORD targetThread = GetWindowThreadProcessId(top, nullptr);
  const DWORD ownThread = GetCurrentThreadId();
  const bool attached = AttachThreadInput(ownThread, targetThread, TRUE) != FALSE;
  const bool done = work();
  if (attached) AttachThreadInput(ownThread, targetThread, FALSE);
  return done;
}

std::optional<int> ParseInt(const wchar_t* text) {
  wchar_t* end = nullptr;
  const long value = std::wcstol(text, &end, 0);
  if (end == text || *end != L'\0') return std::nullopt;
  return static_cast<int>(value);
}

// --- Start-up timing -------------------------------------------------------------------------------

struct VisibleSearch {
  DWORD pid;
  bool found;
};

BOOL CALLBACK FindVisibleOfProcess(HWND hwnd, LPARAM context) {
  auto& search = *reinterpret_cast<VisibleSearch*>(context);
  if (IsWindowVisible(hwnd) && ProcessOf(hwnd) == search.pid) {
    search.found = true;
    return FALSE;
  }
  return TRUE;
}

double Milliseconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(ticks) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

struct StartTiming {
  double visibleMs = -1;
  double idleMs = -1;
};

// From CreateProcess to the first visible top-level window of the new process, and on to the moment
// its thread first waits for input with nothing left to do (its first paint is done by then).
std::optional<StartTiming> TimeOneStart(const std::wstring& exe, DWORD timeoutMs) {
  std::wstring directory = exe.substr(0, exe.find_last_of(L"\\/") + 1);
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const LONGLONG start = Now();
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
    return std::nullopt;
  }
  const KernelHandle processHandle(process.hProcess);
  const KernelHandle threadHandle(process.hThread);
  StartTiming timing;
  const Deadline deadline(timeoutMs);
  VisibleSearch search{process.dwProcessId, false};
  while (!deadline.Passed() && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
    EnumWindows(FindVisibleOfProcess, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      timing.visibleMs = Milliseconds(Now() - start);
      break;
    }
    Sleep(1);
  }
  if (search.found && WaitForInputIdle(process.hProcess, timeoutMs) == 0)
    timing.idleMs = Milliseconds(Now() - start);
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, timeoutMs);
  if (!search.found) return std::nullopt;
  return timing;
}

int TimeStarts(const Options& options, const std::vector<std::wstring>& exes) {
  std::vector<std::vector<StartTiming>> timings(exes.size());
  for (int run = 0; run < options.warmup + options.runs; ++run) {
    for (std::size_t i = 0; i < exes.size(); ++i) {
      const auto timing = TimeOneStart(exes[i], options.timeoutMs);
      if (!timing) {
        Fail("a program did not show a visible window in time");
        return kExitFailed;
      }
      if (run >= options.warmup) timings[i].push_back(*timing);
      Sleep(200);
    }
  }
  JsonWriter json;
  json.BeginObject().Key("programs").BeginArray();
  for (std::size_t i = 0; i < exes.size(); ++i) {
    json.BeginObject();
    json.Key("path").String(exes[i]);
    json.Key("visible_ms").BeginArray();
    for (const auto& timing : timings[i]) json.Double(timing.visibleMs);
    json.EndArray();
    json.Key("idle_ms").BeginArray();
    for (const auto& timing : timings[i]) json.Double(timing.idleMs);
    json.EndArray();
    json.EndObject();
  }
  json.EndArray().EndObject();
  WriteStdout(json.Text() + "\n");
  return kExitOk;
}

// --- Commands ---------------------------------------------------------------------------------------

int Usage() {
  Fail(
      "usage: uiprobe [--caption TEXT] [--pid N] [--timeout-ms N] [--post] "
      "state|wait|wait-gone|names|click ID|focus ID|foreground|keys KEY...|post-keys KEY...|message-box "
      "[ok]\n"
      "       uiprobe time-start [--runs N] [--warmup N] EXE...");
  return kExitUsage;
}

int RunCommand(const Options& options, const std::wstring& command,
               const std::vector<std::wstring>& arguments) {
  if (command == L"time-start") return arguments.empty() ? Usage() : TimeStarts(options, arguments);
  if (command == L"message-box") return MessageBoxCommand(options, arguments);

  if (command == L"wait-gone") {
    const Deadline deadline(options.timeoutMs);
    while (FindTarget(options)) {
      if (deadline.Passed()) return kExitFailed;
      Sleep(20);
    }
    return kExitOk;
  }

  const HWND top = command == L"wait" ? WaitForTarget(options, true) : FindTarget(options);
  if (!top) {
    Fail("no window with that caption");
    return kExitNoWindow;
  }
  if (command == L"wait") WaitUntilIdle(top, options.timeoutMs);
  if (command == L"state" || command == L"wait") {
    WriteStdout(StateJson(top));
    return kExitOk;
  }
  if (command == L"names") {
    WriteStdout(NamesJson(top));
    return kExitOk;
  }
  if (command == L"foreground") {
    const bool done = WithAttachedInput(top, [top] {
      BringWindowToTop(top);
      return SetForegroundWindow(top) != FALSE;
    });
    return done ? kExitOk : kExitFailed;
  }
  if (command == L"click" || command == L"focus") {
    if (arguments.size() != 1) return Usage();
    const auto id = ParseInt(arguments[0].c_str());
    if (!id) return Usage();
    const HWND child = ChildById(top, *id);
    if (!child) {
      Fail("no child with that control ID");
      return kExitFailed;
    }
    if (command == L"focus") {
      return WithAttachedInput(top, [child] { return SetFocus(child) != nullptr || GetFocus() == child; })
                 ? kExitOk
                 : kExitFailed;
    }
    // A click that ends the target never answers: that is a click done, not a failure.
    if (options.post) return PostMessageW(child, BM_CLICK, 0, 0) ? kExitOk : kExitFailed;
    Send(child, BM_CLICK, 0, 0, options.timeoutMs);
    return kExitOk;
  }
  if (command == L"keys" || command == L"post-keys") {
    if (arguments.empty()) return Usage();
    for (const std::wstring& name : arguments) {
      const auto stroke = ParseKeyStroke(name);
      if (!stroke) return Usage();
      const bool sent = command == L"keys" ? SendKeyStroke(*stroke) : PostKeyStroke(top, *stroke);
      if (!sent) return kExitFailed;
      Sleep(30);
    }
    return kExitOk;
  }
  return Usage();
}

// Rectangles in physical pixels, whatever the resolution: the probe is as DPI-aware as the launcher.
void BecomeDpiAware() {
  using SetProcessDpiAwareFunction = BOOL(WINAPI*)();
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const auto setAware = reinterpret_cast<SetProcessDpiAwareFunction>(
      reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware")));
  if (setAware) setAware();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  BecomeDpiAware();
  Options options;
  std::wstring command;
  std::vector<std::wstring> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--caption" && hasValue) {
      options.caption = argv[++i];
    } else if (arg == L"--pid" && hasValue) {
      options.pid = static_cast<DWORD>(ParseInt(argv[++i]).value_or(0));
    } else if (arg == L"--timeout-ms" && hasValue) {
      options.timeoutMs = static_cast<DWORD>(ParseInt(argv[++i]).value_or(10000));
    } else if (arg == L"--runs" && hasValue) {
      options.runs = ParseInt(argv[++i]).value_or(15);
    } else if (arg == L"--warmup" && hasValue) {
      options.warmup = ParseInt(argv[++i]).value_or(1);
    } else if (arg == L"--post") {
      options.post = true;
    } else if (command.empty()) {
      command = arg;
    } else {
      arguments.emplace_back(arg);
    }
  }
  if (command.empty()) return Usage();
  return RunCommand(options, command, arguments);
}
