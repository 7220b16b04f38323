// Stand-in of windows, messages and GDI. Windows are records in the machine;
// nothing is drawn: an immediate paint of a visible window is counted, and
// text is measured from the line height the test set for the message font.
//
// Log forms: calls that return a handle, a count or an answer log " -> value";
// calls that only succeed or fail log nothing more when they succeed and
// " -> 0" when they fail. Messages are logged as they are delivered, before the
// receiving procedure runs.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "state.h"

using namespace standin;

namespace {

// The stand-in's window frame: a 3-pixel dialog border and a 20-pixel caption.
constexpr int kBorder = 3;
constexpr int kCaption = 20;
constexpr int kTaskBar = 40;           // the work area leaves it out at the bottom
constexpr int kSystemFontHeight = 16;  // lines in the DC's own font, when no other is selected
constexpr DWORD kErrorInvalidWindowHandle = 1400;
constexpr DWORD kErrorInvalidIconHandle = 1402;
constexpr DWORD kErrorNoParent = 1406;  // a child window without a parent
constexpr DWORD kErrorCannotFindClass = 1407;
constexpr DWORD kErrorClassExists = 1410;
constexpr DWORD kErrorClassDoesNotExist = 1411;
constexpr DWORD kErrorClassHasWindows = 1412;

std::string Num(long long value) { return std::to_string(value); }

std::string Failed(bool ok) { return ok ? "" : " -> 0"; }

std::string RectText(const RECT &r) {
  return "{" + Num(r.left) + ", " + Num(r.top) + ", " + Num(r.right) + ", " + Num(r.bottom) + "}";
}

bool IsIntResource(const char *name) { return reinterpret_cast<std::uintptr_t>(name) < 0x10000; }

// A resource or class name: a number (MAKEINTRESOURCE) or quoted text.
std::string NameText(const char *name) {
  if (name != nullptr && IsIntResource(name)) {
    return Num(static_cast<long long>(reinterpret_cast<std::uintptr_t>(name)));
  }
  return Quote(name);
}

void Fail(DWORD error) { S().lastError = error; }

// number * numerator / denominator, rounded half away from zero; -1 when it
// does not fit or the denominator is zero. MulDiv's arithmetic.
int Scale(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  long long product = static_cast<long long>(number) * numerator;
  long long divisor = denominator;
  if (divisor < 0) product = -product, divisor = -divisor;
  const long long rounded =
      (product >= 0 ? product + divisor / 2 : product - divisor / 2) / divisor;
  return rounded <= 2147483647LL && rounded >= -2147483647LL ? static_cast<int>(rounded) : -1;
}

// Objects the system owns (stock brushes and fonts, shared icons, cursors):
// never created, never freed, one fixed address each.
void *SystemObject(std::uintptr_t key) {
  static std::map<std::uintptr_t, char> objects;
  return &objects[key];
}
void *SystemFont() { return SystemObject(0x200); }

Window *Live(HWND hwnd) {
  auto found = S().windows.find(hwnd);
  if (found == S().windows.end() || found->second.destroyed) return nullptr;
  return &found->second;
}

bool IsSystemClass(const char *name) {
  const NoCaseLess less;
  for (const char *system : {"BUTTON", "STATIC"}) {
    if (!less(name, system) && !less(system, name)) return true;
  }
  return false;
}

// The window and every ancestor visible.
bool ShownOnScreen(HWND hwnd) {
  for (const Window *w = Live(hwnd); w != nullptr; w = Live(w->parent)) {
    if (!w->visible) return false;
    if (w->parent == nullptr) return true;
  }
  return false;
}

// Is `hwnd` `ancestor` or one of its descendants?
bool IsWithin(HWND hwnd, HWND ancestor) {
  for (HWND h = hwnd; h != nullptr; h = S().windows.count(h) ? S().windows[h].parent : nullptr) {
    if (h == ancestor) return true;
  }
  return false;
}

int BorderOf(DWORD style, DWORD exStyle) {
  if ((exStyle & WS_EX_DLGMODALFRAME) || (style & WS_DLGFRAME)) return kBorder;
  return (style & WS_BORDER) ? 1 : 0;
}
int CaptionOf(DWORD style) { return (style & WS_CAPTION) == WS_CAPTION ? kCaption : 0; }

// Top left of a window's client area, in screen coordinates.
POINT ClientOrigin(HWND hwnd) {
  const Window &w = S().windows[hwnd];
  POINT origin{w.x, w.y};
  if (w.parent != nullptr) {
    const POINT parent = ClientOrigin(w.parent);
    origin.x += parent.x;
    origin.y += parent.y;
  }
  origin.x += BorderOf(w.style, w.exStyle);
  origin.y += BorderOf(w.style, w.exStyle) + CaptionOf(w.style);
  return origin;
}

std::string MessageArgs(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const void *wHandle = reinterpret_cast<const void *>(wParam);
  const void *lHandle = reinterpret_cast<const void *>(lParam);
  const std::string target = handleName(hwnd);  // handles are named in argument order
  std::string w = Num(static_cast<long long>(wParam)), l = Num(lParam);
  if (message == WM_SETFONT || message == STM_SETICON) w = handleName(wHandle);
  if (message == WM_SETICON || message == STM_SETIMAGE) l = handleName(lHandle);
  return target + ", " + Hex(message) + ", " + w + ", " + l;
}

// What a window does with a message its own procedure leaves to the system,
// and all that the built-in controls do.
LRESULT SystemHandling(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Window *w = Live(hwnd);
  if (w == nullptr) return 0;
  auto swap = [](auto &slot, auto value) {
    auto previous = slot;
    slot = value;
    return reinterpret_cast<LRESULT>(previous);
  };
  switch (message) {
    case WM_SETICON:
      return swap(wParam == ICON_BIG ? w->bigIcon : w->smallIcon, reinterpret_cast<HICON>(lParam));
    case WM_SETFONT:
      w->font = reinterpret_cast<HFONT>(wParam);
      return 0;
    case STM_SETICON:
      return swap(w->image, reinterpret_cast<HANDLE>(wParam));
    case STM_SETIMAGE:
      return swap(w->image, reinterpret_cast<HANDLE>(lParam));
    case WM_GETTEXT: {
      if (wParam == 0) return 0;
      const std::size_t count = std::min<std::size_t>(w->text.size(), wParam - 1);
      std::memcpy(reinterpret_cast<char *>(lParam), w->text.data(), count);
      reinterpret_cast<char *>(lParam)[count] = '\0';
      return static_cast<LRESULT>(count);
    }
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(hwnd, WM_CLOSE, 0, 0);
      return 0;
    default:
      return 0;
  }
}

LRESULT Deliver(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const Window *w = Live(hwnd);
  if (w == nullptr) return 0;
  if (w->proc != nullptr) return w->proc(hwnd, message, wParam, lParam);
  return SystemHandling(hwnd, message, wParam, lParam);
}

void Destroy(HWND hwnd) {
  Window &w = S().windows[hwnd];
  w.visible = false;
  if (w.proc != nullptr) w.proc(hwnd, WM_DESTROY, 0, 0);
  for (HWND child : machine().childrenOf(hwnd)) {
    if (Live(child) != nullptr) Destroy(child);
  }
  w.destroyed = true;
  auto &queue = S().queue;
  for (auto m = queue.begin(); m != queue.end();) {
    m = m->hwnd == hwnd ? queue.erase(m) : m + 1;
  }
}

}  // namespace

