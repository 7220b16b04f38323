// The progress window on the stand-in: what Load builds, how the twip layout
// lands in pixels, and that nothing is left behind or closed too early.
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "StandinTest.h"
#include "ui/frmFQSrvUninstall.h"

namespace {

const char kMessage[] = "Uninstalling the FernQuay service.\r\nPlease, wait...";

struct Expected {
  int dpi;
  int messageFontHeight;
  int clientWidth, clientHeight;
  frmFQSrvUninstall::Placement frame, label, image;
};

void PrintTo(const Expected &e, std::ostream *out) {
  *out << e.dpi << " DPI, font " << e.messageFontHeight << " px";
}

}  // namespace

class frmFQSrvUninstallTest : public StandinTest {
 protected:
  void TearDown() override { frmFQSrvUninstall::Unload(); }

  static const standin::Window &Win(HWND hwnd) {
    const standin::Window *window = machine().window(hwnd);
    EXPECT_NE(window, nullptr);
    static const standin::Window none;
    return window != nullptr ? *window : none;
  }

  // The frame, the label and the image, found the way the window holds them.
  static HWND Frame() {
    std::vector<HWND> children = machine().childrenOf(frmFQSrvUninstall::Handle());
    return children.size() == 1 ? children[0] : nullptr;
  }
  static HWND FrameChild(DWORD typeStyle) {
    for (HWND child : machine().childrenOf(Frame())) {
      if ((Win(child).style & 0x1F) == typeStyle) return child;
    }
    return nullptr;
  }
  static HWND Label() { return FrameChild(SS_LEFT); }
  static HWND Image() { return FrameChild(SS_ICON); }

  static void ExpectPlaced(HWND hwnd, const frmFQSrvUninstall::Placement &where) {
    const standin::Window &w = Win(hwnd);
    EXPECT_EQ(w.x, where.x);
    EXPECT_EQ(w.y, where.y);
    EXPECT_EQ(w.width, where.width);
    EXPECT_EQ(w.height, where.height);
  }

  static void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  static bool AnyWindowLeft() {
    for (HWND hwnd : machine().windows()) {
      if (!Win(hwnd).destroyed) return true;
    }
    return false;
  }
};

TEST_F(frmFQSrvUninstallTest, Load_BuildsTheCaptionedWindowWithFrameLabelAndCog) {
  ASSERT_TRUE(frmFQSrvUninstall::Load());

  const HWND window = frmFQSrvUninstall::Handle();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(Win(window).text, "Uninstall");
  EXPECT_EQ(Win(window).parent, nullptr);
  EXPECT_EQ(Win(window).style & (WS_CAPTION | WS_SYSMENU), DWORD{WS_CAPTION | WS_SYSMENU});
  EXPECT_TRUE(Win(window).exStyle & WS_EX_APPWINDOW);
  EXPECT_NE(Win(window).bigIcon, nullptr);
  EXPECT_NE(Win(window).smallIcon, nullptr);

  ASSERT_NE(Frame(), nullptr);
  EXPECT_EQ(Win(Frame()).className, "BUTTON");
  EXPECT_EQ(Win(Frame()).style & 0x1F, DWORD{BS_GROUPBOX});
  EXPECT_EQ(Win(Frame()).text, "");
  ASSERT_EQ(machine().childrenOf(Frame()).size(), 2u);
  ASSERT_NE(Label(), nullptr);
  ASSERT_NE(Image(), nullptr);
  EXPECT_EQ(Win(Label()).className, "STATIC");
  EXPECT_EQ(Win(Image()).className, "STATIC");
  EXPECT_NE(Win(Image()).image, nullptr);

  // The message font, not the DC's own, on both controls with text.
  EXPECT_NE(Win(Frame()).font, nullptr);
  EXPECT_EQ(Win(Label()).font, Win(Frame()).font);
}

TEST_F(frmFQSrvUninstallTest, Load_LeavesTheWindowHiddenWithBothLinesInTheLabel) {
  ASSERT_TRUE(frmFQSrvUninstall::Load());

  EXPECT_FALSE(Win(frmFQSrvUninstall::Handle()).visible);
  EXPECT_FALSE(IsWindowVisible(Label()));
  EXPECT_EQ(Win(Label()).text, kMessage);
  EXPECT_EQ(machine().countCalls("ShowWindow"), 0);
  EXPECT_EQ(Win(frmFQSrvUninstall::Handle()).repaints, 0);

  // Loading again keeps the one window.
  EXPECT_TRUE(frmFQSrvUninstall::Load());
  EXPECT_EQ(machine().countCalls("CreateWindowExA"), 4);
}

