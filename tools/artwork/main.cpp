// Draws the program's own artwork: the application icon at the four sizes the
// desktop asks for, and the hand pointer the window shows over its buttons.
// Run: tessaly_artwork <resources folder>
//      tessaly_artwork --cursor <cursor file>
#include <QDir>
#include <QSaveFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <QtEndian>

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

// Where the hand points: the tip of the raised index finger.
constexpr int CursorSize = 32;
constexpr QPoint CursorHotspot(11, 1);

// A white gloved hand with a dark outline, index finger up.
QImage drawHandCursor()
{
    QImage image(CursorSize, CursorSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(0, 1);  // the outline's top row falls on the hotspot

    QPainterPath hand;
    hand.setFillRule(Qt::WindingFill);
    hand.addRoundedRect(QRectF(9, 1, 5, 18), 2.5, 2.5);     // index finger
    hand.addRoundedRect(QRectF(14, 9, 4.5, 11), 2.2, 2.2);  // middle finger
    hand.addRoundedRect(QRectF(18.5, 10, 4.5, 10), 2.2, 2.2);
    hand.addRoundedRect(QRectF(23, 11.5, 4, 9), 2, 2);  // little finger
    QPainterPath thumb;
    thumb.moveTo(10, 21);
    thumb.lineTo(4.5, 15.5);
    thumb.cubicTo(2.5, 13.5, 0.5, 16, 2, 18);
    thumb.lineTo(8, 26);
    thumb.closeSubpath();
    hand.addPath(thumb);
    hand.addRoundedRect(QRectF(8, 16, 19, 11), 4, 4);  // palm
    hand.addRect(QRectF(10, 26, 15, 4));               // cuff
    hand = hand.simplified();

    painter.setPen(QPen(Qt::black, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::white);
    painter.drawPath(hand);
    // The gaps between the fingers.
    painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 0.9));
    for (qreal x : {14.0, 18.5, 23.0})
        painter.drawLine(QPointF(x, 13), QPointF(x, 19));
    painter.setPen(QPen(Qt::black, 1.2));
    painter.drawLine(QPointF(10, 26), QPointF(25, 26));
    return image;
}

void appendWord(QByteArray& out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void appendLong(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// A Windows cursor file: the icon file layout with type 2 and the hotspot in
// the directory entry, holding one 32-bit bitmap (with its alpha) followed by
// the one-bit mask, rows bottom up.
QByteArray cursorFileOf(const QImage& picture, QPoint hotspot)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    const int height = image.height();
    const int maskStride = ((width + 31) / 32) * 4;
    const quint32 bitmapSize = 40 + quint32(width * height * 4) + quint32(maskStride * height);

    QByteArray out;
    appendWord(out, 0);  // reserved
    appendWord(out, 2);  // type: cursor
    appendWord(out, 1);  // one image
    out.append(char(width & 0xff));
    out.append(char(height & 0xff));
    out.append(char(0));  // no palette
    out.append(char(0));
    appendWord(out, quint16(hotspot.x()));
    appendWord(out, quint16(hotspot.y()));
    appendLong(out, bitmapSize);
    appendLong(out, 6 + 16);  // where the bitmap starts

    appendLong(out, 40);  // the bitmap's header
    appendLong(out, quint32(width));
    appendLong(out, quint32(height * 2));  // colour rows and mask rows
    appendWord(out, 1);
    appendWord(out, 32);
    appendLong(out, 0);  // uncompressed
    appendLong(out, quint32(width * height * 4) + quint32(maskStride * height));
    appendLong(out, 0);
    appendLong(out, 0);
    appendLong(out, 0);
    appendLong(out, 0);
    for (int y = height - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x)
            appendLong(out, row[x]);  // little-endian 0xAARRGGBB is B, G, R, A
    }
    // Mask bit set: the screen shows through.
    for (int y = height - 1; y >= 0; --y) {
        QByteArray mask(maskStride, '\0');
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x)
            if (qAlpha(row[x]) < 128)
                mask[x / 8] = char(mask[x / 8] | (0x80 >> (x % 8)));
        out.append(mask);
    }
    return out;
}

int writeCursor(const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(cursorFileOf(drawHandCursor(), CursorHotspot)) < 0 || !file.commit()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}
}  // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    if (argc == 3 && QByteArrayView(argv[1]) == "--cursor")
        return writeCursor(QString::fromLocal8Bit(argv[2]));
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessaly_artwork <resources folder>\n"
                             "       tessaly_artwork --cursor <cursor file>\n");
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
