// The second yardstick of the desktop program's start-up: a plain Qt Widgets
// program that shows the controls of varnel's main window (the same kinds,
// texts, places, fonts and menus, from the same layout table) and nothing
// else: no card, no files, no logic. It ends once the window is up.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <map>
#include <string>

#include "ui/main_window_layout.h"
#include "ui/qt/dialog_units.h"

using namespace varnel;

namespace {

QWidget* Make(const ControlLayout& control, QWidget* parent) {
    const QString text = QString::fromLatin1(control.text);
    switch (control.kind) {
    case ControlKind::GroupBox: return new QGroupBox(text, parent);
    case ControlKind::Label: return new QLabel(text, parent);
    case ControlKind::ListBox: return new QListWidget(parent);
    case ControlKind::ReadOnlyEdit: {
        auto* edit = new QLineEdit(parent);
        edit->setReadOnly(true);
        return edit;
    }
    case ControlKind::StatusEdit: {
        auto* status = new QTextEdit(parent);
        status->setReadOnly(true);
        return status;
    }
    case ControlKind::FileList: {
        auto* files = new QTreeWidget(parent);
        files->setHeaderLabels({QStringLiteral("Type / Version"), QStringLiteral("File Path")});
        return files;
    }
    case ControlKind::Button: return new QPushButton(text, parent);
    case ControlKind::CheckBox: return new QCheckBox(text, parent);
    }
    return new QWidget(parent);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Varnel"));
    auto* central = new QWidget(&window);
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    central->setFont(font);
    const qt::DialogUnits du(central->font());
    window.setCentralWidget(central);
    for (const ControlLayout& control : MainWindowControls()) {
        QWidget* widget = Make(control, central);
        widget->setGeometry(du.Rect(control.x, control.y, control.width, control.height));
        if (control.shown == Shown::Never || control.shown == Shown::WithAdapter) widget->hide();
    }
    central->setFixedSize(du.X(kMainWindowWidth), du.Y(kMainWindowHeight));
    std::map<std::string, QMenu*> menus;
    for (const MenuEntry& entry : MainWindowMenu()) {
        QMenu*& menu = menus[entry.menu];
        if (!menu) menu = window.menuBar()->addMenu(QString::fromUtf8(entry.menu));
        if (entry.separatorBefore) menu->addSeparator();
        menu->addAction(QString::fromUtf8(entry.text));
    }
    window.setFixedSize(window.sizeHint());
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return QApplication::exec();
}