// ---- window classes and windows ------------------------------------------

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA *windowClass) {
  auto &s = S();
  const char *name = windowClass != nullptr ? windowClass->lpszClassName : nullptr;
  ATOM atom = 0;
  if (InjectedFault("RegisterClassExA")) {
  } else if (name == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXA)) {
    Fail(ERROR_INVALID_PARAMETER);
  } else if (s.classes.count(name) != 0) {
    Fail(kErrorClassExists);
  } else {
    s.classes[name] = windowClass->lpfnWndProc;
    atom = static_cast<ATOM>(0xC000 + s.classes.size());
  }
  Log("RegisterClassExA(" + NameText(name) + ") -> " + Num(atom));
  return atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
  auto &s = S();
  bool ok = false;
  if (className == nullptr || s.classes.count(className) == 0) {
    Fail(kErrorClassDoesNotExist);
  } else {
    const NoCaseLess less;
    bool inUse = false;
    for (const auto &entry : s.windows) {
      const Window &w = entry.second;
      inUse |= !w.destroyed && !less(w.className, className) && !less(className, w.className);
    }
    if (inUse) {
      Fail(kErrorClassHasWindows);
    } else {
      s.classes.erase(className);
      ok = true;
    }
  }
  Log("UnregisterClassA(" + NameText(className) + ")" + Failed(ok));
  return ok;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu, HINSTANCE,
                            LPVOID) {
  auto &s = S();
  const std::string entry =
      "CreateWindowExA(" + Hex(exStyle) + ", " + NameText(className) + ", " + Quote(windowName) +
      ", " + Hex(style) + ", " + Num(x) + ", " + Num(y) + ", " + Num(width) + ", " + Num(height) +
      ", " + handleName(parent) + ", " +
      Num(static_cast<long long>(reinterpret_cast<std::uintptr_t>(menu))) + ")";
  const bool known = className != nullptr && !IsIntResource(className) &&
                     (IsSystemClass(className) || s.classes.count(className) != 0);
  HWND hwnd = nullptr;
  if (InjectedFault("CreateWindowExA")) {
  } else if (!known) {
    Fail(kErrorCannotFindClass);
  } else if (parent != nullptr && Live(parent) == nullptr) {
    Fail(kErrorInvalidWindowHandle);
  } else if ((style & WS_CHILD) && parent == nullptr) {
    Fail(kErrorNoParent);
  } else {
    hwnd = static_cast<HWND>(NewHandle());
    Window w;
    w.className = className;
    w.text = windowName != nullptr ? windowName : "";
    w.parent = parent;
    w.style = style;
    w.exStyle = exStyle;
    w.x = x == CW_USEDEFAULT ? 40 : x;
    w.y = x == CW_USEDEFAULT ? 40 : y;
    w.width = width == CW_USEDEFAULT ? 400 : width;
    w.height = width == CW_USEDEFAULT ? 300 : height;
    w.visible = (style & WS_VISIBLE) != 0;
    w.proc = IsSystemClass(className) ? nullptr : s.classes[className];
    w.menuId = static_cast<LONG_PTR>(reinterpret_cast<std::uintptr_t>(menu));
    s.windows[hwnd] = w;
    s.windowOrder.push_back(hwnd);
  }
  Log(entry + " -> " + handleName(hwnd));
  return hwnd;
}

