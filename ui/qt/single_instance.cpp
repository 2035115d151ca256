#include "ui/qt/single_instance.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTimer>
#include <QtEndian>

namespace varnel::qt {

namespace {

constexpr qint64 kMaxFrame = 64 * 1024;
// A sender waits for each answer before its next frame, so a connection
// never has more than one frame unread, nor more than a few answers unsent.
// One that has more is not a hand-over: it is dropped.
constexpr qint64 kMaxUnread = 4 + kMaxFrame;
constexpr qint64 kMaxUnsent = 64 * 1024;
constexpr char kAck = 'A';
constexpr char kRefused = 'N';
constexpr char kWaits = 'W';

QByteArray Frame(const QByteArray& payload) {
    QByteArray frame(4, '\0');
    qToBigEndian(static_cast<quint32>(payload.size()), frame.data());
    return frame + payload;
}

// Why a handed-over name is not a file the program can take ("" when it
// is), and the path it names.
QString PathProblem(const QByteArray& name, QString& path) {
    if (name.isEmpty()) return QStringLiteral("the path is empty");
    if (name.contains('\0')) return QStringLiteral("the path holds a NUL byte");
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    path = utf8.decode(name);
    if (utf8.hasError()) return QStringLiteral("the path is not valid UTF-8");
    if (QFile::decodeName(QFile::encodeName(path)) != path)
        return QStringLiteral("the path cannot be written in this system's encoding of file names");
    if (!QDir::isAbsolutePath(path)) return QStringLiteral("the path is relative (the sender makes paths absolute)");
    return {};
}

}  // namespace

// One sending instance's connection: frames in, taken in order in a loop;
// the next is taken only after the last was answered. Nothing the other end
// sends ends the program: a connection that breaks the rules is dropped.
class SingleInstance::Connection : public QObject {
public:
    Connection(QLocalSocket* socket, SingleInstance& owner) : QObject(socket), m_socket(socket), m_owner(owner) {
        QObject::connect(socket, &QLocalSocket::readyRead, this, [this] { Take(); });
        // A connection that sends nothing while no answer is owed is dropped.
        m_idle.setSingleShot(true);
        m_idle.setInterval(owner.m_idleMs);
        QObject::connect(&m_idle, &QTimer::timeout, this, [this] {
            if (!m_waiting && !m_taking) m_socket->abort();
        });
        m_idle.start();
        QObject::connect(socket, &QLocalSocket::disconnected, this, [this] {
            // Never under a frame being taken: its handler may run a nested
            // event loop, and the socket must outlive it.
            if (m_taking) m_closed = true;
            else m_socket->deleteLater();
        });
    }

    void Take() {
        m_buffer += m_socket->readAll();
        // Re-entered from a handler (a nested event loop, or an answer given
        // at once): the loop below goes on with what was read.
        if (m_taking) return;
        m_taking = true;
        bool keep = true;
        // Frames are taken from `start` on and the buffer trimmed once, after
        // the loop: a long run of small frames costs one pass.
        qsizetype start = 0;
        while (keep && !m_waiting && m_buffer.size() - start >= 4) {
            const quint32 length = qFromBigEndian<quint32>(m_buffer.constData() + start);
            if (length == 0 || length > kMaxFrame) {
                keep = false;
                break;
            }
            if (m_buffer.size() - start < 4 + static_cast<qsizetype>(length)) break;
            const QByteArray payload = m_buffer.mid(start + 4, length);
            start += 4 + length;
            keep = Handle(payload);
        }
        m_buffer.remove(0, start);
        m_taking = false;
        if (m_waiting) m_idle.stop();
        else m_idle.start();
        if (!keep || m_buffer.size() > kMaxUnread || m_socket->bytesToWrite() > kMaxUnsent) m_socket->abort();
        if (m_closed || m_socket->state() == QLocalSocket::UnconnectedState) m_socket->deleteLater();
    }

