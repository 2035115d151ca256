#include "ui/qt/window_frame.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <array>
#include <cstdlib>
#include <cstdint>

#ifdef VARNEL_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace varnel::qt {

namespace {

// The Motif window manager hints: which of the flags' fields count, the
// functions the window manager may offer, the decorations it may draw.
enum : uint32_t { kHintFunctions = 1, kHintDecorations = 2 };
enum : uint32_t { kFunctionResize = 2, kFunctionMove = 4, kFunctionClose = 32 };
enum : uint32_t { kDecorationBorder = 2, kDecorationResizeHandle = 4, kDecorationTitle = 8, kDecorationMenu = 16 };

void WriteHints([[maybe_unused]] QWidget& window, [[maybe_unused]] Frame frame) {
#ifdef VARNEL_HAVE_XCB
    // The X11 interface alone does not say X11: the offscreen platform
    // offers it too, without a connection.
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb") || !window.internalWinId()) return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return;
    static const xcb_atom_t atom = [connection] {
        static constexpr char kName[] = "_MOTIF_WM_HINTS";
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof kName - 1, kName), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return value;
    }();
    if (atom == xcb_atom_t{XCB_ATOM_NONE}) return;
    std::array<uint32_t, 5> hints = {kHintFunctions | kHintDecorations, kFunctionMove, 0, 0, 0};
    switch (frame) {
    case Frame::TitleAndClose:
        hints[1] |= kFunctionClose;
        hints[2] = kDecorationBorder | kDecorationTitle | kDecorationMenu;
        break;
    case Frame::TitleOnly: hints[2] = kDecorationBorder | kDecorationTitle; break;
    case Frame::ResizableTitleOnly:
        hints[1] |= kFunctionResize;
        hints[2] = kDecorationBorder | kDecorationResizeHandle | kDecorationTitle;
        break;
    case Frame::None: break;
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.internalWinId()), atom,
                        atom, 32, static_cast<uint32_t>(hints.size()), hints.data());
    xcb_flush(connection);
#endif
}

// Writes the hints again whenever Qt may have written its own: when the
// native window is made and before it is shown.
class FrameKeeper : public QObject {
public:
    FrameKeeper(QWidget& window, Frame frame) : QObject(&window), m_frame(frame) { window.installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show || event->type() == QEvent::WinIdChange)
            WriteHints(*static_cast<QWidget*>(watched), m_frame);
        return false;
    }

private:
    Frame m_frame;
};

}  // namespace

void SetFrame(QWidget& window, Frame frame) {
    const Qt::WindowFlags type = window.windowFlags() & Qt::WindowType_Mask;
    switch (frame) {
    case Frame::TitleAndClose:
        window.setWindowFlags(type | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint);
        break;
    case Frame::TitleOnly:
    case Frame::ResizableTitleOnly: window.setWindowFlags(type | Qt::CustomizeWindowHint | Qt::WindowTitleHint); break;
    case Frame::None: window.setWindowFlags(type | Qt::FramelessWindowHint); break;
    }
    new FrameKeeper(window, frame);
    WriteHints(window, frame);
}

}  // namespace varnel::qt