BOOL WINAPI DestroyWindow(HWND window) {
  const bool ok = Live(window) != nullptr;
  Log("DestroyWindow(" + handleName(window) + ")" + Failed(ok));
  if (ok) {
    Destroy(window);
  } else {
    Fail(kErrorInvalidWindowHandle);
  }
  return ok;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Log("DefWindowProcA(" + MessageArgs(window, message, wParam, lParam) + ")");
  return SystemHandling(window, message, wParam, lParam);
}

BOOL WINAPI ShowWindow(HWND window, int command) {
  Log("ShowWindow(" + handleName(window) + ", " + Num(command) + ")");
  Window *w = Live(window);
  if (w == nullptr) return FALSE;
  const bool wasVisible = w->visible;
  w->visible = command != SW_HIDE;
  return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND window) {
  Window *w = Live(window);
  Log("UpdateWindow(" + handleName(window) + ")" + Failed(w != nullptr));
  if (w == nullptr) return FALSE;
  if (ShownOnScreen(window)) ++w->repaints;
  return TRUE;
}

BOOL WINAPI RedrawWindow(HWND window, const RECT *, void *, UINT flags) {
  Window *w = Live(window);
  const bool ok = window == nullptr || w != nullptr;  // null: the whole desktop
  Log("RedrawWindow(" + handleName(window) + ", " + Hex(flags) + ")" + Failed(ok));
  if (w != nullptr && (flags & RDW_UPDATENOW) && ShownOnScreen(window)) ++w->repaints;
  return ok;
}