    // Waits for no answer of the handlers: may be dropped to make room.
    bool Idle() const { return !m_waiting && !m_taking; }
    void Drop() { m_socket->abort(); }

private:
    // One frame; false when the connection is to be dropped.
    bool Handle(const QByteArray& payload) {
        const quint64 frame = ++m_frames;
        m_waiting = true;
        QPointer<Connection> self = this;
        auto done = [self, frame] {
            if (self) self->Answer(frame, QByteArray(1, kAck));
        };
        try {
            if (payload[0] == 'R') {
                if (m_owner.m_onRaise) m_owner.m_onRaise();
                done();
            } else if (payload[0] == 'F') {
                QString path;
                const QString problem = PathProblem(payload.mid(1), path);
                if (!problem.isEmpty()) Answer(frame, kRefused + Frame(problem.toUtf8()));
                else if (m_owner.m_onFile) {
                    if (m_owner.m_onFile(path, done) && m_waiting && frame == m_frames &&
                        m_socket->state() == QLocalSocket::ConnectedState) {
                        m_socket->write(QByteArray(1, kWaits));
                        m_socket->flush();
                    }
                } else done();
            } else {
                return false;
            }
        } catch (...) {
            // A handler that failed leaves the program as it was; the
            // sender is told by the dropped connection.
            return false;
        }
        return true;
    }

    // The answer to frame `frame` ('A', or 'N' and the reason as a frame);
    // then the frames after it.
    void Answer(quint64 frame, const QByteArray& answer) {
        if (!m_waiting || frame != m_frames) return;
        m_waiting = false;
        if (m_socket->state() != QLocalSocket::ConnectedState) return;
        m_socket->write(answer);
        m_socket->flush();
        Take();
    }

    QLocalSocket* m_socket;
    SingleInstance& m_owner;
    QTimer m_idle;
    QByteArray m_buffer;
    quint64 m_frames = 0;
    bool m_waiting = false;
    bool m_taking = false;
    bool m_closed = false;
};

const QString SingleInstance::kBusyNotice =
    QStringLiteral("the running Varnel is busy with an update: the files will be added to its list when the "
                   "update ends");

SingleInstance::SingleInstance(QString directory) : m_directory(std::move(directory)) {}

SingleInstance::~SingleInstance() { Close(); }

void SingleInstance::Close() {
    m_notifier.reset();
    m_connections.clear();
    m_root.reset();
    if (m_listener >= 0) ::close(m_listener);
    m_listener = -1;
    if (m_reserve >= 0) ::close(m_reserve);
    m_reserve = -1;
    // The file is removed only while it is still this instance's socket:
    // another instance may listen there now.
    struct stat status {};
    if (!m_socketFile.isEmpty() && ::lstat(m_socketFile.constData(), &status) == 0 && status.st_dev == m_socketDevice &&
        status.st_ino == m_socketInode)
        ::unlink(m_socketFile.constData());
    m_socketFile.clear();
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
                              int ackTimeoutMs, const Notice& notice) {
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
    const auto what = [](const QByteArray& payload) {
        return payload[0] == 'R' ? QStringLiteral("the start") : QString::fromUtf8(payload.mid(1));
    };
    // `n` bytes of the answer, waiting for them as for the answer itself;
    // once the running instance said it is busy, for as long as it is.
    bool busy = false;
    const auto read = [&](qint64 n, QByteArray& into) {
        while (into.size() < n) {
            if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(busy ? -1 : ackTimeoutMs)) return false;
            into += socket.read(n - into.size());
        }
        return true;
    };
    for (const QByteArray& payload : frames) {
        socket.write(Frame(payload));
        if (!socket.waitForBytesWritten(2000) && socket.bytesToWrite() > 0) {
            if (error) *error = QStringLiteral("the running instance does not take the files");
            return false;
        }
        QByteArray ack;
        bool read1 = read(1, ack);
        if (read1 && ack[0] == kWaits) {
            if (!busy && notice) notice(kBusyNotice);
            busy = true;
            ack.clear();
            read1 = read(1, ack);
        }
        if (!read1) {
            if (error) *error = QStringLiteral("the running instance did not acknowledge ") + what(payload);
            return false;
        }
        if (ack[0] == kRefused) {
            QByteArray length, reason;
            if (read(4, length) && qFromBigEndian<quint32>(length.constData()) <= kMaxFrame &&
                read(qFromBigEndian<quint32>(length.constData()), reason)) {
                if (error)
                    *error = QStringLiteral("the running instance refused %1: %2")
                                 .arg(what(payload), QString::fromUtf8(reason));
            } else if (error) {
                *error = QStringLiteral("the running instance refused ") + what(payload);
            }
            return false;
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
    Close();
    const QByteArray name = QFile::encodeName(socketPath);
    const auto fail = [&](const QString& why) {
        if (error) *error = QStringLiteral("cannot listen on %1: %2").arg(socketPath, why);
        return false;
    };
    const auto failed = [&](const char* what) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        if (m_listener >= 0) ::close(m_listener);
        m_listener = -1;
        return fail(QString::fromLatin1(what) + QStringLiteral(": ") + why);
    };
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || static_cast<size_t>(name.size()) >= sizeof address.sun_path)
        return fail(QStringLiteral("the path is too long for a socket"));
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    // A socket left by an instance that ended (Start found nobody listening
    // there) is replaced; a file of any other kind is not.
    struct stat status {};
    if (::lstat(name.constData(), &status) == 0 && S_ISSOCK(status.st_mode)) ::unlink(name.constData());
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener < 0) return failed("socket");
    if (::bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return failed("bind");
    if (::lstat(name.constData(), &status) != 0) return failed("stat");
    m_socketFile = name;
    m_socketDevice = status.st_dev;
    m_socketInode = status.st_ino;
    if (::chmod(name.constData(), 0600) != 0 || ::listen(m_listener, 64) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        Close();
        return fail(why);
    }
    m_reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    m_root = std::make_unique<QObject>();
    m_notifier = std::make_unique<QSocketNotifier>(m_listener, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_root.get(), [this] { Accept(); });
    return true;
}

