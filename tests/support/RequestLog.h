#pragma once

// What the reference service wrote with `--request-log FILE`: one JSON object per request.

#include "support/TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

struct LoggedRequest
{
    QString method;
    QString target;
    QJsonObject headers; // names in lower case
    QByteArray body;
};

inline QList<LoggedRequest> ReadRequestLog(const QString &file)
{
    QList<LoggedRequest> requests;
    for (const QByteArray &line : readFile(file).split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.isEmpty())
            continue;
        requests.append({o.value("method").toString(), o.value("target").toString(), o.value("headers").toObject(),
                         QByteArray::fromBase64(o.value("body").toString().toLatin1())});
    }
    return requests;
}

// The requests whose target is `target`.
inline QList<LoggedRequest> RequestsTo(const QString &file, const QString &target)
{
    QList<LoggedRequest> found;
    for (const LoggedRequest &r : ReadRequestLog(file))
        if (r.target == target)
            found.append(r);
    return found;
}