BOOL WINAPI IsWindow(HWND window) {
  const bool live = Live(window) != nullptr;
  Log("IsWindow(" + handleName(window) + ") -> " + Num(live));
  return live;
}

BOOL WINAPI IsWindowVisible(HWND window) {
  const bool shown = ShownOnScreen(window);
  Log("IsWindowVisible(" + handleName(window) + ") -> " + Num(shown));
  return shown;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  Window *w = Live(window);
  Log("SetWindowTextA(" + handleName(window) + ", " + Quote(text) + ")" + Failed(w != nullptr));
  if (w == nullptr) return FALSE;
  w->text = text != nullptr ? text : "";
  return TRUE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int maxCount) {
  const int count =
      Live(window) == nullptr
          ? 0
          : static_cast<int>(SystemHandling(window, WM_GETTEXT, static_cast<WPARAM>(maxCount),
                                            reinterpret_cast<LPARAM>(text)));
  Log("GetWindowTextA(" + handleName(window) + ", " + Num(maxCount) + ") -> " + Num(count));
  return count;
}

BOOL WINAPI SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
  Window *w = Live(window);
  Log("SetWindowPos(" + handleName(window) + ", " + Num(x) + ", " + Num(y) + ", " + Num(cx) + ", " +
      Num(cy) + ", " + Hex(flags) + ")" + Failed(w != nullptr));
  if (w == nullptr) return FALSE;
  if (!(flags & SWP_NOMOVE)) w->x = x, w->y = y;
  if (!(flags & SWP_NOSIZE)) w->width = cx, w->height = cy;
  return TRUE;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  Window *w = Live(window);
  Log("MoveWindow(" + handleName(window) + ", " + Num(x) + ", " + Num(y) + ", " + Num(width) +
      ", " + Num(height) + ", " + Num(repaint) + ")" + Failed(w != nullptr));
  if (w == nullptr) return FALSE;
  w->x = x, w->y = y, w->width = width, w->height = height;
  return TRUE;
}

BOOL WINAPI AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL, DWORD exStyle) {
  const std::string before = RectText(*rect);
  const int border = BorderOf(style, exStyle);
  rect->left -= border;
  rect->right += border;
  rect->top -= border + CaptionOf(style);
  rect->bottom += border;
  Log("AdjustWindowRectEx(" + before + ", " + Hex(style) + ", " + Hex(exStyle) + ") -> " +
      RectText(*rect));
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
  const Window *w = Live(window);
  if (w != nullptr) {
    const int border = BorderOf(w->style, w->exStyle);
    *rect = RECT{0, 0, w->width - 2 * border, w->height - 2 * border - CaptionOf(w->style)};
  }
  Log("GetClientRect(" + handleName(window) + ") -> " + (w ? RectText(*rect) : "0"));
  return w != nullptr;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
  const Window *w = Live(window);
  if (w != nullptr) {
    const POINT parent = w->parent != nullptr ? ClientOrigin(w->parent) : POINT{0, 0};
    *rect = RECT{parent.x + w->x, parent.y + w->y, parent.x + w->x + w->width,
                 parent.y + w->y + w->height};
  }
  Log("GetWindowRect(" + handleName(window) + ") -> " + (w ? RectText(*rect) : "0"));
  return w != nullptr;
}

// ---- messages and the message box ----------------------------------------

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Log("SendMessageA(" + MessageArgs(window, message, wParam, lParam) + ")");
  return Deliver(window, message, wParam, lParam);
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  auto &queue = S().queue;
  const bool anyMessage = filterMin == 0 && filterMax == 0;
  const auto m = std::find_if(queue.begin(), queue.end(), [&](const MSG &waiting) {
    return (window == nullptr || IsWithin(waiting.hwnd, window)) &&
           (anyMessage || (waiting.message >= filterMin && waiting.message <= filterMax));
  });
  const bool found = m != queue.end();
  if (found) {
    *msg = *m;
    if (removeFlags & PM_REMOVE) queue.erase(m);  // the iterator is not used after this
  }
  Log("PeekMessageA(" + handleName(window) + ", " + Num(filterMin) + ", " + Num(filterMax) + ", " +
      Num(removeFlags) + ") -> " + Num(found));
  return found;
}

