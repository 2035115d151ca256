#include "ui/qt/application_style.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

#include "ui/qt/vector_art.h"
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

    // A titled group box as dialog templates draw it: the style's own frame
    // with its top line through the middle of the title, the title's room
    // cut out of the line, and the style's own title. (Some styles, Fusion
    // among them, put the title above the frame, so that controls placed
    // for a title on the line overlap the frame's top.)
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
        if (control != CC_GroupBox || !box || box->text.isEmpty() || !(box->subControls & SC_GroupBoxFrame))
            return QProxyStyle::drawComplexControl(control, option, painter, widget);
        const QRect label = subControlRect(CC_GroupBox, option, SC_GroupBoxLabel, widget);
        QStyleOptionFrame frame;
        frame.QStyleOption::operator=(*box);
        frame.features = box->features;
        frame.lineWidth = box->lineWidth;
        frame.midLineWidth = box->midLineWidth;
        const int top = label.center().y() - FrameInset(frame);
        frame.rect = QRect(option->rect.left(), top, option->rect.width(), option->rect.bottom() - top + 1);
        painter->save();
        painter->setClipRegion(QRegion(option->rect).subtracted(label.adjusted(-2, 0, 2, 0)));
        drawPrimitive(PE_FrameGroupBox, &frame, painter, nullptr);
        painter->restore();
        QStyleOptionGroupBox title(*box);
        title.subControls = SC_GroupBoxLabel;
        QProxyStyle::drawComplexControl(control, &title, painter, widget);
    }

private:
    // How far below its rectangle's top the base style draws a group box
    // frame's top line: found by drawing one.
    int FrameInset(const QStyleOptionFrame& like) const {
        QImage image(64, 96, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QStyleOptionFrame frame = like;
        frame.rect = image.rect();
        {
            QPainter painter(&image);
            drawPrimitive(PE_FrameGroupBox, &frame, &painter, nullptr);
        }
        for (int y = 0; y < image.height(); ++y)
            if (qAlpha(image.pixel(image.width() / 2, y)) > 0) return y;
        return 0;
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
