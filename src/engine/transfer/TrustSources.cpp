#include "engine/transfer/TrustSources.h"

TrustSources::TrustSources(const QString& bundle)
{
    if (bundle.isEmpty())
        return;
    systemDefault = false;
    files << Source{bundle, {}};
}

QString TrustSources::key() const
{
    // No path holds a NUL character.
    constexpr QChar Separator(u'\0');
    QString key = systemDefault ? QStringLiteral("system") : QStringLiteral("named");
    for (const Source& file : files)
        key += Separator + QStringLiteral("file") + Separator + file.namedBy + Separator + file.path;
    for (const Source& folder : folders)
        key += Separator + QStringLiteral("folder") + Separator + folder.namedBy + Separator + folder.path;
    return key;
}

TrustSources trustSourcesFrom(const QProcessEnvironment& environment, const QStringList& addedFiles)
{
    TrustSources sources;
    const QString file = environment.value(QStringLiteral("SSL_CERT_FILE"));
    const QString folders = environment.value(QStringLiteral("SSL_CERT_DIR"));
    if (!file.isEmpty())
        sources.files << TrustSources::Source{file, QStringLiteral("SSL_CERT_FILE")};
    // OpenSSL passes over the empty entries of the list ("a::b", a trailing colon).
    for (const QString& folder : folders.split(u':', Qt::SkipEmptyParts))
        sources.folders << TrustSources::Source{folder, QStringLiteral("SSL_CERT_DIR")};
    // A list of nothing but colons names nothing, as an empty one does.
    sources.systemDefault = sources.files.isEmpty() && sources.folders.isEmpty();
    for (const QString& added : addedFiles)
        sources.files << TrustSources::Source{added, QStringLiteral("--cacert")};
    return sources;
}