BOOL WINAPI TranslateMessage(const MSG *msg) {
  Log("TranslateMessage(" + handleName(msg->hwnd) + ", " + Hex(msg->message) + ") -> 0");
  return FALSE;  // no keyboard: nothing to translate
}

LRESULT WINAPI DispatchMessageA(const MSG *msg) {
  Log("DispatchMessageA(" + MessageArgs(msg->hwnd, msg->message, msg->wParam, msg->lParam) + ")");
  return Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  auto &s = S();
  int answer = 0;
  if (!InjectedFault("MessageBoxA")) {
    const MessageBoxShown box{owner, text != nullptr ? text : "",
                              caption != nullptr ? caption : "Error", type, ShownOnScreen(owner)};
    s.boxes.push_back(box);
    // The box's own modal loop delivers what is waiting, as Windows' does.
    while (!s.queue.empty()) {
      const MSG msg = s.queue.front();
      s.queue.pop_front();
      Deliver(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    }
    if (s.boxHook) s.boxHook(box);
    answer = IDOK;
  }
  Log("MessageBoxA(" + handleName(owner) + ", " + Quote(text) + ", " + Quote(caption) + ", " +
      Hex(type) + ") -> " + Num(answer));
  return answer;
}

HWINSTA WINAPI GetProcessWindowStation() {
  HWINSTA station = static_cast<HWINSTA>(SystemObject(0x300));
  Log("GetProcessWindowStation() -> " + handleName(station));
  return station;
}

BOOL WINAPI GetUserObjectInformationA(HANDLE object, int index, LPVOID info, DWORD length,
                                      LPDWORD lengthNeeded) {
  BOOL ok = FALSE;
  if (!InjectedFault("GetUserObjectInformationA")) {
    if (object != SystemObject(0x300) || index != UOI_FLAGS) {
      Fail(ERROR_INVALID_HANDLE);
    } else if (info == nullptr || length < sizeof(USEROBJECTFLAGS)) {
      Fail(ERROR_INSUFFICIENT_BUFFER);
    } else {
      USEROBJECTFLAGS flags{};
      flags.dwFlags = S().windowStationFlags;
      std::memcpy(info, &flags, sizeof flags);
      ok = TRUE;
    }
    if (lengthNeeded != nullptr) *lengthNeeded = sizeof(USEROBJECTFLAGS);
  }
  Log("GetUserObjectInformationA(" + handleName(object) + ", " + Num(index) + ") -> " + Num(ok));
  return ok;
}

// ---- icons, cursors, metrics ----------------------------------------------

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
  HICON icon = nullptr;
  if (name != nullptr && IsIntResource(name)) {  // shared: the system keeps it
    icon = static_cast<HICON>(SystemObject(0x10000 + reinterpret_cast<std::uintptr_t>(name)));
  } else {
    Fail(kErrorInvalidIconHandle);
  }
  const std::string args = handleName(instance) + ", " + NameText(name);
  Log("LoadIconA(" + args + ") -> " + handleName(icon));
  return icon;
}

HANDLE WINAPI LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
  HANDLE image = nullptr;
  if (!InjectedFault("LoadImageA")) {
    if (flags & LR_SHARED) {
      image = SystemObject(0x20000 + reinterpret_cast<std::uintptr_t>(name));
    } else {
      image = NewHandle();
      S().gdiObjects.insert(image);
    }
  }
  const std::string args = handleName(instance) + ", " + NameText(name) + ", " + Num(type) + ", " +
                           Num(cx) + ", " + Num(cy) + ", " + Hex(flags);
  Log("LoadImageA(" + args + ") -> " + handleName(image));
  return image;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
  HCURSOR cursor = static_cast<HCURSOR>(SystemObject(0x30000 + (name != nullptr ? 1 : 0)));
  const std::string args = handleName(instance) + ", " + NameText(name);
  Log("LoadCursorA(" + args + ") -> " + handleName(cursor));
  return cursor;
}

