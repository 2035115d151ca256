// The windows on a real X server with a window manager (scripts/with-wm.sh:
// Xvfb and openbox): the decorations each window asks for and gets, read
// back with xprop; keys sent through the X server; the title bars' room.

#include <fstream>

#include <QElapsedTimer>
#include <QAbstractButton>
#include <QCursor>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include "tests/qt/qt_fixture.h"
#include "tests/support/run_outcome.h"
#include "ui/main_window_layout.h"
#include "ui/window_place.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/main_window.h"

namespace varnel::test {
namespace {

// xprop's answer for one property of a window ("" when it is not set).
QString XProp(const QWidget& w, const char* property) {
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(w.winId()), property});
    if (!xprop.waitForFinished(5000)) return {};
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    return out.contains("not found") || out.contains("no such atom") ? QString() : out;
}

// The motif hints' functions and decorations.
struct Motif {
    bool set = false;
    unsigned functions = 0, decorations = 0;
};
Motif MotifHints(const QWidget& w) {
    Motif m;
    const QStringList parts = XProp(w, "_MOTIF_WM_HINTS").section('=', 1).split(',', Qt::SkipEmptyParts);
    if (parts.size() < 3) return m;
    bool ok = true;
    const unsigned flags = parts[0].trimmed().toUInt(&ok, 16);
    m.set = true;
    m.functions = flags & 1 ? parts[1].trimmed().toUInt(&ok, 16) : 0x3f;
    m.decorations = flags & 2 ? parts[2].trimmed().toUInt(&ok, 16) : 0x7f;
    return m;
}
enum : unsigned { kFuncResize = 2, kFuncMove = 4, kFuncMinimize = 8, kFuncMaximize = 16, kFuncClose = 32 };
enum : unsigned {
    kDecorBorder = 2,
    kDecorResize = 4,
    kDecorTitle = 8,
    kDecorMenu = 16,
    kDecorMinimize = 32,
    kDecorMaximize = 64
};

// The window manager's answer: the actions it allows (short names).
QStringList AllowedActions(const QWidget& w) {
    QStringList names;
    const QString out = XProp(w, "_NET_WM_ALLOWED_ACTIONS").section('=', 1);
    for (QString name : out.split(',', Qt::SkipEmptyParts)) names << name.trimmed().remove("_NET_WM_ACTION_");
    return names;
}

// The frame's left, right, top and bottom widths, once the window manager
// has framed the window.
QList<int> FrameExtents(const QWidget& w) {
    QList<int> extents;
    SpinUntil(
        [&] {
            extents.clear();
            for (const QString& n : XProp(w, "_NET_FRAME_EXTENTS").section('=', 1).split(',', Qt::SkipEmptyParts))
                extents << n.trimmed().toInt();
            return extents.size() == 4 && !AllowedActions(w).isEmpty();
        },
        5000);
    return extents;
}

// What a window asks the window manager for, and what it gets.
struct Decorations {
    const char* window;
    bool title, close, minimise, maximise, resize;
};

void ExpectDecorations(const QWidget& w, const Decorations& d) {
    SCOPED_TRACE(d.window);
    ASSERT_TRUE(w.isVisible());
    const QList<int> frame = FrameExtents(w);
    const Motif m = MotifHints(w);
    ASSERT_TRUE(m.set) << "no decoration hints";
    EXPECT_EQ(bool(m.decorations & kDecorTitle), d.title);
    EXPECT_EQ(bool(m.decorations & kDecorMenu), d.close);
    EXPECT_EQ(bool(m.functions & kFuncClose), d.close);
    EXPECT_EQ(bool(m.decorations & kDecorMinimize), d.minimise);
    EXPECT_EQ(bool(m.functions & kFuncMinimize), d.minimise);
    EXPECT_EQ(bool(m.decorations & kDecorMaximize), d.maximise);
    EXPECT_EQ(bool(m.functions & kFuncMaximize), d.maximise);
    EXPECT_EQ(bool(m.functions & kFuncResize), d.resize);
    // What openbox makes of them: it keeps the close and minimise boxes
    // whatever the hints say, and offers maximising with resizing.
    const QStringList actions = AllowedActions(w);
    EXPECT_EQ(actions.contains("MAXIMIZE_HORZ"), d.maximise || d.resize) << actions.join(' ').toStdString();
    EXPECT_EQ(actions.contains("RESIZE"), d.resize) << actions.join(' ').toStdString();
    if (d.title) {
        ASSERT_EQ(frame.size(), 4);
        EXPECT_GT(frame[2], frame[3]) << "no title bar";
    } else if (frame.size() == 4) {
        EXPECT_EQ(frame[2], frame[3]) << "a title bar";
    }
}

