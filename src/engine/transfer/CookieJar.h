#pragma once

#include <QString>

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

// Cookies shared by every request of a run, whichever thread drives it, in a
// file read at the start and written back at the end, in the Netscape
// format curl reads and writes (as its --cookie and --cookie-jar do). Its
// share also holds the TLS sessions and name lookups, as the trust store's
// share, which a request can then not take, would.
class CookieJar {
public:
    // The jar of this file: its cookies read, or none when there is no such
    // file yet. A file that cannot be read, or a place where it could not be
    // written, is the problem, said before anything is asked.
    static std::variant<std::unique_ptr<CookieJar>, QString> open(const QString& path);
    ~CookieJar();
    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;

    // The CURLSH each request takes (CurlRequest::Options::cookieShare).
    void* share() const { return m_share; }
    // Writes the cookies back to the file; the problem, if it could not be.
    // Only once no request uses the jar any more.
    std::optional<QString> save();

private:
    explicit CookieJar(QString path);
    static void lock(void* easy, int data, int access, void* self);
    static void unlock(void* easy, int data, void* self);

    QString m_path;
    void* m_share = nullptr;
    // One for each kind of data curl may share (curl_lock_data).
    std::array<std::mutex, 16> m_locks;
};
