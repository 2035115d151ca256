#include "ui/qt/single_instance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QtEndian>

namespace varnel::qt {

namespace {

constexpr qint64 kMaxFrame = 64 * 1024;
constexpr char kAck = 'A';

QByteArray Frame(const QByteArray& payload) {
    QByteArray frame(4, '\0');
    qToBigEndian(static_cast<quint32>(payload.size()), frame.data());
    return frame + payload;
}

}  // namespace

// One sending instance's connection: frames in, one at a time; the next is
// taken only after the last was acknowledged.
class SingleInstance::Connection : public QObject {
public:
    Connection(QLocalSocket* socket, SingleInstance& owner) : QObject(socket), m_socket(socket), m_owner(owner) {
        QObject::connect(socket, &QLocalSocket::readyRead, this, [this] { Take(); });
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }

    void Take() {
        if (m_waiting) return;
        m_buffer += m_socket->readAll();
        if (m_buffer.size() < 4) return;
        const quint32 length = qFromBigEndian<quint32>(m_buffer.constData());
        if (length == 0 || length > kMaxFrame) {
            m_socket->abort();
            return;
        }
        if (m_buffer.size() < 4 + static_cast<qint64>(length)) return;
        const QByteArray payload = m_buffer.mid(4, length);
        m_buffer.remove(0, 4 + length);
        m_waiting = true;
        QPointer<QLocalSocket> socket = m_socket;
        QPointer<Connection> self = this;
        auto done = [socket, self] {
            if (!socket || !self) return;
            socket->write(&kAck, 1);
            socket->flush();
            self->m_waiting = false;
            if (!self->m_buffer.isEmpty() || socket->bytesAvailable()) self->Take();
        };
        if (payload[0] == 'R') {
            if (m_owner.m_onRaise) m_owner.m_onRaise();
            done();
        } else if (payload[0] == 'F') {
            const QString path = QString::fromUtf8(payload.mid(1));
            if (m_owner.m_onFile)
                m_owner.m_onFile(path, done);
            else
                done();
        } else {
            m_socket->abort();
        }
    }

private:
    QLocalSocket* m_socket;
    SingleInstance& m_owner;
    QByteArray m_buffer;
    bool m_waiting = false;
};

SingleInstance::SingleInstance(QString directory) : m_directory(std::move(directory)) {}

SingleInstance::~SingleInstance() {
    if (m_server) m_server->close();
}

QString SingleInstance::RuntimeDirectory(QString* error) {
    const QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    struct stat status {};
    if (directory.isEmpty() || ::stat(directory.toLocal8Bit().constData(), &status) != 0) {
        if (error) *error = QStringLiteral("there is no runtime directory of this user (XDG_RUNTIME_DIR)");
        return {};
    }
    if (status.st_uid != ::getuid() || (status.st_mode & 077) != 0 || !S_ISDIR(status.st_mode)) {
        if (error)
            *error = QStringLiteral("the runtime directory %1 is not private to this user (owner and mode 0700)")
                         .arg(directory);
        return {};
    }
    return directory;
}

bool SingleInstance::PeerIsThisUser(qintptr descriptor) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
    return credentials.uid == ::getuid();
}

bool SingleInstance::HandOver(const QString& socketPath, const QStringList& paths, QString* error, bool* noServer,
                              int ackTimeoutMs) {
    if (noServer) *noServer = false;
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(2000)) {
        const auto reason = socket.error();
        if (noServer)
            *noServer = reason == QLocalSocket::ServerNotFoundError || reason == QLocalSocket::ConnectionRefusedError;
        if (error) *error = QStringLiteral("cannot reach the running instance: ") + socket.errorString();
        return false;
    }
    if (!PeerIsThisUser(socket.socketDescriptor())) {
        if (error) *error = QStringLiteral("the instance socket %1 belongs to another user").arg(socketPath);
        return false;
    }
    QList<QByteArray> frames{QByteArray("R")};
    for (const QString& path : paths) frames << QByteArray("F") + path.toUtf8();
    for (const QByteArray& payload : frames) {
        socket.write(Frame(payload));
        if (!socket.waitForBytesWritten(2000) && socket.bytesToWrite() > 0) {
            if (error) *error = QStringLiteral("the running instance does not take the files");
            return false;
        }
        QByteArray ack;
        while (ack.isEmpty()) {
            if (!socket.waitForReadyRead(ackTimeoutMs)) {
                if (error) *error = QStringLiteral("the running instance did not acknowledge ") +
                                    (payload[0] == 'R' ? QStringLiteral("the start") : QString::fromUtf8(payload.mid(1)));
                return false;
            }
            ack = socket.read(1);
        }
        if (ack[0] != kAck) {
            if (error) *error = QStringLiteral("the running instance answered nonsense");
            return false;
        }
    }
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::Listen(const QString& socketPath, QString* error) {
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath);
    if (!m_server->listen(socketPath)) {
        if (error) *error = QStringLiteral("cannot listen on %1: %2").arg(socketPath, m_server->errorString());
        m_server.reset();
        return false;
    }
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this] { Accept(); });
    return true;
}

void SingleInstance::Accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        if (!PeerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* connection = new Connection(socket, *this);
        if (socket->bytesAvailable()) connection->Take();
    }
}

SingleInstance::Role SingleInstance::Start(const QStringList& paths, QString* error) {
    // The lock makes "is anybody there, else I am" one step.
    QLockFile lock(m_directory + QStringLiteral("/varnel.lock"));
    if (!lock.tryLock(10000)) {
        if (error) *error = QStringLiteral("cannot take the lock file in %1").arg(m_directory);
        return Role::Failed;
    }
    bool noServer = false;
    QLocalSocket probe;
    probe.connectToServer(SocketPath());
    const bool answered = probe.waitForConnected(2000);
    if (!answered) {
        const auto reason = probe.error();
        noServer = reason == QLocalSocket::ServerNotFoundError || reason == QLocalSocket::ConnectionRefusedError;
    }
    probe.abort();
    if (answered) {
        lock.unlock();
        return HandOver(SocketPath(), paths, error, &noServer) ? Role::HandedOver : Role::Failed;
    }
    if (!noServer) {
        if (error) *error = QStringLiteral("cannot reach the running instance: ") + probe.errorString();
        return Role::Failed;
    }
    return Listen(SocketPath(), error) ? Role::First : Role::Failed;
}

void SingleInstance::SetHandlers(FileHandler onFile, std::function<void()> onRaise) {
    m_onFile = std::move(onFile);
    m_onRaise = std::move(onRaise);
}

}  // namespace varnel::qt
