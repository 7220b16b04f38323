// The progress window. The form was laid out in twips; we keep those figures
// and turn them into pixels at the display's resolution, then give the label
// more room if the message font needs it, so both lines always show.
#include "ui/frmFQSrvUninstall.h"

#include <algorithm>
#include <string>

#include "platform/ansi.h"
#include "ui/resource.h"

namespace frmFQSrvUninstall {
namespace {

const char kClassName[] = "frmFQSrvUninstall";
const char kCaption[] = "Uninstall";
const wchar_t kProgressMessage[] = L"Uninstalling the FernQuay service.\r\nPlease, wait...";

// A fixed dialog frame with a close box; a task-bar button since we are the
// only window of the program.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;
constexpr UINT kMeasureFormat = DT_CALCRECT | DT_LEFT | DT_NOPREFIX;
constexpr UINT kPaintNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME;

// The form's layout, in twips.
constexpr int kTwipsPerInch = 1440;
constexpr int kClientWidth = 4428;
constexpr int kClientHeight = 828;
struct Twips {
  int left, top, width, height;
};
constexpr Twips kFrame{72, 0, 4260, 732};
constexpr Twips kLabel{576, 216, 3576, 408};
constexpr Twips kImage{192, 336, 192, 192};
constexpr int kCogPixels = 16;  // the picture shows at its own size
constexpr int kFrameId = 100, kLabelId = 101, kImageId = 102;

// What a loaded form holds; all null when it is not loaded.
struct Form {
  HINSTANCE instance;
  ATOM windowClass;
  HICON bigIcon, smallIcon, cog;
  HFONT font;
  HWND window, boxFrame, lblMessage, Image1;
};
Form form{};

// What the display and the message font make of the message.
struct Measure {
  int dpiX = 96, dpiY = 96;
  int textWidth = 0, textHeight = 0;
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The removal runs on this thread and unloads the window when it is done;
  // letting the close box destroy it now would pull it from under the work.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

int ToPixels(int twips, int dpi) { return MulDiv(twips, dpi, kTwipsPerInch); }

Placement Place(const Twips &twips, int dpiX, int dpiY) {
  return {ToPixels(twips.left, dpiX), ToPixels(twips.top, dpiY), ToPixels(twips.width, dpiX),
          ToPixels(twips.height, dpiY)};
}

HICON LoadIconSized(int id, int width, int height) {
  return static_cast<HICON>(
      LoadImageA(form.instance, MAKEINTRESOURCEA(id), IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
}

// The font the system uses for message boxes, as a Windows user expects.
HFONT CreateMessageFont() {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return nullptr;
  return CreateFontIndirectA(&metrics.lfMessageFont);
}

Measure MeasureMessage(const std::string &message) {
  Measure measure;
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return measure;
  measure.dpiX = GetDeviceCaps(screen, LOGPIXELSX);
  measure.dpiY = GetDeviceCaps(screen, LOGPIXELSY);
  HGDIOBJ previous = form.font != nullptr ? SelectObject(screen, form.font) : nullptr;
  RECT text{0, 0, 0, 0};
  DrawTextA(screen, message.c_str(), -1, &text, kMeasureFormat);
  if (previous != nullptr) SelectObject(screen, previous);
  ReleaseDC(nullptr, screen);
  measure.textWidth = text.right - text.left;
  measure.textHeight = text.bottom - text.top;
  return measure;
}

bool RegisterWindowClass() {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = form.instance;
  windowClass.hIcon = form.bigIcon;
  windowClass.hIconSm = form.smallIcon;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  // A system colour as "index + 1": the class must not hold a system brush.
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<UINT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kClassName;
  form.windowClass = RegisterClassExA(&windowClass);
  return form.windowClass != 0;
}

// The window itself, centred on the work area, its client area as laid out.
HWND CreateMainWindow(const Layout &layout) {
  RECT outer{0, 0, layout.clientWidth, layout.clientHeight};
  AdjustWindowRectEx(&outer, kStyle, FALSE, kExStyle);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + (work.right - work.left - width) / 2;
  const int y = work.top + (work.bottom - work.top - height) / 2;
  return CreateWindowExA(kExStyle, kClassName, kCaption, kStyle, x, y, width, height, nullptr,
                         nullptr, form.instance, nullptr);
}

HWND CreateControl(HWND parent, const char *className, const char *text, DWORD style,
                   const Placement &where, int id) {
  return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, where.x, where.y,
                         where.width, where.height, parent,
                         reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), form.instance,
                         nullptr);
}

bool CreateWindows(const Layout &layout) {
  form.window = CreateMainWindow(layout);
  if (form.window == nullptr) return false;
  form.boxFrame = CreateControl(form.window, "BUTTON", "", BS_GROUPBOX, layout.frame, kFrameId);
  if (form.boxFrame == nullptr) return false;
  form.lblMessage =
      CreateControl(form.boxFrame, "STATIC", "?", SS_LEFT | SS_NOPREFIX, layout.label, kLabelId);
  form.Image1 = CreateControl(form.boxFrame, "STATIC", "", SS_ICON | SS_REALSIZEIMAGE, layout.image,
                              kImageId);
  return form.lblMessage != nullptr && form.Image1 != nullptr;
}

void DressWindows() {
  SendMessageA(form.window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(form.bigIcon));
  SendMessageA(form.window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(form.smallIcon));
  if (form.font != nullptr) {
    SendMessageA(form.boxFrame, WM_SETFONT, reinterpret_cast<WPARAM>(form.font), FALSE);
    SendMessageA(form.lblMessage, WM_SETFONT, reinterpret_cast<WPARAM>(form.font), FALSE);
  }
  SendMessageA(form.Image1, STM_SETICON, reinterpret_cast<WPARAM>(form.cog), 0);
}

// The form's load handler.
void Form_Load() { SetWindowTextA(form.lblMessage, ansi::FromText(kProgressMessage).c_str()); }

}  // namespace

Layout ComputeLayout(int dpiX, int dpiY, int textWidth, int textHeight) {
  Layout layout{
      ToPixels(kClientWidth, dpiX), ToPixels(kClientHeight, dpiY), Place(kFrame, dpiX, dpiY),
      Place(kLabel, dpiX, dpiY),
      Placement{ToPixels(kImage.left, dpiX), ToPixels(kImage.top, dpiY), kCogPixels, kCogPixels}};
  const int wider = std::max(0, textWidth - layout.label.width);
  const int taller = std::max(0, textHeight - layout.label.height);
  layout.label.width += wider;
  layout.frame.width += wider;
  layout.clientWidth += wider;
  layout.label.height += taller;
  layout.frame.height += taller;
  layout.clientHeight += taller;
  layout.image.y += taller / 2;  // the cog stays level with the middle of the text
  return layout;
}

bool Load() {
  if (form.window != nullptr) return true;
  form.instance = GetModuleHandleA(nullptr);
  form.bigIcon = LoadIconSized(IDI_CROSS, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  form.smallIcon =
      LoadIconSized(IDI_CROSS, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
  form.cog = LoadIconSized(IDI_COG, kCogPixels, kCogPixels);
  form.font = CreateMessageFont();
  const Measure measure = MeasureMessage(ansi::FromText(kProgressMessage));
  const Layout layout =
      ComputeLayout(measure.dpiX, measure.dpiY, measure.textWidth, measure.textHeight);
  if (!RegisterWindowClass() || !CreateWindows(layout)) {
    Unload();
    return false;
  }
  DressWindows();
  Form_Load();
  return true;
}

void Show() {
  if (form.window != nullptr) ShowWindow(form.window, SW_SHOW);
}

void Repaint() {
  if (form.window != nullptr) RedrawWindow(form.window, nullptr, nullptr, kPaintNow);
}

void Unload() {
  if (form.window != nullptr) DestroyWindow(form.window);  // and the controls with it
  if (form.windowClass != 0) UnregisterClassA(kClassName, form.instance);
  if (form.font != nullptr) DeleteObject(form.font);
  for (HICON icon : {form.cog, form.smallIcon, form.bigIcon}) {
    if (icon != nullptr) DestroyIcon(icon);
  }
  form = Form{};
}

HWND Handle() { return form.window; }

}  // namespace frmFQSrvUninstall
