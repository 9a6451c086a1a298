#include "engine/transfer/TrustStore.h"
#include "engine/transfer/CurlHandles.h"

#include "engine/Failure.h"

#include <QFile>

#include <curl/curl.h>
#include <openssl/opensslv.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <array>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

namespace {

// The trust store curl would build for each connection: the CA file (or
// curl's own default bundle) and its default certificate folder, with the
// verification flags curl sets. Null when the CA file cannot be read, which
// fails every TLS connection, as curl does.
X509_STORE* readTrustStore(const QByteArray& file, const QByteArray& folder)
{
    // The window's thread comes first when both want the processor (on Linux
    // the niceness is the calling thread's own).
    setpriority(PRIO_PROCESS, 0, 10);
    // OpenSSL fills its tables of algorithms on the first TLS context made in
    // the program, some milliseconds of work better done here than in the
    // first connection's handshake.
    SSL_CTX_free(SSL_CTX_new(TLS_client_method()));

    X509_STORE* store = X509_STORE_new();
    if (!store)
        return nullptr;
    if (!file.isEmpty() && X509_STORE_load_file(store, file.constData()) != 1) {
        X509_STORE_free(store);
        return nullptr;
    }
    // The folder is looked up by subject hash on demand: nothing is read now.
    if (!folder.isEmpty())
        X509_STORE_load_path(store, folder.constData());
    if (file.isEmpty() && folder.isEmpty())
        X509_STORE_set_default_paths(store);
    X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    return store;
}

// curl's built-in CA bundle and folder.
std::pair<QByteArray, QByteArray> defaultAuthorities()
{
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    char* file = nullptr;
    char* folder = nullptr;
    if (easy) {
        curl_easy_getinfo(easy.get(), CURLINFO_CAINFO, &file);
        curl_easy_getinfo(easy.get(), CURLINFO_CAPATH, &folder);
    }
    return {QByteArray(file ? file : ""), QByteArray(folder ? folder : "")};
}

// What tells a file replaced or rewritten from the one read: a security
// update may drop a root from the bundle while the program runs.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileStamp& other) const
    {
        return device == other.device && inode == other.inode && size == other.size
            && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec
            && changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

// None for a file that is not there (or no file).
std::optional<FileStamp> stampOf(const QByteArray& file)
{
    struct stat status {};
    if (file.isEmpty() || ::stat(file.constData(), &status) != 0)
        return std::nullopt;
    return FileStamp{status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

// Everything shared by the requests that trust one set of authorities.
struct Authorities {
    QByteArray file;
    QByteArray folder;
    CURLSH* share = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;

    std::mutex storeGuard;  // guards what follows
    std::condition_variable firstRead;
    bool haveStore = false;               // the first read is done
    X509_STORE* store = nullptr;          // null: the file could not be read
    std::optional<FileStamp> storeStamp;  // the file as it was when the store's read began
    bool reading = false;
    std::future<void> reader;
    std::vector<std::function<void()>> waitingForStore;

    explicit Authorities(const QString& certificateAuthorityFile)
    {
        std::tie(file, folder) = defaultAuthorities();
        if (!certificateAuthorityFile.isEmpty())
            file = QFile::encodeName(certificateAuthorityFile);
        {
            const std::lock_guard locked(storeGuard);
            startReading();
        }

        share = curl_share_init();
        if (!share)
            return;
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Authorities::lock);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Authorities::unlock);
        curl_share_setopt(share, CURLSHOPT_USERDATA, this);
    }
    ~Authorities()
    {
        curl_share_cleanup(share);
        std::unique_lock locked(storeGuard);
        std::future<void> last = std::move(reader);
        locked.unlock();
        if (last.valid())
            last.wait();
        X509_STORE_free(store);
    }
    Authorities(const Authorities&) = delete;
    Authorities& operator=(const Authorities&) = delete;

    // With storeGuard held. The store in use stays until the new one is read.
    void startReading()
    {
        reading = true;
        const std::optional<FileStamp> stamp = stampOf(file);
        // A reader that has handed its store over has nothing left to do.
        if (reader.valid())
            reader.wait();
        reader = std::async(std::launch::async, [this, stamp] {
            X509_STORE* read = readTrustStore(file, folder);
            std::vector<std::function<void()>> waiting;
            {
                const std::lock_guard locked(storeGuard);
                // A file caught half rewritten, or left broken, reads as no
                // store: the one in use stays (its stamp is still taken, so
                // the same broken file is not read on every connection).
                if (read || !haveStore) {
                    X509_STORE_free(store);
                    store = read;
                }
                storeStamp = stamp;
                haveStore = true;
                reading = false;
                waiting.swap(waitingForStore);
            }
            firstRead.notify_all();
            for (const auto& callback : waiting)
                callback();
        });
    }

    // With storeGuard held: a file changed since it was read is read again;
    // one that has gone keeps the store read before.
    void readAgainIfChanged()
    {
        if (reading || file.isEmpty())
            return;
        const std::optional<FileStamp> stamp = stampOf(file);
        if (stamp && stamp != storeStamp)
            startReading();
    }

    bool storeReady()
    {
        const std::lock_guard locked(storeGuard);
        return haveStore;
    }

    void whenStoreReady(std::function<void()> callback)
    {
        {
            const std::lock_guard locked(storeGuard);
            if (!haveStore) {
                waitingForStore.push_back(std::move(callback));
                return;
            }
        }
        callback();
    }

    // The store for a new connection, with a reference of its own.
    X509_STORE* storeForConnection()
    {
        std::unique_lock locked(storeGuard);
        firstRead.wait(locked, [this] { return haveStore; });
        readAgainIfChanged();
        if (store)
            X509_STORE_up_ref(store);
        return store;
    }

    // The command line's lanes drive their requests on threads of their own,
    // all sharing one store and its sessions: the locks keep the share sound.
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self)
    {
        static_cast<Authorities*>(self)->locks.at(data).lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self)
    {
        static_cast<Authorities*>(self)->locks.at(data).unlock();
    }

    // Each new TLS connection gets the store read on the worker, waiting for
    // it only when a connection starts before the first read is done.
    static CURLcode onSslContext(CURL*, void* sslContext, void* self)
    {
        X509_STORE* store = static_cast<Authorities*>(self)->storeForConnection();
        if (!store)
            return CURLE_SSL_CACERT_BADFILE;
        SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), store);
        X509_STORE_free(store);
        return CURLE_OK;
    }
};