BOOL WINAPI DestroyIcon(HICON icon) {
  const bool ok = S().gdiObjects.erase(icon) != 0;  // shared icons are not ours to destroy
  if (!ok) Fail(kErrorInvalidIconHandle);
  Log("DestroyIcon(" + handleName(icon) + ")" + Failed(ok));
  return ok;
}

int WINAPI GetSystemMetrics(int index) {
  const auto &s = S();
  int value = 0;
  if (index == SM_CXSCREEN) value = s.screenWidth;
  if (index == SM_CYSCREEN) value = s.screenHeight;
  if (index == SM_CXICON || index == SM_CYICON) value = Scale(32, s.dpi, 96);
  if (index == SM_CXSMICON || index == SM_CYSMICON) value = Scale(16, s.dpi, 96);
  Log("GetSystemMetrics(" + Num(index) + ") -> " + Num(value));
  return value;
}

BOOL WINAPI SystemParametersInfoA(UINT action, UINT param, LPVOID data, UINT) {
  const auto &s = S();
  bool ok = false;
  if (InjectedFault("SystemParametersInfoA")) {
  } else if (action == SPI_GETWORKAREA && data != nullptr) {
    *static_cast<RECT *>(data) = RECT{0, 0, s.screenWidth, s.screenHeight - kTaskBar};
    ok = true;
  } else if (action == SPI_GETNONCLIENTMETRICS && data != nullptr &&
             param == sizeof(NONCLIENTMETRICSA) &&
             static_cast<NONCLIENTMETRICSA *>(data)->cbSize == param) {
    NONCLIENTMETRICSA &metrics = *static_cast<NONCLIENTMETRICSA *>(data);
    LOGFONTA font{};
    font.lfHeight = -Scale(9, s.dpi, 72);
    font.lfWeight = 400;
    std::strcpy(font.lfFaceName, "Segoe UI");
    metrics.lfCaptionFont = metrics.lfSmCaptionFont = metrics.lfMenuFont = font;
    metrics.lfStatusFont = metrics.lfMessageFont = font;
    metrics.iBorderWidth = 1;
    metrics.iCaptionHeight = kCaption;
    ok = true;
  } else {
    Fail(ERROR_INVALID_PARAMETER);
  }
  Log("SystemParametersInfoA(" + Hex(action) + ", " + Num(param) + ")" + Failed(ok));
  return ok;
}

HBRUSH WINAPI GetSysColorBrush(int index) {
  HBRUSH brush = static_cast<HBRUSH>(SystemObject(0x100 + static_cast<std::uintptr_t>(index)));
  Log("GetSysColorBrush(" + Num(index) + ") -> " + handleName(brush));
  return brush;
}

// ---- device contexts, fonts, text -----------------------------------------

HDC WINAPI GetDC(HWND window) {
  HDC dc = nullptr;
  if (!InjectedFault("GetDC")) {
    dc = static_cast<HDC>(NewHandle());
    S().gdiObjects.insert(dc);
    S().selectedObjects[dc] = SystemFont();
  }
  const std::string args = handleName(window);
  Log("GetDC(" + args + ") -> " + handleName(dc));
  return dc;
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
  const bool released = S().selectedObjects.erase(dc) != 0 && S().gdiObjects.erase(dc) != 0;
  std::string args = handleName(window);
  args += ", " + handleName(dc);
  Log("ReleaseDC(" + args + ") -> " + Num(released));
  return released;
}

int WINAPI GetDeviceCaps(HDC dc, int index) {
  const bool isDc = S().selectedObjects.count(dc) != 0;
  const int value = isDc && (index == LOGPIXELSX || index == LOGPIXELSY) ? S().dpi : 0;
  Log("GetDeviceCaps(" + handleName(dc) + ", " + Num(index) + ") -> " + Num(value));
  return value;
}

