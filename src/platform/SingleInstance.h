#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running copy per user. The first copy listens on a local socket; a later copy that
// reaches it asks it to come forward and then ends. The socket and the lock that guards its
// creation lie in the user's runtime folder (XDG_RUNTIME_DIR), never in a temporary folder
// that other users or other sessions share.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // The per-user name of the program's socket.
    static QString defaultKey();
    // Where the socket of `key` lies: in the user's runtime folder.
    static QString socketPath(const QString &key);

    explicit SingleInstance(QString key = defaultKey(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this is the first copy: it now listens and will hear later copies.
    // False when another copy answered; that copy has been asked to come forward, and to
    // open `path` when one is given.
    bool claim(const QString &path = {});

signals:
    // A later copy was started: the window should come forward, and open `path` unless it
    // is empty.
    void activationRequested(const QString &path);

private:
    bool askRunningCopy(const QString &socketPath, const QString &path);
    void onNewConnection();

    QString key_;
    QLocalServer *server_ = nullptr;
};
