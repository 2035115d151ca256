// Message boxes, the small dialogs, and the windows' room for their texts.

#include <QAbstractButton>
#include <QClipboard>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "tests/qt/qt_fixture.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/dialogs.h"

namespace varnel::test {
namespace {

TEST_F(QtTest, MessageBoxes) {
    struct Case {
        Message message;
        QString title;
        QMessageBox::Icon icon;
        QStringList buttons;  // the default first
        MessageAnswer escape;
    };
    const std::vector<Case> cases = {
        {{"No caption <b>x</b>", "", MessageIcon::None, MessageButtons::Ok, true},
         "Varnel",
         QMessageBox::NoIcon,
         {"OK"},
         MessageAnswer::Ok},
        {{"Stop", "Error", MessageIcon::Error, MessageButtons::Ok, false},
         "Error",
         QMessageBox::Critical,
         {"OK"},
         MessageAnswer::Ok},
        {{"Sure?", "Warning", MessageIcon::Warning, MessageButtons::OkCancel, true},
         "Warning",
         QMessageBox::Warning,
         {"OK", "Cancel"},
         MessageAnswer::Cancel},
        {{"Go on?", "Question", MessageIcon::Question, MessageButtons::YesNo, false},
         "Question",
         QMessageBox::Question,
         {"&Yes", "&No"},
         MessageAnswer::No},
        {{"Done\r\nline two", "Update Complete", MessageIcon::Information, MessageButtons::Ok, true},
         "Update Complete",
         QMessageBox::Information,
         {"OK"},
         MessageAnswer::Ok},
        // A question whose Yes cannot be undone lightly: Enter answers No.
        {{"Replace?", "Replace", MessageIcon::Warning, MessageButtons::YesNo, true, true},
         "Replace",
         QMessageBox::Warning,
         {"&No", "&Yes"},
         MessageAnswer::No},
    };
    qt::Application& a = Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.text);
        ModalAnswerer answerer({{c.title, [&](QWidget& w) {
                                     auto* box = qobject_cast<QMessageBox*>(&w);
                                     ASSERT_NE(box, nullptr);
                                     EXPECT_EQ(box->textFormat(), Qt::PlainText);
                                     EXPECT_EQ(box->text(), QString::fromStdString(c.message.text).remove('\r'));
                                     EXPECT_EQ(box->icon(), c.icon);
                                     // No empty column where no icon is: the text starts at the margin.
                                     if (c.icon == QMessageBox::NoIcon) {
                                         auto* text = box->findChild<QLabel*>("qt_msgbox_label");
                                         ASSERT_NE(text, nullptr);
                                         EXPECT_LE(text->mapTo(box, QPoint(0, 0)).x(),
                                                   box->layout()->contentsMargins().left() + 1);
                                     }
                                     QStringList buttons;
                                     if (box->defaultButton()) buttons << box->defaultButton()->text();
                                     for (QAbstractButton* b : box->buttons())
                                         if (b != box->defaultButton()) buttons << b->text();
                                     EXPECT_EQ(buttons, c.buttons);
                                     EXPECT_EQ(box->parentWidget(), c.message.owned ? &a.Window() : nullptr);
                                     QTest::keyClick(box, Qt::Key_Escape);
                                 }}});
        EXPECT_EQ(a.Host().ShowMessage(c.message), c.escape);
        EXPECT_TRUE(answerer.Done());
    }
}

TEST_F(QtTest, MessageBoxWhileTheMainWindowIsHiddenDoesNotQuit) {
    qt::Application& a = Start();
    bool quit = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quit = true; });
    a.Host().SetMainWindow(false, false);
    ModalAnswerer answerer({{"Varnel", ModalAnswerer::Press("OK")}});
    a.Host().ShowMessage({"while hidden", "", MessageIcon::None, MessageButtons::Ok, true});
    QApplication::processEvents();
    EXPECT_FALSE(quit);
    a.Host().SetMainWindow(true, true);
    EXPECT_TRUE(a.Window().isVisible());
}

TEST_F(QtTest, DialogsOverDisabledControlsAnswer) {
    // The controls are disabled around the summary; its dialogs still take
    // input.
    qt::Application& a = Start();
    a.Host().SetMainWindow(true, false);
    ModalAnswerer answerer({{"Update Information", ModalAnswerer::Press("UPDATE")}});
    EXPECT_TRUE(a.Host().ConfirmSummary("text"));
    a.Host().SetMainWindow(true, true);
}