TEST_F(QtTest, EachWindowHasTheDecorationsOfItsKind) {
    qt::Application& a = Start({Release("changes.pda"), Release("station.hex")});
    ExpectDecorations(a.Window(), {"main window", true, true, false, false, false});
    {
        qt::WarningDialog warning("Warning !!", "Do not detach.", &a.Window());
        warning.show();
        ExpectDecorations(warning, {"warning", true, true, false, false, false});
    }
    {
        qt::InfoDialog info("Summary\n", &a.Window());
        info.show();
        ExpectDecorations(info, {"Update Information", true, false, false, false, true});
    }
    {
        qt::AboutDialog about(&a.Window());
        about.show();
        ExpectDecorations(about, {"About", true, true, false, false, false});
    }
    {
        qt::WaitWindow wait("Flash update in progress...");
        ExpectDecorations(wait, {"wait window", false, false, false, false, false});
    }
    ModalAnswerer answerer({{"Driver Version for Selected Card", [](QWidget& w) {
                                 ExpectDecorations(w, {"message box", true, true, false, false, false});
                                 ModalAnswerer::Press("OK")(w);
                             }}});
    a.Window().findChild<QAction*>("queryDriver")->trigger();
    EXPECT_TRUE(answerer.Done());
}

// What the X server shows in a widget's place, against what the widget
// draws: the share of its pixels that differ.
// With VARNEL_PICTURES set, what the screen showed is kept there as NAME.png.
double ScreenDiffers(QWidget& widget, const char* name) {
    const QImage drawn = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint at = widget.mapToGlobal(QPoint(0, 0));
    const QImage shown = widget.screen()
                             ->grabWindow(0, at.x(), at.y(), widget.width(), widget.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    if (const QByteArray folder = qgetenv("VARNEL_PICTURES"); !folder.isEmpty())
        shown.save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
    if (shown.size() != drawn.size()) return 1;
    long differ = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) differ += drawn.pixel(x, y) != shown.pixel(x, y);
    return double(differ) / (drawn.width() * drawn.height());
}

// The main window shown again while the card is busy (the event loop does
// not run then) is on the screen drawn, disabled: never a black area.
TEST_F(QtTest, MainWindowShownDuringARunIsDrawn) {
    qt::Application& a = Start({Release("station.hex")});
    ASSERT_TRUE(SpinUntil([&] { return a.Window().windowHandle()->isExposed(); }, 5000));
    SpinUntil([] { return false; }, 300);
    a.Host().SetMainWindow(false, false);
    SpinUntil([] { return false; }, 300);
    a.Host().SetMainWindow(true, false);
    // No event loop from here: the card is being written.
    EXPECT_LT(ScreenDiffers(*a.Window().centralWidget(), "main-window-shown-during-a-run"), 0.01);
    EXPECT_FALSE(a.Window().centralWidget()->isEnabled());

    // A dialog closed over it during the run leaves nothing of itself.
    a.Host().SetMainWindow(true, true);
    {
        qt::InfoDialog info("Summary\n", &a.Window());
        info.show();
        info.move(a.Window().pos());
        SpinUntil([&] { return info.windowHandle()->isExposed(); }, 3000);
        SpinUntil([] { return false; }, 300);
    }
    a.Host().SetMainWindow(true, false);
    EXPECT_LT(ScreenDiffers(*a.Window().centralWidget(), "main-window-after-the-summary"), 0.01);
    a.Host().SetMainWindow(true, true);
}

// The main window opens in the middle of the screen on the first start,
// where the user left it on the next, and in the middle again when that
// place is on no screen or the stored place is damaged.
TEST_F(QtTest, MainWindowOpensWhereItWasLeft) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const std::string file = sim.dir.File("window-place");
    const auto shown = [&] {
        qt::Application& a = Start();
        EXPECT_TRUE(SpinUntil([&] { return a.Window().windowHandle()->isExposed(); }, 5000));
        SpinUntil([] { return false; }, 200);
        return a.Window().frameGeometry();
    };
    const auto restart = [&] {
        app.reset();
        QApplication::processEvents();
    };
    // Centred: the frame's middle within the frame's own size of the work
    // area's middle (the frame is not known before the window is shown).
    const auto centred = [&](const QRect& frame) {
        return std::abs(frame.center().x() - area.center().x()) <= 12 &&
               std::abs(frame.center().y() - area.center().y()) <= 30;
    };
    const QRect first = shown();
    EXPECT_TRUE(centred(first)) << first.x() << "," << first.y() << " " << first.width() << "x" << first.height();
    const WindowPlace moved{area.left() + 40, area.top() + 30};
    App().Window().move(moved.x, moved.y);
    SpinUntil([&] { return App().Window().pos() == QPoint(moved.x, moved.y); }, 3000);
    App().Window().close();
    EXPECT_EQ(LoadWindowPlace(file), moved);
    restart();
    const QRect again = shown();
    EXPECT_EQ(again.topLeft(), QPoint(moved.x, moved.y));
    for (const std::string& stored :
         {std::to_string(area.right() + 500) + " " + std::to_string(area.bottom() + 500) + "\n",
          std::string("40 x\n")}) {
        SCOPED_TRACE(stored);
        restart();
        std::ofstream(file, std::ios::trunc) << stored;
        const QRect frame = shown();
        EXPECT_TRUE(centred(frame)) << frame.x() << "," << frame.y();
    }
}

