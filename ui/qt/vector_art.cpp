#include "ui/qt/vector_art.h"

#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace varnel::qt {

namespace {

// Paints on a 16 x 16 unit canvas scaled to the image.
QPixmap Canvas(int size, qreal ratio, const std::function<void(QPainter&)>& paint) {
    QImage image(QSize(size, size) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size * ratio / 16.0, size * ratio / 16.0);
        paint(p);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

// A card with its contacts: the application icon.
void PaintCard(QPainter& p) {
    p.setPen(QPen(QColor(0x1c, 0x3f, 0x6e), 0.6));
    p.setBrush(QColor(0x2f, 0x6d, 0xb5));
    p.drawRoundedRect(QRectF(1.5, 3.5, 13, 10), 1.2, 1.2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe8, 0xc5, 0x4a));
    for (int i = 0; i < 5; ++i) p.drawRect(QRectF(2.6 + i * 2.4, 11.2, 1.4, 1.6));
    // Radio waves over the card.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 0.9, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const double r = 1.5 + i * 1.6;
        p.drawArc(QRectF(8 - r, 8.6 - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(8, 8.6), 0.8, 0.8);
}

// A sheet of paper with a coloured band and a letter-like mark per type.
void PaintType(QPainter& p, int type) {
    static const QColor bands[] = {QColor(0x3a, 0x9a, 0x4a), QColor(0x88, 0x88, 0x88), QColor(0xc0, 0x5a, 0x1e),
                                   QColor(0x2f, 0x6d, 0xb5), QColor(0x7a, 0x3d, 0xa8)};
    const QColor band = bands[type >= 0 && type < 5 ? type : 1];
    QPainterPath sheet;
    sheet.moveTo(3, 1);
    sheet.lineTo(10, 1);
    sheet.lineTo(13, 4);
    sheet.lineTo(13, 15);
    sheet.lineTo(3, 15);
    sheet.closeSubpath();
    p.setPen(QPen(QColor(0x50, 0x50, 0x50), 0.8));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.setPen(Qt::NoPen);
    p.setBrush(band);
    p.drawRect(QRectF(3.4, 9, 9.2, 5.6));
    p.setPen(QPen(Qt::white, 1.1, Qt::SolidLine, Qt::RoundCap));
    switch (type) {
    case 0:  // PDA file: rows of a table
        for (int i = 0; i < 2; ++i) p.drawLine(QPointF(5, 10.8 + i * 2), QPointF(11, 10.8 + i * 2));
        break;
    case 2:  // Primary: one block
        p.drawLine(QPointF(8, 10.2), QPointF(8, 13.4));
        break;
    case 3:  // Station: two blocks
        p.drawLine(QPointF(6.6, 10.2), QPointF(6.6, 13.4));
        p.drawLine(QPointF(9.4, 10.2), QPointF(9.4, 13.4));
        break;
    case 4:  // both
        for (int i = 0; i < 3; ++i) p.drawLine(QPointF(5.4 + i * 2.6, 10.2), QPointF(5.4 + i * 2.6, 13.4));
        break;
    default:  // unrecognised: a question mark
        p.drawArc(QRectF(6.6, 9.7, 2.8, 2.4), 0, 180 * 16);
        p.drawLine(QPointF(9.4, 10.9), QPointF(8, 12.2));
        p.drawPoint(QPointF(8, 13.8));
        break;
    }
    p.setPen(QPen(QColor(0x90, 0x90, 0x90), 0.7));
    for (int i = 0; i < 3; ++i) p.drawLine(QPointF(5, 3.5 + i * 1.7), QPointF(i == 0 ? 9 : 11, 3.5 + i * 1.7));
}

void PaintWarning(QPainter& p) {
    QPainterPath triangle;
    triangle.moveTo(8, 1.2);
    triangle.lineTo(15.2, 14.4);
    triangle.lineTo(0.8, 14.4);
    triangle.closeSubpath();
    p.setPen(QPen(QColor(0x60, 0x40, 0x00), 0.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xf5, 0xc2, 0x1b));
    p.drawPath(triangle);
    p.setPen(QPen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 5.4), QPointF(8, 10));
    p.drawPoint(QPointF(8, 12.4));
}

// The message boxes' pictures: a red disc with a cross (error), a blue disc
// with "i" (information) or "?" (question).
void PaintDisc(QPainter& p, const QColor& fill) {
    p.setPen(QPen(fill.darker(150), 0.6));
    p.setBrush(fill);
    p.drawEllipse(QPointF(8, 8), 7.2, 7.2);
}

void PaintError(QPainter& p) {
    PaintDisc(p, QColor(0xd0, 0x30, 0x2a));
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5.2, 5.2), QPointF(10.8, 10.8));
    p.drawLine(QPointF(10.8, 5.2), QPointF(5.2, 10.8));
}

