#include "window/desktop/Shell.h"

#include <QRegularExpression>

QUrl Shell::webAddressOf(const QString& text)
{
    QString address = text.trimmed();
    if (address.size() >= 2 && address.startsWith(u'"') && address.endsWith(u'"'))
        address = address.mid(1, address.size() - 2).trimmed();
    if (address.isEmpty() || address.contains(u'"'))
        return {};
    for (QChar c : address) {
        if (c.category() == QChar::Other_Control)
            return {};
    }

    if (address.contains(QStringLiteral("://"))) {
        const QUrl url(address, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        const bool web = scheme == u"http" || scheme == u"https";
        return web && url.isValid() && !url.host().isEmpty() ? url : QUrl();
    }

    // No scheme: only something that reads as a host name, perhaps with a
    // port and a path, is taken as a web address.
    static const QRegularExpression hostLike(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)+"
                                                            "(:[0-9]{1,5})?([/?#].*)?$"));
    if (!hostLike.match(address).hasMatch())
        return {};
    QUrl web(QStringLiteral("http://") + address, QUrl::StrictMode);
    return web.isValid() && !web.host().isEmpty() ? web : QUrl();
}

bool Shell::open(const QString& text)
{
    const QUrl address = webAddressOf(text);
    return !address.isEmpty() && openInBrowser(address);
}
