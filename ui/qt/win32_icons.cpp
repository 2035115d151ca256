// varnel-win32-icons: writes the Windows program's icons (.ico) from the
// same vector art as the desktop program's, into a folder:
//   varnel.ico (16, 32, 48 pixels), warning.ico (48), type0.ico ... type4.ico (16)
// ui/win32/art holds what it writes; a test checks that they are the same.

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/qt/vector_art.h"

namespace {

void Put16(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}
void Put32(QByteArray& out, quint32 value) {
    Put16(out, static_cast<int>(value & 0xFFFF));
    Put16(out, static_cast<int>(value >> 16));
}

// One icon image as Windows keeps it: a 32-bit BGRA bitmap, bottom row
// first, then the 1-bit AND mask (set where the image is transparent).
QByteArray IconImage(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    QByteArray out;
    Put32(out, 40);
    Put32(out, static_cast<quint32>(size));
    Put32(out, static_cast<quint32>(2 * size));
    Put16(out, 1);
    Put16(out, 32);
    for (int i = 0; i < 6; ++i) Put32(out, 0);
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = image.pixel(x, y);
            out.append(static_cast<char>(qBlue(pixel)));
            out.append(static_cast<char>(qGreen(pixel)));
            out.append(static_cast<char>(qRed(pixel)));
            out.append(static_cast<char>(qAlpha(pixel)));
        }
    const int stride = ((size + 31) / 32) * 4;
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < size; ++x)
            if (qAlpha(image.pixel(x, y)) == 0) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        out.append(row);
    }
    return out;
}

QByteArray IconFile(const std::vector<QImage>& images) {
    QByteArray out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, static_cast<int>(images.size()));
    std::vector<QByteArray> data;
    for (const QImage& image : images) data.push_back(IconImage(image));
    quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const int size = images[i].width();
        out.append(static_cast<char>(size >= 256 ? 0 : size));
        out.append(static_cast<char>(size >= 256 ? 0 : size));
        out.append('\0');
        out.append('\0');
        Put16(out, 1);
        Put16(out, 32);
        Put32(out, static_cast<quint32>(data[i].size()));
        Put32(out, offset);
        offset += static_cast<quint32>(data[i].size());
    }
    for (const QByteArray& d : data) out.append(d);
    return out;
}

QImage FromIcon(const QIcon& icon, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    icon.paint(&painter, QRect(0, 0, size, size));
    return image;
}

bool Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "varnel-win32-icons: %s: cannot write\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: varnel-win32-icons FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
    bool ok =
        Write(folder + "varnel.ico",
              IconFile({varnel::qt::RenderAppIcon(16), varnel::qt::RenderAppIcon(32), varnel::qt::RenderAppIcon(48)}));
    ok = Write(folder + "warning.ico", IconFile({varnel::qt::WarningPicture(48, 1.0).toImage()})) && ok;
    for (int type = 0; type < 5; ++type)
        ok = Write(folder + QStringLiteral("type%1.ico").arg(type),
                   IconFile({FromIcon(varnel::qt::TypeIcon(type), 16)})) &&
             ok;
    return ok ? 0 : 1;
}
