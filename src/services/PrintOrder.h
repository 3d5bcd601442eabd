#pragma once

#include "platform/HttpClient.h"
#include "platform/Settings.h"
#include "platform/Worker.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

struct Settings;

// Buying prints: the photos to print, each with its date text, are posted to the service's
// order page as a form; once the service accepts them, the order page is opened in the
// browser, where the user completes the order. Every failure ends the step without a word.

// Each byte: letters, digits, "_", "." and "-" stay; a blank becomes "+"; any other byte
// becomes "%" and two upper-case hexadecimal digits.
QByteArray UrlEncodeField(const QByteArray &bytes);

// "fromclient=yes&user=...&pass=...&pic1=...&date1=...": the photos numbered from 1 in the byte
// order of their paths (file-system bytes), each named by its file name. Texts are sent as
// UTF-8, file names as their file-system bytes.
QByteArray PrintOrderBody(const QString &email, const QString &password, const QMap<QString, QString> &photoDates);

struct PrintOrderAddresses
{
    QString order; // where the form is posted
    QString page;  // the page the browser opens once the order is accepted
};
// The order page of the service in QLMHttpServer at QLMHttpPort; below "/qlm" when the server
// is exactly `defaultHost`.
PrintOrderAddresses PrintOrderAddressesFor(const QString &server, int port,
                                           const QString &defaultHost = QString::fromLatin1(kDefaultServiceHost));

// Status 200 and a first line of exactly "0".
bool PrintOrderAccepted(const HttpReply &reply);

using UrlOpener = std::function<bool(const QUrl &)>;

class PrintOrder : public QObject
{
    Q_OBJECT
public:
    // `openUrl` shows the order page; empty: the desktop's browser.
    explicit PrintOrder(UrlOpener openUrl = {}, QObject *parent = nullptr);
    ~PrintOrder() override;

    // Posts the order on a worker with the account and service of `settings` as they are now,
    // and opens the order page when the service accepts it. A slow service holds up nothing.
    void PlacePrintOrder(const Settings &settings, const QMap<QString, QString> &photoDates);

    // How long the service may take, and the host whose pages live below "/qlm".
    HttpClient::Options httpOptions;
    QString defaultHost = QString::fromLatin1(kDefaultServiceHost);

signals:
    // The service answered (or could not be reached); `accepted`: the page was asked for.
    void finished(bool accepted);

private:
    UrlOpener openUrl_;
    WorkerPool pool_{WorkerPool::Options{"qlm-order", WorkPriority::Normal, 1}};
    Worker worker_{this, pool_}; // last: it ends first
};