// The summary opens over the main window, wherever the pointer is, at its
// specified size; the user makes it larger and the text grows with it.
TEST_F(QtTest, SummaryOpensOverItsOwnerAndGrows) {
    qt::Application& a = Start();
    ASSERT_TRUE(SpinUntil([&] { return a.Window().windowHandle()->isExposed(); }, 5000));
    // Away from the pointer, with room around it for the summary at any scale.
    const QRect area = a.Window().screen()->availableGeometry();
    a.Window().move(area.left() + area.width() / 2 - a.Window().width() / 3,
                    area.top() + area.height() / 2 - a.Window().height() / 2);
    SpinUntil([] { return false; }, 300);
    QCursor::setPos(2, 2);
    qt::InfoDialog info(std::string(40, 'x') + " a long line of the summary " + std::string(200, 'y') + "\n",
                        &a.Window());
    auto* text = info.findChild<QPlainTextEdit*>("summary");
    const QSize first = info.size();
    info.show();
    FrameExtents(info);
    SpinUntil([] { return false; }, 300);
    const QPoint offset = info.frameGeometry().center() - a.Window().frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 4) << offset.x() << "," << offset.y();
    EXPECT_EQ(info.size(), first);
    EXPECT_GE(text->width(), text->minimumWidth());
    const auto keep = [](const char* name) {
        if (const QByteArray folder = qgetenv("VARNEL_PICTURES"); !folder.isEmpty())
            QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
    };
    keep("summary-opened");
    const QSize before = text->size();
    // The X server counts device pixels: at a scale factor other than 1 a
    // logical size may round to the next pixel.
    const qreal scale = info.devicePixelRatio();
    QProcess::execute(
        "xdotool", {"windowsize", QString::number(info.winId()), QString::number(qRound((first.width() + 200) * scale)),
                    QString::number(qRound((first.height() + 100) * scale))});
    EXPECT_TRUE(SpinUntil([&] { return std::abs(info.width() - (first.width() + 200)) <= 1; }, 3000)) << info.width();
    EXPECT_EQ(text->width() - before.width(), info.width() - first.width());
    EXPECT_EQ(text->height() - before.height(), info.height() - first.height());
    EXPECT_LE(std::abs(info.height() - (first.height() + 100)), 1) << info.height();
    SpinUntil([] { return false; }, 300);
    keep("summary-made-larger");
}

// Keys typed on the X server's keyboard (xdotool), into the window that has
// the focus, as a user types them.
void Type(const QStringList& keys) {
    for (const QString& key : keys) {
        QProcess::execute("xdotool", {"key", "--clearmodifiers", key});
        SpinUntil([] { return false; }, 150);
    }
}

TEST_F(QtTest, EnterOnTheFocusedCancelWritesNothing) {
    qt::Application& a = Start({Release("changes.pda"), Release("station.hex")});
    SpinUntil([&] { return a.Window().isActiveWindow(); }, 3000);
    QString focused;
    ModalAnswerer answerer({{"Varnel", [&](QWidget& w) {
                                 SpinUntil([&] { return w.isActiveWindow(); }, 3000);
                                 // The default button has the focus first; Tab moves it to Cancel.
                                 Type({"Tab"});
                                 if (QApplication::focusWidget()) focused = QApplication::focusWidget()->objectName();
                                 Type({"Return"});
                             }}});
    a.Dialog().OnUpdate();
    EXPECT_TRUE(answerer.Done()) << answerer.Seen().join(", ").toStdString();
    EXPECT_EQ(focused, "cancel");
    EXPECT_EQ(Writes(), 0u);
    EXPECT_EQ(Outcome(a.Dialog()), RunOutcome::Cancelled);
}

