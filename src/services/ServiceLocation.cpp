#include "services/ServiceLocation.h"

ServiceLocation ServiceLocation::FromSettings(const QString &server, int port)
{
    ServiceLocation s;
    const qsizetype slash = server.indexOf(QLatin1Char('/'));
    if (slash > 0) {
        s.host = server.left(slash);
        s.prefix = server.mid(slash);
        // "host/" and "host/app/" would ask for "//..." and "/app//...", which no service knows.
        while (s.prefix.endsWith(QLatin1Char('/')))
            s.prefix.chop(1);
    } else {
        s.host = server;
    }
    s.port = port > 0 && port <= 65535 ? port : 80;
    return s;
}

bool ServiceLocation::valid() const
{
    if (host.isEmpty())
        return false;
    for (const QChar c : host)
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F || QStringView(u"/\\@?#%").contains(c))
            return false;
    for (const QChar c : prefix)
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F || QStringView(u"\\?#").contains(c))
            return false;
    return true;
}

QString ServiceLocation::url(const QString &path) const
{
    const bool secure = port == 443;
    QString u = secure ? QStringLiteral("https://") : QStringLiteral("http://");
    u += host;
    if (port != (secure ? 443 : 80))
        u += QLatin1Char(':') + QString::number(port);
    return u + prefix + path;
}

QByteArray FirstLine(const QByteArray &body)
{
    qsizetype end = 0;
    while (end < body.size() && body[end] != '\r' && body[end] != '\n')
        ++end;
    return body.left(end);
}
