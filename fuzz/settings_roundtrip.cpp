// Any text written to the settings store reads back exactly.
#include "window/desktop/SettingsStore.h"

#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    const QString value = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QtSettingsStore(folder.path())
        .write(QStringLiteral("Velmora"), QStringLiteral("Tessaly Software"), QStringLiteral("Text1"), value);
    const QString back = QtSettingsStore(folder.path())
                             .read(QStringLiteral("Velmora"), QStringLiteral("Tessaly Software"),
                                   QStringLiteral("Text1"), QStringLiteral("<absent>"));
    if (back != value)
        std::abort();
    return 0;
}
