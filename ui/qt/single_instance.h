#pragma once
// One running instance per user. The first start listens on a local socket
// in the user's private runtime directory; a later start connects, brings
// the first to the front and hands over its files one by one, each
// acknowledged only once the first instance has added it. Both ends check
// that the process at the other end belongs to the same user.
//
// Frames on the socket: a 4-byte big-endian length, then the payload; the
// payload "R" raises the window, "F" followed by a UTF-8 absolute path adds
// a file. The first instance answers every frame with the byte 'A', or
// refuses a path it cannot take (empty, relative, not UTF-8, not a name in
// the system's encoding) with 'N' and the reason as a frame. A file that
// waits for the end of an update is first answered 'W', and 'A' follows
// once it is in the list. A connection
// that sends a frame of another kind or size, or more than one frame ahead
// of its answers, is dropped.
//
// The listening socket is never closed while the instance runs, nor its file
// removed, whatever its connections do: at most kMaxConnections are kept
// (a new one takes the place of the oldest that waits for nothing), one
// that sends nothing for kIdleMs while no answer is owed is dropped, and
// when the process runs out of descriptors the waiting connections are
// taken and closed one by one. At its end the instance removes the socket
// file only while it is still its own.

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QLockFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <sys/types.h>
#include <vector>

namespace varnel::qt {

class SingleInstance {
public:
    // done() acknowledges the file to the sending instance. True when the
    // file waits for an update to end (the sender is told so at once).
    using FileHandler = std::function<bool(const QString& path, std::function<void()> done)>;
    // What the sending instance says meanwhile (that the running one is busy).
    using Notice = std::function<void(const QString& text)>;

    enum class Role { First, HandedOver, Failed };

    explicit SingleInstance(QString directory);
    ~SingleInstance();

    // The user's runtime directory: owned by this user, mode 0700. Empty,
    // with the reason, when there is none that is private.
    static QString RuntimeDirectory(QString* error);

    // Hands `paths` (absolute) to a running instance, or becomes the first
    // instance when none answers (a stale socket is replaced).
    Role Start(const QStringList& paths, QString* error, const Notice& notice = {});

    void SetHandlers(FileHandler onFile, std::function<void()> onRaise);
    QString SocketPath() const { return m_directory + QStringLiteral("/varnel.socket"); }

    // Sends to the instance at `socketPath`. `noServer` is set when nobody
    // listens there. A file that waits for an update is waited for with no
    // time limit, after `notice` has said so.
    static bool HandOver(const QString& socketPath, const QStringList& paths, QString* error, bool* noServer,
                         int ackTimeoutMs = kAckTimeoutMs, const Notice& notice = {});
    static const QString kBusyNotice;
    // Listens at `socketPath` (for Start and for tests).
    bool Listen(const QString& socketPath, QString* error);
    // The other end of a connected local socket runs as this user.
    static bool PeerIsThisUser(qintptr descriptor);

    static constexpr int kAckTimeoutMs = 10 * 60 * 1000;
    static constexpr int kMaxConnections = 16;
    static constexpr int kIdleMs = 10 * 1000;
    // For tests: how long an idle connection is kept; the connections open.
    void SetIdleTimeout(int ms) { m_idleMs = ms; }
    int Connections();

private:
    class Connection;
    void Accept();
    // Room for one more connection: false when every one waits for an answer.
    bool MakeRoom();
    void Close();

    QString m_directory;
    QByteArray m_socketFile;  // the socket's file, while this instance listens there
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    int m_listener = -1;
    int m_reserve = -1;               // a descriptor kept to be freed when the others run out
    std::unique_ptr<QObject> m_root;  // the connections' sockets
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<QPointer<Connection>> m_connections;
    int m_idleMs = kIdleMs;
    FileHandler m_onFile;
    std::function<void()> m_onRaise;
};

}  // namespace varnel::qt
