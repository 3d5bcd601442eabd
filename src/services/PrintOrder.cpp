#include "services/PrintOrder.h"

#include "platform/Settings.h"
#include "services/ServiceLocation.h"

#include <QDesktopServices>
#include <QFile>

#include <map>

QByteArray UrlEncodeField(const QByteArray &bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '_' || b == '.'
            || b == '-') {
            out += char(b);
        } else if (b == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

QByteArray PrintOrderBody(const QString &email, const QString &password, const QMap<QString, QString> &photoDates)
{
    // QString orders paths by UTF-16 units, which differs from the byte order for characters
    // beyond the Basic Multilingual Plane: the pictures are numbered by the bytes.
    std::map<QByteArray, QByteArray> photos;
    for (auto it = photoDates.cbegin(); it != photoDates.cend(); ++it)
        photos.emplace(QFile::encodeName(it.key()), it.value().toLatin1());

    QByteArray body = "fromclient=yes";
    body += "&user=" + UrlEncodeField(email.toUtf8());
    body += "&pass=" + UrlEncodeField(password.toUtf8());
    int n = 0;
    for (const auto &[path, date] : photos) {
        const QByteArray number = QByteArray::number(++n);
        body += "&pic" + number + '=' + UrlEncodeField(path.mid(path.lastIndexOf('/') + 1));
        body += "&date" + number + '=' + date;
    }
    return body;
}

PrintOrderAddresses PrintOrderAddressesFor(const QString &server, int port, const QString &defaultHost)
{
    ServiceLocation service = ServiceLocation::FromSettings(server, port);
    if (server == defaultHost)
        service.prefix = QStringLiteral("/qlm");
    if (!service.valid())
        return {};
    return {service.url(QStringLiteral("/orders_view.exe")), service.url(QStringLiteral("/orders_view.exe?show=yes"))};
}

bool PrintOrderAccepted(const HttpReply &reply)
{
    return reply.completed() && reply.status == 200 && FirstLine(reply.body) == "0";
}

PrintOrder::PrintOrder(UrlOpener openUrl, QObject *parent) : QObject(parent), openUrl_(std::move(openUrl))
{
    if (!openUrl_)
        openUrl_ = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    httpOptions.connectTimeoutSeconds = 15;
    httpOptions.timeoutSeconds = 60;
    httpOptions.stallSeconds = 30;
    httpOptions.maxReplyBytes = 64 * 1024;
}

PrintOrder::~PrintOrder() = default;

void PrintOrder::PlacePrintOrder(const Settings &settings, const QMap<QString, QString> &photoDates)
{
    const PrintOrderAddresses where = PrintOrderAddressesFor(settings.httpServer, settings.httpPort, defaultHost);
    if (where.order.isEmpty()) {
        emit finished(false);
        return;
    }
    worker_.start(
        [options = httpOptions, url = where.order,
         body = PrintOrderBody(settings.userName, settings.password, photoDates)](const WorkerTask &task) {
            const CancelToken::Blocking call = task.token().blocking();
            HttpClient http(options);
            return PrintOrderAccepted(http.post(url, body));
        },
        [this, page = where.page](quint64, bool accepted) {
            if (accepted)
                openUrl_(QUrl(page));
            emit finished(accepted);
        });
}
