#pragma once

// Compressed files as gzip writes them, for the readers of .gz documents.

#include <QByteArray>

#include <zlib.h>

// One gzip member holding `copies` times the bytes.
inline QByteArray gzipped(const QByteArray& bytes, int copies = 1)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    QByteArray compressed(deflateBound(&stream, bytes.size()) * copies + 64, Qt::Uninitialized);
    stream.next_out = reinterpret_cast<Bytef*>(compressed.data());
    stream.avail_out = compressed.size();
    for (int copy = 1; copy <= copies; ++copy) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
        stream.avail_in = bytes.size();
        deflate(&stream, copy == copies ? Z_FINISH : Z_NO_FLUSH);
    }
    compressed.truncate(stream.total_out);
    deflateEnd(&stream);
    return compressed;
}
