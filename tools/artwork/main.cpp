// Draws the program's own artwork: the application icon at the four sizes the
// desktop asks for. Run: tessaly_artwork <resources folder>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {
QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 256.0, size / 256.0);

    // A sheet of a list: a rounded white page with a blue band.
    painter.setPen(QPen(QColor(0x1f, 0x3a, 0x68), 8));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(20, 20, 216, 216), 28, 28);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2b, 0x6c, 0xc4));
    painter.drawRoundedRect(QRectF(24, 24, 208, 44), 24, 24);
    painter.drawRect(QRectF(24, 48, 208, 20));

    // Three lines of addresses, the first two ticked green, the last crossed red.
    const QColor lineColour(0x9a, 0xa8, 0xbd);
    for (int row = 0; row < 3; ++row) {
        const qreal y = 100 + row * 46;
        painter.setBrush(lineColour);
        painter.drawRoundedRect(QRectF(96, y - 7, 112, 14), 7, 7);
        QPen mark(row < 2 ? QColor(0x2e, 0x9e, 0x44) : QColor(0xd0, 0x3b, 0x2f), 14, Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin);
        painter.setPen(mark);
        painter.setBrush(Qt::NoBrush);
        if (row < 2) {
            QPainterPath tick;
            tick.moveTo(46, y);
            tick.lineTo(60, y + 13);
            tick.lineTo(80, y - 14);
            painter.drawPath(tick);
        } else {
            painter.drawLine(QPointF(48, y - 12), QPointF(74, y + 12));
            painter.drawLine(QPointF(74, y - 12), QPointF(48, y + 12));
        }
        painter.setPen(Qt::NoPen);
    }
    return image;
}
}  // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessaly_artwork <resources folder>\n");
        return 2;
    }
    const QDir resources(QString::fromLocal8Bit(argv[1]));
    resources.mkpath(QStringLiteral("icons"));
    for (int size : {32, 48, 128, 256}) {
        const QString path = resources.filePath(QStringLiteral("icons/tessaly-%1.png").arg(size));
        if (!drawIcon(size).save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
