#include "engine/transfer/CookieJar.h"

#include "engine/transfer/CurlRequest.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <curl/curl.h>

namespace {
// A handle of its own that works on the jar: curl reads and writes cookie
// files only through an easy handle.
struct JarHandle {
    CURL* easy = curl_easy_init();
    ~JarHandle() { curl_easy_cleanup(easy); }
};
}  // namespace

CookieJar::CookieJar(QString path) : m_path(std::move(path)) {}

std::variant<std::unique_ptr<CookieJar>, QString> CookieJar::open(const QString& path)
{
    const QFileInfo file(path);
    const QString said = QStringLiteral("--cookie-jar %1: ").arg(path);
    if (file.exists()) {
        QFile reading(path);
        if (file.isDir())
            return said + QStringLiteral("is a folder");
        if (!reading.open(QIODevice::ReadOnly))
            return said + reading.errorString();
        if (!file.isWritable())
            return said + QStringLiteral("cannot be written back");
    } else if (!QFileInfo(file.absolutePath()).isDir() || !QFileInfo(file.absolutePath()).isWritable()) {
        return said + QStringLiteral("cannot be written in %1").arg(file.absolutePath());
    }
    initialiseCurlOnce();
    std::unique_ptr<CookieJar> jar(new CookieJar(path));
    CURLSH* share = curl_share_init();
    if (!share)
        return said + QStringLiteral("no memory for cookies");
    jar->m_share = share;
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &CookieJar::lock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &CookieJar::unlock);
    curl_share_setopt(share, CURLSHOPT_USERDATA, jar.get());
    // It takes the place of the trust store's share on each request
    // (CurlRequest), and so shares what that one does too.
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    if (curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK)
        return said + QStringLiteral("this curl cannot share cookies");
    if (file.exists()) {
        JarHandle handle;
        const QByteArray name = QFile::encodeName(path);
        if (!handle.easy || curl_easy_setopt(handle.easy, CURLOPT_SHARE, share) != CURLE_OK
            || curl_easy_setopt(handle.easy, CURLOPT_COOKIEFILE, name.constData()) != CURLE_OK
            || curl_easy_setopt(handle.easy, CURLOPT_COOKIELIST, "RELOAD") != CURLE_OK)
            return said + QStringLiteral("could not be read");
    }
    return jar;
}

CookieJar::~CookieJar()
{
    if (m_share)
        curl_share_cleanup(static_cast<CURLSH*>(m_share));
}

std::optional<QString> CookieJar::save()
{
    // The jar's lines as curl would write them, written here so that a file
    // that could not be written is known (curl keeps that to itself).
    const QString said = QStringLiteral("--cookie-jar %1: ").arg(m_path);
    JarHandle handle;
    curl_slist* cookies = nullptr;
    if (!handle.easy || curl_easy_setopt(handle.easy, CURLOPT_SHARE, static_cast<CURLSH*>(m_share)) != CURLE_OK
        || curl_easy_getinfo(handle.easy, CURLINFO_COOKIELIST, &cookies) != CURLE_OK)
        return said + QStringLiteral("the cookies could not be read back");
    QByteArray text("# Netscape HTTP Cookie File\n# Written by tessaly-check; curl reads it.\n\n");
    for (const curl_slist* cookie = cookies; cookie; cookie = cookie->next)
        text.append(cookie->data).append('\n');
    curl_slist_free_all(cookies);
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return said + file.errorString();
    return std::nullopt;
}

void CookieJar::lock(void*, int data, int, void* self)
{
    static_cast<CookieJar*>(self)->m_locks.at(static_cast<size_t>(data) % std::tuple_size_v<decltype(m_locks)>).lock();
}

void CookieJar::unlock(void*, int data, void* self)
{
    static_cast<CookieJar*>(self)->m_locks.at(static_cast<size_t>(data) % std::tuple_size_v<decltype(m_locks)>).unlock();
}