int SingleInstance::Connections() {
    std::erase_if(m_connections, [](const QPointer<Connection>& c) { return c.isNull(); });
    return static_cast<int>(m_connections.size());
}

bool SingleInstance::MakeRoom() {
    if (Connections() < kMaxConnections) return true;
    const auto idle = std::find_if(m_connections.begin(), m_connections.end(),
                                   [](const QPointer<Connection>& c) { return c->Idle(); });
    if (idle == m_connections.end()) return false;
    const QPointer<Connection> dropped = *idle;
    m_connections.erase(idle);
    dropped->Drop();
    return true;
}

void SingleInstance::Accept() {
    // A few at a time: the program goes on between.
    for (int taken = 0; taken < 64 && m_listener >= 0; ++taken) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: the one kept in reserve makes room to
                // take the waiting connection and close it, so that it does
                // not wake the loop again and again. Without one, the socket
                // is looked at again a moment later. It keeps listening.
                if (m_reserve >= 0) {
                    ::close(m_reserve);
                    const int waiting = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                    if (waiting >= 0) ::close(waiting);
                    m_reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                    if (waiting >= 0 && m_reserve >= 0) continue;
                }
                m_notifier->setEnabled(false);
                QTimer::singleShot(200, m_root.get(), [this] {
                    if (m_reserve < 0) m_reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                    if (m_notifier) m_notifier->setEnabled(true);
                });
            }
            return;  // EAGAIN: nobody waits; anything else: tried again when woken
        }
        if (!PeerIsThisUser(fd) || !MakeRoom()) {
            ::close(fd);
            continue;
        }
        auto* socket = new QLocalSocket(m_root.get());
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            continue;
        }
        auto* connection = new Connection(socket, *this);
        m_connections.emplace_back(connection);
        if (socket->bytesAvailable()) connection->Take();
    }
}

SingleInstance::Role SingleInstance::Start(const QStringList& paths, QString* error, const Notice& notice) {
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
        return HandOver(SocketPath(), paths, error, &noServer, kAckTimeoutMs, notice) ? Role::HandedOver : Role::Failed;
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