TEST_F(frmFQSrvUninstallTest, ShowAndRepaint_PutTheMessageOnScreenAtOnce) {
  ASSERT_TRUE(frmFQSrvUninstall::Load());
  const std::string window = standin::handleName(frmFQSrvUninstall::Handle());

  frmFQSrvUninstall::Show();
  EXPECT_TRUE(IsWindowVisible(Label()));
  EXPECT_TRUE(IsWindowVisible(Image()));
  EXPECT_EQ(Win(frmFQSrvUninstall::Handle()).repaints, 0);

  frmFQSrvUninstall::Repaint();
  EXPECT_EQ(Win(frmFQSrvUninstall::Handle()).repaints, 1);
  EXPECT_EQ(machine().callsTo("ShowWindow"),
            std::vector<std::string>{"ShowWindow(" + window + ", 5)"});
  // Invalidate, erase, paint now, children and frame included.
  EXPECT_EQ(machine().callsTo("RedrawWindow"),
            std::vector<std::string>{"RedrawWindow(" + window + ", 0x585)"});
}

TEST_F(frmFQSrvUninstallTest, Unload_DestroysEverythingAndFreesWhatLoadTook) {
  ASSERT_TRUE(frmFQSrvUninstall::Load());
  frmFQSrvUninstall::Show();
  const HWND window = frmFQSrvUninstall::Handle();
  const HWND frame = Frame(), label = Label(), image = Image();

  frmFQSrvUninstall::Unload();

  EXPECT_EQ(frmFQSrvUninstall::Handle(), nullptr);
  for (HWND hwnd : {window, frame, label, image}) {
    EXPECT_TRUE(Win(hwnd).destroyed);
    EXPECT_FALSE(Win(hwnd).visible);
  }
  EXPECT_TRUE(machine().openHandles().empty());  // font, icons and DCs all given back
  EXPECT_EQ(machine().callsTo("UnregisterClassA"),
            std::vector<std::string>{"UnregisterClassA(\"frmFQSrvUninstall\")"});

  // The class is gone too: the window can be loaded again.
  EXPECT_TRUE(frmFQSrvUninstall::Load());
}

TEST_F(frmFQSrvUninstallTest, Unload_OfAWindowNeverShownShowsNothing) {
  ASSERT_TRUE(frmFQSrvUninstall::Load());
  frmFQSrvUninstall::Unload();

  EXPECT_FALSE(AnyWindowLeft());
  EXPECT_EQ(machine().countCalls("ShowWindow"), 0);
  for (HWND hwnd : machine().windows()) EXPECT_EQ(Win(hwnd).repaints, 0);
  EXPECT_TRUE(machine().messageBoxes().empty());
}

TEST_F(frmFQSrvUninstallTest, Unload_WithoutLoadCallsNothing) {
  frmFQSrvUninstall::Unload();
  EXPECT_TRUE(machine().calls().empty());
}

// Client area 4428 x 828 twips; frame 72,0 4260 x 732; label 576,216 3576 x 408
// and image 192,336 inside the frame; the cog keeps its 16 x 16 pixels.
class frmFQSrvUninstallLayoutTest : public frmFQSrvUninstallTest,
                                    public ::testing::WithParamInterface<Expected> {};

TEST_P(frmFQSrvUninstallLayoutTest, Load_PlacesEverythingInPixelsForTheDisplay) {
  const Expected &e = GetParam();
  machine().setDpi(e.dpi);
  machine().setMessageFontHeight(e.messageFontHeight);
  ASSERT_TRUE(frmFQSrvUninstall::Load());

  RECT client{};
  ASSERT_TRUE(GetClientRect(frmFQSrvUninstall::Handle(), &client));
  EXPECT_EQ(client.right - client.left, e.clientWidth);
  EXPECT_EQ(client.bottom - client.top, e.clientHeight);
  ExpectPlaced(Frame(), e.frame);
  ExpectPlaced(Label(), e.label);
  ExpectPlaced(Image(), e.image);
  // Two lines of the message font, and the longest line, fit the label.
  EXPECT_GE(e.label.height, 2 * e.messageFontHeight);
  EXPECT_GE(e.label.width, 34 * ((e.messageFontHeight + 1) / 2));
}

INSTANTIATE_TEST_SUITE_P(
    Displays, frmFQSrvUninstallLayoutTest,
    ::testing::Values(
        // 15 twips a pixel; the longest line fills the label's width exactly.
        Expected{96, 13, 295, 55, {5, 0, 284, 49}, {38, 14, 238, 27}, {13, 22, 16, 16}},
        // 12 twips a pixel: the form's own figures.
        Expected{120, 13, 369, 69, {6, 0, 355, 61}, {48, 18, 298, 34}, {16, 28, 16, 16}},
        // One pixel too tall at 96 DPI: label, frame and window one pixel taller.
        Expected{96, 14, 295, 56, {5, 0, 284, 50}, {38, 14, 238, 28}, {13, 22, 16, 16}},
        // Exactly two lines tall at 120 DPI, but 8 pixels too wide: only wider.
        Expected{120, 17, 377, 69, {6, 0, 363, 61}, {48, 18, 306, 34}, {16, 28, 16, 16}},
        // 9-point text at 144 DPI: 7 pixels taller and 50 wider; the cog moves
        // down with the middle of the text.
        Expected{144, 24, 493, 90, {7, 0, 476, 80}, {58, 22, 408, 48}, {19, 37, 16, 16}}));

