#include "engine/transfer/TrustStore.h"
#include "engine/transfer/CurlHandles.h"

#include "engine/Failure.h"

#include <QFile>

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/opensslv.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

// A file or folder to read, and what named it, for the message when it
// cannot be.
struct Named {
    QByteArray path;
    QString namedBy;
    bool system = false;  // curl's own: a folder of it is searched if it is there, as OpenSSL does
};

struct ReadStore {
    X509_STORE* store = nullptr;  // null: it could not be read
    QString problem;              // why, when it could not
};

QString problemWith(const Named& source, const QString& what)
{
    const QString path = QFile::decodeName(source.path);
    return source.namedBy.isEmpty() ? path + QStringLiteral(", ") + what
                                    : source.namedBy + QStringLiteral(" names ") + path + QStringLiteral(", ") + what;
}

QString systemError(int error)
{
    return QStringLiteral("which cannot be read: ") + QString::fromLocal8Bit(std::strerror(error));
}

// What is wrong with a file to read whole, before OpenSSL reads it: its own
// words for a missing or unreadable one are an error queue, not a reason.
std::optional<QString> fileProblem(const Named& file)
{
    const int descriptor = ::open(file.path.constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return problemWith(file, systemError(errno));
    struct stat status {};
    const bool folder = ::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode);
    ::close(descriptor);
    if (folder)
        return problemWith(file, QStringLiteral("which is a folder, not a file"));
    return std::nullopt;
}

