#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Where the certificate authorities a request trusts are read from: the
// system's bundle and folder (curl's built-in ones), files of PEM
// certificates read whole, and hashed folders (c_rehash, openssl rehash)
// looked up by subject name when a chain needs them. Nothing here is read:
// TrustStore reads them, and says what is wrong with one that cannot be.
struct TrustSources {
    struct Source {
        QString path;
        QString namedBy;  // what named it, for a message: "SSL_CERT_FILE", "--cacert"; empty: the caller
        friend bool operator==(const Source&, const Source&) = default;
    };
    bool systemDefault = true;
    QList<Source> files;
    QList<Source> folders;

    TrustSources() = default;
    // One bundle in place of the system's; an empty name is the system's
    // store. Lets the callers that name one file at most go on writing a name.
    TrustSources(const QString& bundle);  // NOLINT(google-explicit-constructor)

    // The system's store and nothing more: nothing the user named to go wrong.
    bool onlySystem() const { return systemDefault && files.isEmpty() && folders.isEmpty(); }
    // Equal for equal sources: what stores and TLS sessions are shared by.
    QString key() const;
    friend bool operator==(const TrustSources&, const TrustSources&) = default;
};

// The rule both programs follow. SSL_CERT_FILE names a bundle and
// SSL_CERT_DIR a colon-separated list of hashed folders, as OpenSSL reads
// them; either one set puts what the two name in place of the system's store
// (an empty variable is an unset one, as a CI file writes "SSL_CERT_FILE="
// to clear it). The added files (tessaly-check's --cacert) go into the store
// in force, whichever it is.
TrustSources trustSourcesFrom(const QProcessEnvironment& environment, const QStringList& addedFiles = {});