TEST_F(QtTest, AboutBox) {
    qt::Application& a = Start();
    QString version;
    QStringList labels;
    ModalAnswerer answerer({{"About This Program", [&](QWidget& w) {
                                 version = w.findChild<QLineEdit*>("version")->text();
                                 for (QLabel* l : w.findChildren<QLabel*>())
                                     if (!l->text().isEmpty()) labels << l->text();
                                 ModalAnswerer::Press("OK")(w);
                             }}});
    a.Window().findChild<QAction*>("about")->trigger();
    EXPECT_TRUE(answerer.Done());
    EXPECT_EQ(version.toStdString(), CVarnelDlg::AboutVersionText());
    EXPECT_EQ(labels, QStringList({"Firmware Update for Windows", "OEM"}));
}

TEST_F(QtTest, ClipboardCopiesTheWholeSummary) {
    for (const std::string text : {"Product Part Number: PN\n", "two\r\nlines\r\n", "no break", "breaks\n\n"}) {
        SCOPED_TRACE(text);
        qt::InfoDialog info(text);
        QGuiApplication::clipboard()->clear();
        info.CopyToClipboard();
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
                  QString::fromStdString(text).remove('\r').toStdString());
    }
}

TEST_F(QtTest, WaitWindow) {
    struct Case {
        std::string message;
        QString shown;
    };
    for (const Case& c :
         {Case{"Flash update in progress...", "Flash update in progress..."}, Case{"", " Please wait..."}}) {
        qt::WaitWindow wait(c.message);
        EXPECT_TRUE(wait.isVisible());
        EXPECT_TRUE(wait.windowFlags() & Qt::FramelessWindowHint);
        auto* label = wait.findChild<QLabel*>("message");
        EXPECT_EQ(label->text(), c.shown);
        EXPECT_TRUE(label->font().bold());
        EXPECT_FALSE(wait.Bar()->isTextVisible());
        wait.SetRange(0, 10);
        wait.SetPosition(10);
        EXPECT_EQ(wait.Bar()->value(), 10);
    }
}

// Every visible label and button of a window has the room its text needs.
void ExpectNothingClipped(QWidget& window) {
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window)) continue;
        if (!qobject_cast<QLabel*>(w) && !qobject_cast<QAbstractButton*>(w)) continue;
        const QSize hint = w->sizeHint();
        const QString text = w->property("text").toString();
        EXPECT_GE(w->width(), hint.width()) << window.objectName().toStdString() << " " << text.toStdString();
        EXPECT_GE(w->height(), w->fontMetrics().height())
            << window.objectName().toStdString() << " " << text.toStdString();
    }
}

TEST_F(QtTest, NoLabelClipped) {
    qt::Application& a = Start({Release("changes.pda"), Release("primary.hex"), Release("station.hex")});
    ExpectNothingClipped(a.Window());
    QTest::mouseClick(a.Window().findChild<QPushButton*>("catchAdapter"), Qt::LeftButton);
    ExpectNothingClipped(a.Window());
    {
        qt::WarningDialog warning("Warning !!", "Do not detach the STA in the period of firmware downloaded.  If you "
                                                "do, that might cause a serious damage!");
        warning.show();
        ExpectNothingClipped(warning);
    }
    {
        qt::InfoDialog info("Product Part Number: PN\n");
        info.show();
        ExpectNothingClipped(info);
    }
    {
        qt::AboutDialog about;
        about.show();
        ExpectNothingClipped(about);
    }
    qt::WaitWindow wait("Flash update in progress...");
    ExpectNothingClipped(wait);
}

// The warning's bold button texts keep clear of their buttons' edges, as
// the texts of the other dialogs' buttons do.
TEST_F(QtTest, WarningButtonsHaveMargins) {
    qt::WarningDialog warning("Warning !!", "Do not detach.");
    warning.show();
    const qt::DialogUnits du(warning.font());
    for (const char* name : {"download", "cancel"}) {
        auto* button = warning.findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr);
        const int room = button->width() - button->fontMetrics().horizontalAdvance(button->text());
        EXPECT_GE(room, du.X(12)) << name;
    }
}

}  // namespace
}  // namespace varnel::test