// A name OpenSSL looks a certificate (or a revocation list, "r") up by in a
// folder: its subject's hash, 8 hex digits, then ".0", ".1", ... ("c_rehash").
bool isHashedName(std::string_view name)
{
    if (name.size() < 10 || name[8] != '.')
        return false;
    if (!std::all_of(name.begin(), name.begin() + 8, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return false;
    std::string_view number = name.substr(9);
    if (number.front() == 'r')
        number.remove_prefix(1);
    return !number.empty()
        && std::all_of(number.begin(), number.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// A folder is looked up only when a chain needs it: what can be known of it
// now is that it is there, can be searched, and holds names to look up (a
// folder of certificates never hashed would be an empty store, silently).
std::optional<QString> folderProblem(const Named& folder)
{
    struct stat status {};
    if (::stat(folder.path.constData(), &status) != 0)
        return problemWith(folder, systemError(errno));
    if (!S_ISDIR(status.st_mode))
        return problemWith(folder, QStringLiteral("which is not a folder"));
    if (::access(folder.path.constData(), R_OK | X_OK) != 0)
        return problemWith(folder, systemError(errno));
    std::unique_ptr<DIR, decltype(&::closedir)> listing(::opendir(folder.path.constData()), &::closedir);
    if (!listing)
        return problemWith(folder, systemError(errno));
    while (const dirent* entry = ::readdir(listing.get())) {
        if (isHashedName(entry->d_name))
            return std::nullopt;
    }
    return problemWith(folder, QStringLiteral("which holds no certificates named by their subject hash (openssl rehash)"));
}

// The trust store curl would build for each connection: the files read whole
// (curl's own default bundle among them, for the system's), the folders
// looked up by subject hash, and the verification flags curl sets. Null, with
// the reason, when a file or folder cannot be read, which fails every TLS
// connection, as curl does.
ReadStore readTrustStore(const std::vector<Named>& files, const std::vector<Named>& folders, bool opensslDefaults)
{
    // The window's thread comes first when both want the processor (on Linux
    // the niceness is the calling thread's own).
    setpriority(PRIO_PROCESS, 0, 10);
    // OpenSSL fills its tables of algorithms on the first TLS context made in
    // the program, some milliseconds of work better done here than in the
    // first connection's handshake.
    SSL_CTX_free(SSL_CTX_new(TLS_client_method()));

    const auto failed = [](X509_STORE* store, QString problem) {
        X509_STORE_free(store);
        // The queue is this worker's; what failed is in the reason.
        ERR_clear_error();
        return ReadStore{nullptr, std::move(problem)};
    };
    X509_STORE* store = X509_STORE_new();
    if (!store)
        return {nullptr, QStringLiteral("out of memory for the trust store")};
    for (const Named& file : files) {
        if (const std::optional<QString> problem = fileProblem(file))
            return failed(store, *problem);
        if (X509_STORE_load_file(store, file.path.constData()) != 1)
            return failed(store, problemWith(file, QStringLiteral("which holds no certificate that can be read")));
    }
    for (const Named& folder : folders) {
        if (!folder.system)
            if (const std::optional<QString> problem = folderProblem(folder))
                return failed(store, *problem);
        // Nothing is read now.
        X509_STORE_load_path(store, folder.path.constData());
    }
    if (opensslDefaults)
        X509_STORE_set_default_paths(store);
    X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    ERR_clear_error();
    return {store, {}};
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

// Each file's stamp, in order; none for one that is not there.
using FileStamps = std::vector<std::optional<FileStamp>>;

// Everything shared by the requests that trust one set of authorities.
struct Authorities {
    std::vector<Named> files;
    std::vector<Named> folders;
    bool opensslDefaults = false;  // curl has no bundle or folder of its own
    CURLSH* share = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;

    std::mutex storeGuard;  // guards what follows
    std::condition_variable firstRead;
    bool haveStore = false;       // the first read is done
    X509_STORE* store = nullptr;  // null: it could not be read
    QString problem;              // why, while it could not
    FileStamps storeStamps;       // the files as they were when the store's read began
    bool reading = false;
    std::future<void> reader;
    std::vector<std::function<void()>> waitingForStore;

    explicit Authorities(const TrustSources& sources)
    {
        if (sources.systemDefault) {
            const auto [file, folder] = defaultAuthorities();
            if (!file.isEmpty())
                files.push_back({file, {}, true});
            if (!folder.isEmpty())
                folders.push_back({folder, {}, true});
            opensslDefaults = file.isEmpty() && folder.isEmpty();
        }
        for (const TrustSources::Source& file : sources.files)
            files.push_back({QFile::encodeName(file.path), file.namedBy});
        for (const TrustSources::Source& folder : sources.folders)
            folders.push_back({QFile::encodeName(folder.path), folder.namedBy});
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
        FileStamps stamps = stampsOfFiles();
        // A reader that has handed its store over has nothing left to do.
        if (reader.valid())
            reader.wait();
        reader = std::async(std::launch::async, [this, stamps = std::move(stamps)] {
            ReadStore read = readTrustStore(files, folders, opensslDefaults);
            std::vector<std::function<void()>> waiting;
            {
                const std::lock_guard locked(storeGuard);
                // A file caught half rewritten, or left broken, reads as no
                // store: the one in use stays (its stamp is still taken, so
                // the same broken file is not read on every connection).
                if (read.store || !haveStore) {
                    X509_STORE_free(store);
                    store = read.store;
                    problem = read.problem;
                }
                storeStamps = stamps;
                haveStore = true;
                reading = false;
                waiting.swap(waitingForStore);
            }
            firstRead.notify_all();
            for (const auto& callback : waiting)
                callback();
        });
    }

    FileStamps stampsOfFiles() const
    {
        FileStamps stamps;
        for (const Named& file : files)
            stamps.push_back(stampOf(file.path));
        return stamps;
    }

    // With storeGuard held: a file changed since it was read has the store
    // read again; one that has gone keeps the store read before.
    void readAgainIfChanged()
    {
        if (reading || files.empty())
            return;
        const FileStamps stamps = stampsOfFiles();
        for (size_t i = 0; i < stamps.size(); ++i) {
            if (stamps[i] && stamps[i] != storeStamps.at(i)) {
                startReading();
                return;
            }
        }
    }

    std::optional<QString> problemOnceRead()
    {
        std::unique_lock locked(storeGuard);
        firstRead.wait(locked, [this] { return haveStore; });
        if (store)
            return std::nullopt;
        return problem;
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
Authorities* authoritiesFor(const TrustSources& sources, bool make = true)
{
    // OpenSSL frees its tables at exit, from a handler its first use
    // registers. Made here, before the map below, that handler runs after the
    // map's destructor has waited for every reader; made by a reader, it would
    // run first and pull the tables from under a reader still at work.
    static const bool openSslStarted = OPENSSL_init_ssl(0, nullptr) == 1;
    Q_UNUSED(openSslStarted);
    static std::mutex guard;
    static std::map<QString, std::unique_ptr<Authorities>> bySources;
    const QString key = sources.key();
    const std::lock_guard locked(guard);
    if (!make) {
        const auto found = bySources.find(key);
        return found == bySources.end() ? nullptr : found->second.get();
    }
    auto& entry = bySources[key];
    if (!entry)
        entry = std::make_unique<Authorities>(sources);
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

void TrustStore::apply(void* handle, const TrustSources& sources)
{
    CURL* easy = easyOf(handle);
    Authorities& authorities = *authoritiesFor(sources);
    if (authorities.share)
        check(curl_easy_setopt(easy, CURLOPT_SHARE, authorities.share));
    // With another TLS library curl reads the authorities itself, for each
    // connection: one file and one folder, in place of the system's.
    if (!curlUsesOurOpenSsl() || curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Authorities::onSslContext) != CURLE_OK) {
        if (sources.onlySystem())
            return;
        if (sources.systemDefault || sources.files.size() > 1 || sources.folders.size() > 1)
            throw Failure(QStringLiteral("this libcurl's TLS library takes one certificate file and one folder, "
                                         "in place of the system's"));
        for (const TrustSources::Source& file : sources.files)
            check(curl_easy_setopt(easy, CURLOPT_CAINFO, QFile::encodeName(file.path).constData()));
        for (const TrustSources::Source& folder : sources.folders)
            check(curl_easy_setopt(easy, CURLOPT_CAPATH, QFile::encodeName(folder.path).constData()));
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

void TrustStore::readAhead(const TrustSources& sources) { authoritiesFor(sources); }

bool TrustStore::ready(const TrustSources& sources)
{
    Authorities* authorities = authoritiesFor(sources, false);
    return authorities && authorities->storeReady();
}

void TrustStore::whenReady(const TrustSources& sources, std::function<void()> callback)
{
    authoritiesFor(sources)->whenStoreReady(std::move(callback));
}

std::optional<QString> TrustStore::problem(const TrustSources& sources)
{
    return authoritiesFor(sources)->problemOnceRead();
}
