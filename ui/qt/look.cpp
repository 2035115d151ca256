#include "ui/qt/look.h"

#include <QApplication>
#include <QProxyStyle>

#include "ui/qt/art.h"
#include "ui/qt/dialogs.h"

namespace varnel::qt {

namespace {

class ArtStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const override {
        switch (icon) {
        case SP_MessageBoxCritical: return MessageIcon(MessageArt::Error);
        case SP_MessageBoxWarning: return MessageIcon(MessageArt::Warning);
        case SP_MessageBoxQuestion: return MessageIcon(MessageArt::Question);
        case SP_MessageBoxInformation: return MessageIcon(MessageArt::Information);
        // Asked for by every menu bar: the style's own is a bitmap read
        // from a file, which makes Qt load its image format plugins.
        case SP_ToolBarHorizontalExtensionButton:
        case SP_ToolBarVerticalExtensionButton: return ExtensionIcon();
        default: return QProxyStyle::standardIcon(icon, option, widget);
        }
    }
};

}  // namespace

void ApplyLook() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    if (!dynamic_cast<ArtStyle*>(QApplication::style())) QApplication::setStyle(new ArtStyle);
    QApplication::setFont(DialogFont(8));
    QApplication::setWindowIcon(AppIcon());
}

}  // namespace varnel::qt