// A message box is at least as wide as its title bar needs: the caption in
// the window manager's title font (openbox's packaged "sans" 8 point bold)
// beside the icon and the three buttons, each as wide as the bar is high,
// and the padding openbox puts between them (about a bar in all).
TEST_F(QtTest, CaptionsAreNotCut) {
    qt::Application& a = Start();
    QFont title(QStringLiteral("sans"));
    title.setPointSize(8);
    title.setBold(true);
    const QFontMetrics metrics(title);
    for (const char* caption : {"Current Firmware Versions", "Driver Version for Selected Card", "Update Complete",
                                "Replace the Card's Identity?"}) {
        SCOPED_TRACE(caption);
        ModalAnswerer answerer({{caption, [&](QWidget& w) {
                                     // Measured once the window manager has framed the box: on a
                                     // busy machine the box is first shown unframed, 1 pixel wide.
                                     // Qt's own frame geometry may never learn the frame (it can
                                     // read the extents before openbox sets them), so the width
                                     // is summed in device pixels from the box and the extents.
                                     // The box can still be growing to its width when it is first
                                     // framed: measured once its width has held for half a second.
                                     QList<int> frame;
                                     int lastWidth = -1;
                                     QElapsedTimer held;
                                     const bool framed = SpinUntil(
                                         [&] {
                                             frame = FrameExtents(w);
                                             if (w.width() != lastWidth) {
                                                 lastWidth = w.width();
                                                 held.start();
                                             }
                                             return frame.size() == 4 && w.width() > 1 && held.elapsed() >= 500;
                                         },
                                         15000);
                                     ASSERT_TRUE(framed) << "the window manager never framed the box";
                                     const int bar = frame[2] - frame[3];
                                     const int outer = qRound(w.width() * w.devicePixelRatioF()) + frame[0] + frame[1];
                                     EXPECT_GE(outer,
                                               metrics.horizontalAdvance(caption) + 5 * bar + frame[0] + frame[1]);
                                     if (const QByteArray folder = qgetenv("VARNEL_PICTURES"); !folder.isEmpty()) {
                                         SpinUntil([] { return false; }, 300);
                                         const QRect at = w.frameGeometry();
                                         w.screen()
                                             ->grabWindow(0, at.x(), at.y(), at.width(), at.height())
                                             .save(QString::fromLocal8Bit(folder) + "/box-" + caption + ".png");
                                     }
                                     ModalAnswerer::Press("OK")(w);
                                 }}});
        a.Host().ShowMessage({"Done", caption, MessageIcon::Information, MessageButtons::Ok, true});
        EXPECT_TRUE(answerer.Done());
    }
}

// Where the group box's frame is drawn, in its parent's coordinates: the
// box painted alone, its top line found at the right end, away from the
// title; and where its title is.
struct DrawnFrame {
    int top = -1;
    QRect title;
};
DrawnFrame Drawn(QGroupBox& box) {
    QImage image(box.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    box.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    DrawnFrame drawn;
    for (int y = 0; y < image.height() && drawn.top < 0; ++y)
        if (qAlpha(image.pixel(image.width() - 12, y)) > 0) drawn.top = y + box.y();
    QStyleOptionGroupBox option;
    option.initFrom(&box);
    option.text = box.title();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    drawn.title =
        box.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &box).translated(box.pos());
    return drawn;
}

// Each control lies inside the frame of the group box whose rectangle
// holds it, below the frame's title.
TEST_F(QtTest, ControlsSitInsideTheirFrames) {
    qt::Application& a = Start();
    QTest::mouseClick(Find<QPushButton>("catchAdapter"), Qt::LeftButton);  // the list shown
    (void)a;
    int checked = 0;
    for (const ControlLayout& group : MainWindowControls()) {
        if (group.kind != ControlKind::GroupBox) continue;
        auto* box = Find<QGroupBox>(group.name);
        const DrawnFrame frame = Drawn(*box);
        ASSERT_GE(frame.top, box->y()) << group.name;
        // The title sits on the frame's top line.
        if (!box->title().isEmpty()) {
            EXPECT_GE(frame.top, frame.title.top()) << group.name;
            EXPECT_LE(frame.top, frame.title.bottom()) << group.name;
        }
        for (const ControlLayout& c : MainWindowControls()) {
            QWidget* widget = Find<QWidget>(c.name);
            if (c.kind == ControlKind::GroupBox || !widget->isVisible()) continue;
            if (c.x < group.x || c.y < group.y || c.x + c.width > group.x + group.width ||
                c.y + c.height > group.y + group.height)
                continue;
            SCOPED_TRACE(std::string(c.name) + " in " + group.name);
            // In the window's coordinates (the frame holds the control).
            const QRect place(widget->mapTo(box->parentWidget(), QPoint(0, 0)), widget->size());
            EXPECT_GT(place.top(), frame.top) << "frame line at " << frame.top;
            if (!box->title().isEmpty()) {
                EXPECT_GE(place.top(), frame.title.top() + box->fontMetrics().height())
                    << "title from " << frame.title.top();
            }
            EXPECT_LT(place.bottom(), box->geometry().bottom());
            ++checked;
        }
    }
    EXPECT_GE(checked, 8);
}

// The hand-overs, among them one while the summary is open, run here too:
// single_instance_test.cpp is built into this program.

}  // namespace
}  // namespace varnel::test