HFONT WINAPI CreateFontIndirectA(const LOGFONTA *font) {
  HFONT handle = nullptr;
  if (!InjectedFault("CreateFontIndirectA")) {
    handle = static_cast<HFONT>(NewHandle());
    S().gdiObjects.insert(handle);
  }
  Log("CreateFontIndirectA(" + Quote(font->lfFaceName) + ", " + Num(font->lfHeight) + ") -> " +
      handleName(handle));
  return handle;
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  auto &s = S();
  HGDIOBJ previous = nullptr;
  auto selected = s.selectedObjects.find(dc);
  if (selected != s.selectedObjects.end() &&
      (object == SystemFont() || s.gdiObjects.count(object) != 0)) {
    previous = selected->second;
    selected->second = object;
  }
  std::string args = handleName(dc);
  args += ", " + handleName(object);
  Log("SelectObject(" + args + ") -> " + handleName(previous));
  return previous;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  const bool ok =
      S().selectedObjects.count(static_cast<HDC>(object)) == 0 && S().gdiObjects.erase(object) != 0;
  Log("DeleteObject(" + handleName(object) + ")" + Failed(ok));
  return ok;
}

// Every line is one line of the selected font high; characters are half a
// line wide, a fair average for a proportional font.
int WINAPI DrawTextA(HDC dc, LPCSTR text, int count, LPRECT rect, UINT format) {
  auto &s = S();
  int height = 0;
  auto selected = s.selectedObjects.find(dc);
  if (selected != s.selectedObjects.end() && text != nullptr) {
    const int lineHeight =
        selected->second == SystemFont() ? kSystemFontHeight : s.messageFontHeight;
    const std::string all(text, count < 0 ? std::strlen(text) : static_cast<std::size_t>(count));
    int lines = 1, longest = 0, current = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i] == '\r' || all[i] == '\n') {
        if (all[i] == '\r' && i + 1 < all.size() && all[i + 1] == '\n') ++i;
        ++lines;
        current = 0;
      } else {
        longest = std::max(longest, ++current);
      }
    }
    height = lines * lineHeight;
    if (format & DT_CALCRECT) {
      rect->right = rect->left + longest * ((lineHeight + 1) / 2);
      rect->bottom = rect->top + height;
    }
  }
  Log("DrawTextA(" + handleName(dc) + ", " + Quote(text) + ", " + Num(count) + ", " + Hex(format) +
      ") -> " + Num(height));
  return height;
}

int WINAPI MulDiv(int number, int numerator, int denominator) {
  const int result = Scale(number, numerator, denominator);
  Log("MulDiv(" + Num(number) + ", " + Num(numerator) + ", " + Num(denominator) + ") -> " +
      Num(result));
  return result;
}

// ---- the machine's windows, for tests --------------------------------------

namespace standin {

void Machine::setDpi(int dpi) { state().dpi = dpi; }

void Machine::setMessageFontHeight(int pixels) { state().messageFontHeight = pixels; }

void Machine::queueMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  state().queue.push_back(MSG{window, message, wParam, lParam, 0, POINT{0, 0}});
}

void Machine::setWindowStationFlags(DWORD flags) { state().windowStationFlags = flags; }

void Machine::setMessageBoxHook(std::function<void(const MessageBoxShown &)> hook) {
  state().boxHook = std::move(hook);
}

const std::vector<HWND> &Machine::windows() const { return state_->windowOrder; }

const Window *Machine::window(HWND hwnd) const {
  auto found = state_->windows.find(hwnd);
  return found == state_->windows.end() ? nullptr : &found->second;
}

HWND Machine::findWindow(const std::string &className, const std::string &text) const {
  const NoCaseLess less;
  for (HWND hwnd : state_->windowOrder) {
    const Window &w = state_->windows.at(hwnd);
    if (!w.destroyed && !less(w.className, className) && !less(className, w.className) &&
        w.text == text) {
      return hwnd;
    }
  }
  return nullptr;
}

std::vector<HWND> Machine::childrenOf(HWND parent) const {
  std::vector<HWND> children;
  for (HWND hwnd : state_->windowOrder) {
    if (state_->windows.at(hwnd).parent == parent) children.push_back(hwnd);
  }
  return children;
}

const std::vector<MessageBoxShown> &Machine::messageBoxes() const { return state_->boxes; }

}  // namespace standin
