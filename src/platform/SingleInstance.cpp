#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <unistd.h>

namespace {

// A request is one line: "activate", or "open " and a path. The path's file-system bytes are
// percent-encoded, so that a name holding a line break stays one line and any name survives.
const QByteArray ActivateRequest = "activate\n";
const QByteArray OpenRequest = "open ";
const QByteArray ActivateAnswer = "ok\n";
constexpr int ConnectTimeoutMs = 1000;
constexpr int AnswerTimeoutMs = 3000;

// Qt falls back to a private folder of its own making when XDG_RUNTIME_DIR is unset or not
// the user's; the temporary folder is the last resort.
QString runtimeFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

} // namespace

QString SingleInstance::socketPath(const QString &key)
{
    return runtimeFolder() + u'/' + key;
}

QString SingleInstance::defaultKey()
{
    return QStringLiteral("Quillmere-%1").arg(::getuid());
}

SingleInstance::SingleInstance(QString key, QObject *parent) : QObject(parent), key_(std::move(key)) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim(const QString &path)
{
    // Two copies started at the same moment must not both find nobody and both listen:
    // the look and the listen happen under one lock.
    const QString socket = socketPath(key_);
    QLockFile lock(socket + QStringLiteral(".lock"));
    lock.setStaleLockTime(10000);
    lock.tryLock(5000);

    if (askRunningCopy(socket, path))
        return false;

    // Nobody answered: a socket file left by a copy that crashed is stale.
    QLocalServer::removeServer(socket);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    // Failing to listen leaves this copy running alone rather than refusing to start.
    server_->listen(socket);
    return true;
}

bool SingleInstance::askRunningCopy(const QString &socketPath, const QString &path)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return false;
    socket.write(path.isEmpty() ? ActivateRequest
                                : OpenRequest + QFile::encodeName(path).toPercentEncoding() + '\n');
    socket.waitForBytesWritten(AnswerTimeoutMs);
    // Waiting for the answer keeps this copy alive until the first one has acted, so that a
    // script starting the program twice sees the window come forward before the second ends.
    while (!socket.canReadLine() && socket.waitForReadyRead(AnswerTimeoutMs)) {
    }
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *client = server_->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (!client->canReadLine())
                return;
            const QByteArray line = client->readLine();
            QString path;
            if (line.startsWith(OpenRequest) && line.endsWith('\n'))
                path = QFile::decodeName(QByteArray::fromPercentEncoding(line.sliced(OpenRequest.size()).chopped(1)));
            if (line == ActivateRequest || !path.isEmpty()) {
                emit activationRequested(path);
                client->write(ActivateAnswer);
                client->flush();
            }
            client->disconnectFromServer();
        });
    }
}
