// quillmere-albumd: the reference album service. Albums are folders under its data folder;
// see docs/album-service.md for what it speaks.
#include "AlbumService.h"
#include "AlbumStore.h"
#include "HttpServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace {

bool AddAccountLine(AlbumStore &store, const QString &line, QString *error)
{
    const qsizetype colon = line.indexOf(QLatin1Char(':'));
    if (colon <= 0) {
        *error = QStringLiteral("An account is EMAIL:PASSWORD, not \"") + line + QStringLiteral("\".");
        return false;
    }
    return store.addAccount(line.left(colon), line.mid(colon + 1), error);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillmere-albumd"));
    QCoreApplication::setApplicationVersion(QStringLiteral("3.25"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The reference Quillmere album service: accounts, albums and resumable photo uploads over HTTP,\n"
        "the print-order, version and update-package requests, and an HTML page of the albums at \"/\".\n"
        "Albums are folders under the data folder: DATA/<e-mail>/<album>/<photo>."));
    parser.addHelpOption();
    const QCommandLineOption data({"d", "data"}, "Data folder (created when missing). Default: ./albumd-data.", "folder",
                                  "albumd-data");
    const QCommandLineOption listen("listen", "Address to listen on. Default: 127.0.0.1.", "address", "127.0.0.1");
    const QCommandLineOption port({"p", "port"}, "Port to listen on; 0 picks a free one. Default: 8080.", "port", "8080");
    const QCommandLineOption portFile("port-file", "Write the port listened on to this file once listening.", "file");
    const QCommandLineOption account("account", "An account, EMAIL:PASSWORD (repeatable).", "account");
    const QCommandLineOption accounts("accounts", "A file of accounts, one EMAIL:PASSWORD per line.", "file");
    const QCommandLineOption album("album", "Create an album for an account, EMAIL:ALBUM (repeatable).", "album");
    const QCommandLineOption prefix("prefix", "Path prefix of every request, e.g. /qlm. Default: none.", "prefix");
    const QCommandLineOption version("service-version", "Version the version request answers. Default: 3.25.",
                                     "version", "3.25");
    const QCommandLineOption updatePackage("update-package",
                                           "Offer this file as the update package of the version that the version "
                                           "request answers. Default: none.",
                                           "file");
    const QCommandLineOption requestLog("request-log",
                                        "Test switch: append each request (method, target, headers and any body but "
                                        "photo bytes) to this file as a line of JSON.",
                                        "file");
    const QCommandLineOption refuseEvery("refuse-every", "Test switch: refuse every N-th upload.", "N");
    const QCommandLineOption refuseReason("refuse-reason", "Test switch: the reason given with a refused upload.",
                                          "text");
    const QCommandLineOption htmlErrors("html-errors", "Test switch: send error replies as HTML pages.");
    const QCommandLineOption timeout("timeout",
                                     "Seconds without a byte of a request before its connection is closed; idle "
                                     "connections are closed after a third of it. Default: 30.",
                                     "seconds", "30");
    const QCommandLineOption dropAt("drop-at", "Test switch: cut each upload's connection once, when the upload "
                                               "reaches byte N (at its end: after filing, before the answer).",
                                    "N");
    const QCommandLineOption delay("delay", "Test switch: wait this many milliseconds before each reply.", "ms");
    const QCommandLineOption failWrites("fail-writes-after",
                                        "Test switch: writing photo bytes fails, as on a full disk, after N bytes.", "N");
    parser.addOptions({data, listen, port, portFile, account, accounts, album, prefix, version, updatePackage, timeout,
                       requestLog, refuseEvery, refuseReason, htmlErrors, dropAt, delay, failWrites});
    parser.process(app);

    QTextStream err(stderr);
    auto number = [&](const QCommandLineOption &o, qint64 min, qint64 max, qint64 *out) {
        bool ok = false;
        *out = parser.value(o).toLongLong(&ok);
        if (!ok || *out < min || *out > max) {
            err << "quillmere-albumd: --" << o.names().last() << " must be a number from " << min << " to " << max << "\n";
            return false;
        }
        return true;
    };

    AlbumStore store(parser.value(data));
    QString error;
    QStringList accountLines = parser.values(account);
    if (parser.isSet(accounts)) {
        QFile f(parser.value(accounts));
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            err << "quillmere-albumd: cannot read " << f.fileName() << "\n";
            return 2;
        }
        for (const QString &line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')))
            if (!line.trimmed().isEmpty() && !line.startsWith(QLatin1Char('#')))
                accountLines << line.trimmed();
    }
    for (const QString &line : accountLines) {
        if (!AddAccountLine(store, line, &error)) {
            err << "quillmere-albumd: " << error << "\n";
            return 2;
        }
    }
    for (const QString &line : parser.values(album)) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0 || !store.createAlbum(line.left(colon), line.mid(colon + 1), &error)) {
            err << "quillmere-albumd: cannot create album \"" << line << "\": " << (colon <= 0 ? "use EMAIL:ALBUM" : error)
                << "\n";
            return 2;
        }
    }
    if (!store.hasAccounts())
        err << "quillmere-albumd: no accounts given (--account EMAIL:PASSWORD); every request will be refused\n";

    ServiceOptions options;
    options.prefix = parser.value(prefix);
    if (!options.prefix.isEmpty() && (!options.prefix.startsWith(QLatin1Char('/')) || options.prefix.endsWith(QLatin1Char('/')))) {
        err << "quillmere-albumd: --prefix must begin with \"/\" and not end with one\n";
        return 2;
    }
    options.version = parser.value(version);
    if (parser.isSet(updatePackage)) {
        options.updatePackage = QFileInfo(parser.value(updatePackage)).absoluteFilePath();
        const QFileInfo package(options.updatePackage);
        if (!package.isFile() || !package.isReadable()) {
            err << "quillmere-albumd: cannot read the update package " << options.updatePackage << "\n";
            return 2;
        }
        if (!IsOfferedPackageName(package.fileName())) {
            err << "quillmere-albumd: the update package's name may hold only letters, digits and . _ + ~ -, "
                   "and may not begin with \".\"\n";
            return 2;
        }
    }
    options.requestLog = parser.value(requestLog);
    qint64 n = 0;
    if (parser.isSet(refuseEvery)) {
        if (!number(refuseEvery, 1, 1000000, &n))
            return 2;
        options.faults.refuseEvery = int(n);
    }
    if (parser.isSet(refuseReason))
        options.faults.refuseReason = parser.value(refuseReason);
    options.faults.htmlErrors = parser.isSet(htmlErrors);
    if (parser.isSet(dropAt)) {
        if (!number(dropAt, 0, AlbumStore::kMaxPhotoBytes, &n))
            return 2;
        options.faults.dropAtByte = n;
    }
    if (parser.isSet(failWrites)) {
        if (!number(failWrites, 0, AlbumStore::kMaxPhotoBytes, &n))
            return 2;
        store.failWritesAfter(n);
    }
    AlbumHttpServer::Limits limits;
    if (!number(timeout, 1, 3600, &n))
        return 2;
    limits.readTimeoutSeconds = int(n);
    limits.keepAliveSeconds = std::max(1, int(n) / 3);
    if (parser.isSet(delay)) {
        if (!number(delay, 0, 600000, &n))
            return 2;
        options.faults.delayMs = int(n);
    }
    qint64 portNumber = 0;
    if (!number(port, 0, 65535, &portNumber))
        return 2;

    AlbumService service(store, options);
    AlbumHttpServer server(service, limits);
    if (!server.bind(parser.value(listen), int(portNumber), &error)) {
        err << "quillmere-albumd: cannot listen on " << parser.value(listen) << ":" << portNumber << ": " << error << "\n";
        return 1;
    }
    QTextStream(stdout) << "quillmere-albumd: listening on http://" << parser.value(listen) << ":" << server.port()
                        << options.prefix << "/\n"
                        << Qt::flush;
    if (parser.isSet(portFile)) {
        QSaveFile f(parser.value(portFile));
        if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray::number(server.port()) + "\n") < 0 || !f.commit()) {
            err << "quillmere-albumd: cannot write " << parser.value(portFile) << "\n";
            return 1;
        }
    }
    server.run();
    return 0;
}
