#pragma once

#include "LoopbackServer.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

// An OpenSSH server of the test's own on a free loopback port, letting this
// user in with a key made for it; command() is the ssh that reaches it.
class LoopbackSshServer {
public:
    bool start()
    {
        const auto run = [&](const QString& program, const QStringList& arguments) {
            QProcess process;
            process.start(program, arguments);
            return process.waitForFinished(30000) && process.exitCode() == 0;
        };
        QDir().mkpath(QStringLiteral("/run/sshd"));  // its privilege separation folder
        if (!run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", m_dir.filePath("host_key")})
            || !run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", m_dir.filePath("client_key")})
            || !QFile::copy(m_dir.filePath("client_key.pub"), m_dir.filePath("authorized_keys")))
            return false;
        m_port = LoopbackServer::freePort();
        const QString configuration =
            QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/host_key\nAuthorizedKeysFile %2/authorized_keys\n"
                           "PidFile %2/sshd.pid\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                           "KbdInteractiveAuthentication no\nPermitRootLogin prohibit-password\n")
                .arg(m_port)
                .arg(m_dir.path());
        writeBytes(m_dir.filePath("sshd_config"), configuration.toUtf8());
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.start(QStringLiteral("/usr/sbin/sshd"), {"-D", "-e", "-f", m_dir.filePath("sshd_config")});
        if (!m_server.waitForStarted())
            return false;
        for (int tries = 0; tries < 200 && m_server.state() == QProcess::Running; ++tries) {
            if (run("ssh", sshOptions() + QStringList{"127.0.0.1", "true"}))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    QByteArray log() { return m_server.readAll(); }
    QString command() const { return QStringLiteral("ssh ") + sshOptions().join(u' '); }
    ~LoopbackSshServer()
    {
        m_server.terminate();
        m_server.waitForFinished();
    }

private:
    QStringList sshOptions() const
    {
        return {"-p", QString::number(m_port),    "-i", m_dir.filePath("client_key"),   "-o", "BatchMode=yes",
                "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR"};
    }
    QTemporaryDir m_dir;
    QProcess m_server;
    quint16 m_port = 0;
};