void PaintInformation(QPainter& p) {
    PaintDisc(p, QColor(0x2f, 0x6d, 0xb5));
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 7.2), QPointF(8, 11.8));
    p.drawPoint(QPointF(8, 4.6));
}

void PaintQuestion(QPainter& p) {
    PaintDisc(p, QColor(0x2f, 0x6d, 0xb5));
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    QPainterPath hook;
    hook.moveTo(5.6, 6.2);
    hook.cubicTo(5.6, 3.2, 10.6, 3.2, 10.4, 6.2);
    hook.cubicTo(10.3, 7.8, 8, 8, 8, 9.8);
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.drawPoint(QPointF(8, 12.2));
}

// A double chevron: more entries than the bar has room for.
void PaintExtension(QPainter& p) {
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    for (double x : {4.5, 8.5}) p.drawPolyline(QPolygonF({QPointF(x, 4.5), QPointF(x + 3, 8), QPointF(x, 11.5)}));
}

// An icon drawn at whatever size and pixel ratio it is asked for, each
// drawing kept: the window manager's icon asks for every size again when a
// window is shown.
class VectorIconEngine : public QIconEngine {
public:
    explicit VectorIconEngine(std::function<void(QPainter&)> paint, QList<QSize> sizes)
        : m_paint(std::move(paint)), m_sizes(std::move(sizes)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / 16.0, rect.height() / 16.0);
        if (mode == QIcon::Disabled) painter->setOpacity(0.45);
        m_paint(*painter);
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        const QString key =
            QStringLiteral("%1x%2@%3/%4").arg(size.width()).arg(size.height()).arg(scale).arg(int(mode));
        if (const auto kept = m_drawn.constFind(key); kept != m_drawn.constEnd()) return *kept;
        QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            paint(&painter, QRect(QPoint(), image.size()), mode, state);
        }
        QPixmap pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(scale);
        m_drawn.insert(key, pixmap);
        return pixmap;
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return m_sizes; }
    QIconEngine* clone() const override { return new VectorIconEngine(*this); }
    QString key() const override { return QStringLiteral("varnel-vector"); }

private:
    std::function<void(QPainter&)> m_paint;
    QList<QSize> m_sizes;
    QHash<QString, QPixmap> m_drawn;
};

QIcon IconFrom(const std::function<void(QPainter&)>& paint, std::initializer_list<int> sizes) {
    QList<QSize> list;
    for (int size : sizes) list << QSize(size, size);
    return QIcon(new VectorIconEngine(paint, list));
}

}  // namespace

QIcon AppIcon() { return IconFrom(PaintCard, {16, 32, 48, 64}); }

QIcon MessageIcon(MessageArt art) {
    switch (art) {
    case MessageArt::Error: return IconFrom(PaintError, {16, 32, 48, 64});
    case MessageArt::Warning: return IconFrom(PaintWarning, {16, 32, 48, 64});
    case MessageArt::Question: return IconFrom(PaintQuestion, {16, 32, 48, 64});
    case MessageArt::Information: break;
    }
    return IconFrom(PaintInformation, {16, 32, 48, 64});
}

QIcon ExtensionIcon() { return IconFrom(PaintExtension, {16, 32}); }

QIcon TypeIcon(int type) {
    const int t = type >= 0 && type < 5 ? type : 1;
    return IconFrom([t](QPainter& p) { PaintType(p, t); }, {16});
}

QPixmap WarningPicture(int size, qreal devicePixelRatio) { return Canvas(size, devicePixelRatio, PaintWarning); }

QImage RenderAppIcon(int size) { return Canvas(size, 1.0, PaintCard).toImage(); }

}  // namespace varnel::qt