TEST_F(frmFQSrvUninstallTest, Load_CentresTheWindowOnTheWorkArea) {
  ASSERT_TRUE(frmFQSrvUninstall::Load());
  RECT work{};
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
  const standin::Window &w = Win(frmFQSrvUninstall::Handle());

  EXPECT_LE(std::abs((w.x - work.left) - (work.right - w.x - w.width)), 1);
  EXPECT_LE(std::abs((w.y - work.top) - (work.bottom - w.y - w.height)), 1);
}

TEST_F(frmFQSrvUninstallTest, Load_WithoutTheMessageFontStillFitsBothLines) {
  // No message font: the controls keep the system font, and the label is
  // measured in it (16-pixel lines here: two need 32 of the 27 pixels).
  machine().failCall("CreateFontIndirectA", standin::Fault{1, ERROR_NOT_ENOUGH_MEMORY});
  ASSERT_TRUE(frmFQSrvUninstall::Load());

  EXPECT_EQ(Win(Label()).font, nullptr);
  EXPECT_EQ(Win(Label()).height, 32);
  EXPECT_EQ(Win(Label()).text, kMessage);
}

TEST_F(frmFQSrvUninstallTest, CloseBox_DoesNotCloseTheWindowWhileTheWorkRuns) {
  ASSERT_TRUE(frmFQSrvUninstall::Load());
  frmFQSrvUninstall::Show();
  const HWND window = frmFQSrvUninstall::Handle();

  machine().queueMessage(window, WM_CLOSE);
  machine().queueMessage(window, WM_SYSCOMMAND, SC_CLOSE);  // the close box, Alt+F4
  PumpMessages();

  EXPECT_EQ(machine().countCalls("DispatchMessageA"), 2);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsWindowVisible(Label()));
  EXPECT_EQ(machine().countCalls("DestroyWindow"), 0);
}

TEST_F(frmFQSrvUninstallTest, Load_FailsCleanlyWhenAnyWindowCannotBeCreated) {
  // The window itself, the frame, the label, the image.
  for (int nth = 1; nth <= 4; ++nth) {
    SCOPED_TRACE("CreateWindowExA call " + std::to_string(nth) + " fails");
    machine().reset();
    machine().failCall("CreateWindowExA", standin::Fault{nth, ERROR_NOT_ENOUGH_MEMORY});

    EXPECT_FALSE(frmFQSrvUninstall::Load());
    EXPECT_EQ(frmFQSrvUninstall::Handle(), nullptr);
    EXPECT_FALSE(AnyWindowLeft());
    EXPECT_TRUE(machine().openHandles().empty());
    EXPECT_EQ(machine().countCalls("UnregisterClassA"), 1);

    // Nothing behind to trip over: the next Load works and Show or Repaint
    // of a failed Load does nothing.
    frmFQSrvUninstall::Show();
    frmFQSrvUninstall::Repaint();
    EXPECT_EQ(machine().countCalls("ShowWindow") + machine().countCalls("RedrawWindow"), 0);
    EXPECT_TRUE(frmFQSrvUninstall::Load());
    frmFQSrvUninstall::Unload();
  }
}

TEST_F(frmFQSrvUninstallTest, Load_FailsCleanlyWhenTheClassCannotBeRegistered) {
  machine().failCall("RegisterClassExA", standin::Fault{1, ERROR_NOT_ENOUGH_MEMORY});

  EXPECT_FALSE(frmFQSrvUninstall::Load());
  EXPECT_EQ(machine().countCalls("CreateWindowExA"), 0);
  EXPECT_EQ(machine().countCalls("UnregisterClassA"), 0);
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(frmFQSrvUninstallTest, ComputeLayout_GrowsOnlyByWhatTheTextNeedsBeyondTheLabel) {
  using frmFQSrvUninstall::ComputeLayout;
  const frmFQSrvUninstall::Layout fits = ComputeLayout(120, 120, 298, 34);
  const frmFQSrvUninstall::Layout small = ComputeLayout(120, 120, 10, 10);
  const frmFQSrvUninstall::Layout over = ComputeLayout(120, 120, 299, 35);

  EXPECT_EQ(fits.clientWidth, small.clientWidth);
  EXPECT_EQ(fits.label.height, small.label.height);  // never shrinks below the form
  EXPECT_EQ(over.label.width, 299);
  EXPECT_EQ(over.label.height, 35);
  EXPECT_EQ(over.frame.width, fits.frame.width + 1);
  EXPECT_EQ(over.frame.height, fits.frame.height + 1);
  EXPECT_EQ(over.clientWidth, fits.clientWidth + 1);
  EXPECT_EQ(over.clientHeight, fits.clientHeight + 1);
  EXPECT_EQ(over.label.x, fits.label.x);  // grows right and down, stays put
  EXPECT_EQ(over.label.y, fits.label.y);
}