// Those for these authorities; made (and the store's read started) when
// `make` is set, otherwise null until someone has.
Authorities* authoritiesFor(const QString& certificateAuthorityFile, bool make = true)
{
    static std::mutex guard;
    static std::map<QString, std::unique_ptr<Authorities>> byFile;
    const std::lock_guard locked(guard);
    if (!make) {
        const auto found = byFile.find(certificateAuthorityFile);
        return found == byFile.end() ? nullptr : found->second.get();
    }
    auto& entry = byFile[certificateAuthorityFile];
    if (!entry)
        entry = std::make_unique<Authorities>(certificateAuthorityFile);
    return entry.get();
}

// curl's TLS library is the OpenSSL this program is built with, so that the
// context curl hands over is one this program can fill.
bool curlUsesOurOpenSsl()
{
    static const bool same = [] {
        const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
        const QByteArray expected = "OpenSSL/" + QByteArray::number(OPENSSL_VERSION_MAJOR) + '.';
        return curl && curl->ssl_version && QByteArray(curl->ssl_version).startsWith(expected);
    }();
    return same;
}

void check(CURLcode result)
{
    if (result != CURLE_OK)
        throw Failure(QString::fromUtf8(curl_easy_strerror(result)));
}

}  // namespace

void TrustStore::apply(void* handle, const QString& certificateAuthorityFile)
{
    CURL* easy = easyOf(handle);
    Authorities& authorities = *authoritiesFor(certificateAuthorityFile);
    if (authorities.share)
        check(curl_easy_setopt(easy, CURLOPT_SHARE, authorities.share));
    // With another TLS library curl reads the authorities itself, for each
    // connection.
    if (!curlUsesOurOpenSsl() || curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Authorities::onSslContext) != CURLE_OK) {
        if (!certificateAuthorityFile.isEmpty())
            check(curl_easy_setopt(easy, CURLOPT_CAINFO, QFile::encodeName(certificateAuthorityFile).constData()));
        return;
    }
    check(curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &authorities));
    // curl reads nothing itself: the store comes whole from the callback.
    check(curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr));
    check(curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr));
    // The callback serves a proxy's TLS connection too, with the same store.
    check(curl_easy_setopt(easy, CURLOPT_PROXY_CAINFO, nullptr));
    check(curl_easy_setopt(easy, CURLOPT_PROXY_CAPATH, nullptr));
    // curl would otherwise keep the first connection's store on the multi
    // handle and put it over the callback's for every later connection there,
    // whatever authorities those requests trust. A libcurl before 7.87 keeps
    // no such store and does not know the option.
    if (const CURLcode result = curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L); result != CURLE_UNKNOWN_OPTION)
        check(result);
}

void TrustStore::readAhead(const QString& certificateAuthorityFile) { authoritiesFor(certificateAuthorityFile); }

bool TrustStore::ready(const QString& certificateAuthorityFile)
{
    Authorities* authorities = authoritiesFor(certificateAuthorityFile, false);
    return authorities && authorities->storeReady();
}

void TrustStore::whenReady(const QString& certificateAuthorityFile, std::function<void()> callback)
{
    authoritiesFor(certificateAuthorityFile)->whenStoreReady(std::move(callback));
}
