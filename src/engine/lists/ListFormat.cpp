#include "engine/lists/ListFormat.h"

#include <QStringDecoder>

QByteArray ListFormat::utf8TextOf(QByteArray bytes)
{
    // A byte-order mark would otherwise become part of the first address.
    if (bytes.startsWith(ByteOrderMark))
        bytes.remove(0, ByteOrderMark.size());
    if (QByteArrayView(bytes).isValidUtf8())
        return bytes;
    return utf8OfWindows1252(bytes);
}

QByteArray ListFormat::utf8OfWindows1252(QByteArrayView bytes)
{
    QStringDecoder windows1252("windows-1252");
    if (!windows1252.isValid())  // a Qt built without ICU
        windows1252 = QStringDecoder(QStringDecoder::Latin1);
    return QString(windows1252.decode(bytes)).toUtf8();
}
