#include "services/LiveUpdate.h"

#include "platform/Settings.h"
#include "platform/SettingsStore.h"

#include "support/AlbumServer.h"
#include "support/RecordingPrompts.h"
#include "support/RequestLog.h"
#include "support/ScriptedServer.h"
#include "support/StandInProgram.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <limits>

namespace {

const QString kCaption = QStringLiteral("Quillmere Live Update");
const QString kQuestion = QStringLiteral("There is new version on the server.\nDo you want to install it?");
const QString kCannotVerify =
    QStringLiteral("Cannot verify software version information on the server.\nRequired program was not found.");
const QString kNotRegistered =
    QStringLiteral("Cannot perform the live software update.\nA required object is not registered.");
const QString kNoFiles = QStringLiteral("Cannot find update files on Quillmere server!");
const QString kCannotUpdate = QStringLiteral("Cannot perform the live software update.");

// One check against a store and a user of its own.
struct Check
{
    QTemporaryDir dir;
    SettingsStore store{dir.filePath("Quillmere.conf")};
    Settings settings;
    RecordingPrompts user;
    bool noNewVersion = false;
    QString updater = QStringLiteral(QUILLMERE_UPDATER_BINARY);
    int versionRequestSeconds = 15;

    Check(const QString &server, int port, const QString &installed = {})
    {
        settings.httpServer = server;
        settings.httpPort = port;
        if (!installed.isNull())
            store.WriteString(SettingsStore::SettingsSection, "CurrentVersion", installed);
    }

    LiveUpdateContext context()
    {
        LiveUpdateContext c;
        c.settings = &settings;
        c.store = &store;
        c.prompts = &user.prompts;
        c.noNewVersion = &noNewVersion;
        c.updaterProgram = updater;
        c.connectionTestSeconds = 1;
        c.versionRequestSeconds = versionRequestSeconds;
        return c;
    }

    // Runs a whole check; the outcome once it has ended.
    std::optional<UpdateOutcome> run()
    {
        LiveUpdate update(context());
        std::optional<UpdateOutcome> outcome;
        QObject::connect(&update, &LiveUpdate::finished, [&](UpdateOutcome o) { outcome = o; });
        update.Start();
        if (!outcome && !update.running())
            return std::nullopt;
        return QTest::qWaitFor([&] { return outcome.has_value(); }, 30000) ? outcome : std::nullopt;
    }

    QStringList texts() const
    {
        QStringList t;
        for (const Prompt &p : user.shown)
            t << p.text;
        return t;
    }
};

int FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

class TestLiveUpdate : public QObject
{
    Q_OBJECT

    QByteArray path_, tmp_;

private slots:
    void initTestCase()
    {
        path_ = qgetenv("PATH");
        tmp_ = qgetenv("TMPDIR");
    }
    void cleanup()
    {
        qputenv("PATH", path_);
        qputenv("TMPDIR", tmp_);
    }

    void versionNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("3.25") << "3.25" << 325;
        QTest::newRow("3.250 equals 3.25") << "3.250" << 325;
        QTest::newRow("0.29, just below in binary") << "0.29" << 29;
        QTest::newRow("no number") << "abc" << 0;
        QTest::newRow("blanks, sign, trailing text") << " \t+3.25beta" << 325;
        QTest::newRow("comma is no point") << "3,25" << 300;
        QTest::newRow("fraction only") << ".5" << 50;
        QTest::newRow("exponent") << "1e2" << 10000;
        QTest::newRow("negative") << "-1" << -99;
        QTest::newRow("hexadecimal is not read") << "0x10" << 0;
        QTest::newRow("beyond 32 bits") << "9e99" << std::numeric_limits<int>::max();
        QTest::newRow("far below zero") << "-1e999" << std::numeric_limits<int>::min();
        const QString digits(400, u'9');
        const QString zeros(400, u'0');
        QTest::newRow("400 digits") << digits << std::numeric_limits<int>::max();
        QTest::newRow("400 digits, negative") << "-" + digits << std::numeric_limits<int>::min();
        QTest::newRow("400 digits, negative exponent short of them") << digits + "e-50" << std::numeric_limits<int>::max();
        QTest::newRow("400 zeros after the point, positive exponent short of them") << "0." + zeros + "1e50" << 0;
        QTest::newRow("exponent beyond 64 bits") << "1e99999999999999999999" << std::numeric_limits<int>::max();
    }
    void versionNumbers()
    {
        QFETCH(QString, text);
        QTEST(VersionNumber(text), "number");
    }

    void serviceIsFoundFromTheSettings_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("checkAddress");
        QTest::newRow("host/app") << "host/app" << 80 << "host" << "/app" << "http://host/app/support";
        QTest::newRow("host/") << "host/" << 80 << "host" << "" << "http://host/support";
        QTest::newRow("host/app/") << "host/app/" << 80 << "host" << "/app" << "http://host/app/support";
        QTest::newRow("443 is HTTPS") << "host/app" << 443 << "host" << "/app" << "https://host/app/support";
        QTest::newRow("other port") << "host" << 8080 << "host" << "" << "http://host:8080/support";
        QTest::newRow("no host") << "" << 80 << "" << "" << "";
        QTest::newRow("slash first") << "/app" << 80 << "/app" << "" << "";
    }
    void serviceIsFoundFromTheSettings()
    {
        QFETCH(QString, server);
        QFETCH(int, port);
        const ServiceLocation service = ServiceLocation::FromSettings(server, port);
        QTEST(service.host, "host");
        QTEST(service.prefix, "prefix");
        QTEST(CheckAddress(service), "checkAddress");
    }

    // The user answers No to the question, so no updater is asked.
    void versionsAgainstTheService_data()
    {
        QTest::addColumn<QString>("installed"); // null: no CurrentVersion stored
        QTest::addColumn<QString>("served");
        QTest::addColumn<UpdateOutcome>("outcome");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("3.25 against 3.26: newer") << "3.25" << "3.26" << UpdateOutcome::Declined << QStringList{kQuestion};
        QTest::newRow("3.25 against 3.250: equal") << "3.25" << "3.250" << UpdateOutcome::NotNewer << QStringList();
        QTest::newRow("3.261: five characters, the line end not counted")
            << "3.25" << "3.261" << UpdateOutcome::Declined << QStringList{kQuestion};
        QTest::newRow("3.2567: not a reply") << "3.25" << "3.2567" << UpdateOutcome::Failed << QStringList{kCannotVerify};
        QTest::newRow("empty reply") << "3.25" << "" << UpdateOutcome::Failed << QStringList{kCannotVerify};
        QTest::newRow("no CurrentVersion: any version is newer")
            << QString() << "0.01" << UpdateOutcome::Declined << QStringList{kQuestion};
        QTest::newRow("negative version is not newer") << "3.25" << "-1" << UpdateOutcome::NotNewer << QStringList();
    }
    void versionsAgainstTheService()
    {
        QFETCH(QString, installed);
        QFETCH(QString, served);
        QFETCH(UpdateOutcome, outcome);
        AlbumServer service({"--service-version", served});
        QVERIFY(service.running());
        Check check("127.0.0.1", service.port(), installed);
        check.user.answers << PromptAnswer::No;
        QCOMPARE(check.run(), outcome);
        QTEST(check.texts(), "told");
        QCOMPARE(check.noNewVersion, outcome == UpdateOutcome::NotNewer);
        for (const Prompt &p : check.user.shown) {
            QCOMPARE(p.caption, kCaption);
            QCOMPARE(p.icon, p.text == kQuestion ? PromptIcon::Question : PromptIcon::Error);
            QCOMPARE(p.buttons, p.text == kQuestion ? PromptButtons::YesNo : PromptButtons::Ok);
            QVERIFY(!p.owner);
        }
    }

    void prefixesReachTheObjectPath_data()
    {
        QTest::addColumn<QString>("servicePrefix");
        QTest::addColumn<QString>("setting"); // after the host
        QTest::addColumn<QString>("prefix");
        QTest::newRow("host/app") << "/app" << "/app" << "/app";
        QTest::newRow("host/") << "" << "/" << "";
        QTest::newRow("host") << "" << "" << "";
    }
    void prefixesReachTheObjectPath()
    {
        QFETCH(QString, servicePrefix);
        QFETCH(QString, setting);
        QFETCH(QString, prefix);
        QTemporaryDir dir;
        const QString log = dir.filePath("requests.log");
        QStringList args{"--request-log", log};
        if (!servicePrefix.isEmpty())
            args << "--prefix" << servicePrefix;
        AlbumServer service(args);
        QVERIFY(service.running());
        Check check("127.0.0.1" + setting, service.port(), "3.25");
        QCOMPARE(check.run(), UpdateOutcome::NotNewer);

        QCOMPARE(RequestsTo(log, prefix + "/support").size(), 1);
        const QList<LoggedRequest> asked = RequestsTo(log, prefix + "/RIZIruvezo/Admin/getver.exe");
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].method, QString("POST"));
        QVERIFY(asked[0].body.isEmpty());
        QCOMPARE(asked[0].headers.value("user-agent").toString(), QString("Microsoft Internet Browser"));
        QCOMPARE(asked[0].headers.value("accept").toString(),
                 QString("text/xml,application/xml,application/xhtml+xml,text/html;q=0.9,text/plain;q=0.8,video/x-mng,"
                         "image/png,image/jpeg,image/gif;q=0.2,*/*;q=0.1"));
    }

    void oddServices_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<UpdateOutcome>("outcome");
        QTest::addColumn<QString>("told"); // the one message; ending in a line end: its start
        QTest::newRow("HTML page") << 200 << QByteArray("<!DOCTYPE html>\n<html><body>3.26</body></html>") << 0
                                   << UpdateOutcome::Failed << kCannotVerify;
        QTest::newRow("redirect") << 302 << QByteArray("3.26") << 0 << UpdateOutcome::Failed << kCannotVerify;
        QTest::newRow("version never comes") << 200 << QByteArray("3.26") << 3000 << UpdateOutcome::Failed
                                             << "Quillmere Live Update Error:\n";
    }
    void oddServices()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, waitMs);
        QFETCH(QString, told);
        QFETCH(UpdateOutcome, outcome);
        ScriptedServer service;
        service.script("/support", {404, "", {}, {}}); // any answer shows the service is there
        service.script("/RIZIruvezo/Admin/getver.exe",
                       {status, body, {{"Location", "/elsewhere"}}, std::chrono::milliseconds(waitMs)});
        Check check("127.0.0.1", service.port(), "3.25");
        check.versionRequestSeconds = 1;
        check.user.answers << PromptAnswer::No;
        QCOMPARE(check.run(), outcome);
        QCOMPARE(check.user.shown.size(), 1);
        const QString text = check.user.shown[0].text;
        if (told.endsWith('\n')) // the transport's own description follows
            QVERIFY2(text.startsWith(told) && text.size() > told.size(), qPrintable(text));
        else
            QCOMPARE(text, told);
        QCOMPARE(service.requests("/elsewhere"), 0);
    }

    // A support page whose status came but whose body is slow (a large page on a slow line)
    // shows as much as a whole one: the service is there.
    void serviceWhosePageIsSlowIsReached()
    {
        QTcpServer service;
        QVERIFY(service.listen(QHostAddress::LocalHost));
        connect(&service, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = service.nextPendingConnection(); // the server's child
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                const QByteArray head = socket->readAll();
                if (head.startsWith("GET /support "))
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n<html>");
                else
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\n3.25\r\n");
            });
        });
        Check check("127.0.0.1", service.serverPort(), "3.25");
        QCOMPARE(check.run(), UpdateOutcome::NotNewer);
        QVERIFY(check.user.shown.isEmpty());
        QVERIFY(check.noNewVersion);
    }

    void noConnectionSaysNothing()
    {
        ScriptedServer silent;
        silent.script("/support", {200, "Support", {}, std::chrono::milliseconds(3000)});
        const QList<std::pair<QString, int>> services{{"127.0.0.1", FreePort()}, {"", 80}, {"127.0.0.1", silent.port()}};
        for (const auto &[server, port] : services) {
            Check check(server, port, "3.25");
            QCOMPARE(check.run(), UpdateOutcome::NoConnection);
            QVERIFY(check.user.shown.isEmpty());
            QVERIFY(!check.noNewVersion);
        }
        QCOMPARE(silent.requests("/RIZIruvezo/Admin/getver.exe"), 0);
    }

    // The user answers Yes; the updater does the rest.
    void updaterHandsOverOnlyAVerifiedPackage_data()
    {
        QTest::addColumn<QString>("updater"); // "real", "missing" or "not executable"
        QTest::addColumn<bool>("offered");
        QTest::addColumn<UpdateOutcome>("outcome");
        QTest::addColumn<QString>("told");
        QTest::newRow("handed over") << "real" << true << UpdateOutcome::InstallStarted << "";
        QTest::newRow("updater missing") << "missing" << true << UpdateOutcome::Failed << kNotRegistered;
        QTest::newRow("updater not executable") << "not executable" << true << UpdateOutcome::Failed
                                                << kNotRegistered;
        QTest::newRow("no package offered") << "real" << false << UpdateOutcome::Failed << kNoFiles;
    }
    void updaterHandsOverOnlyAVerifiedPackage()
    {
        QFETCH(QString, updater);
        QFETCH(bool, offered);
        QFETCH(QString, told);
        QFETCH(UpdateOutcome, outcome);
        QTemporaryDir dir;
        const QByteArray package = "!<arch>\npackage bytes";
        writeFile(dir.filePath("quillmere_3.26_all.deb"), package);
        QStringList args{"--service-version", "3.26"};
        if (offered)
            args << "--update-package" << dir.filePath("quillmere_3.26_all.deb");
        AlbumServer service(args);
        QVERIFY(service.running());
        StandInProgram opener("xdg-open", 0);
        qputenv("PATH", QFile::encodeName(opener.folder()) + ':' + path_);
        qputenv("TMPDIR", QFile::encodeName(dir.filePath("tmp")));
        QVERIFY(QDir().mkpath(dir.filePath("tmp")));

        Check check("127.0.0.1", service.port(), "3.25");
        if (updater == "missing")
            check.updater = dir.filePath("no-updater");
        if (updater == "not executable") {
            check.updater = dir.filePath("updater");
            writeFile(check.updater, "#!/bin/sh\nexit 0\n");
        }
        check.user.answers << PromptAnswer::Yes;
        QCOMPARE(check.run(), outcome);
        QCOMPARE(check.texts(), told.isEmpty() ? QStringList({kQuestion}) : QStringList({kQuestion, told}));

        const QList<QStringList> opened = opener.calls();
        if (updater == "real" && offered) {
            QCOMPARE(opened.size(), 1);
            QCOMPARE(opened[0].size(), 1);
            QVERIFY(opened[0][0].startsWith(dir.filePath("tmp") + "/"));
            QCOMPARE(readFile(opened[0][0]), package);
        } else {
            QVERIFY(opened.isEmpty());
        }
    }

    void wrongChecksumLeavesNothing()
    {
        const QByteArray package = "package bytes";
        ScriptedServer service;
        service.script("/support", {200, "Support", {}, {}});
        service.script("/RIZIruvezo/Admin/getver.exe", {200, "3.26\r\n", {}, {}});
        QJsonObject announced{{"version", "3.26"}, {"name", "q.deb"}, {"size", package.size()},
                              {"sha256", QString::fromLatin1(QCryptographicHash::hash("other bytes",
                                                                                     QCryptographicHash::Sha256).toHex())}};
        service.script("/update", {200, QJsonDocument(announced).toJson(), {}, {}});
        service.script("/update/q.deb", {200, package, {}, {}});
        QTemporaryDir tmp;
        StandInProgram opener("xdg-open", 0);
        Check check("127.0.0.1", service.port(), "3.25");
        check.user.answers << PromptAnswer::Yes;
        qputenv("PATH", QFile::encodeName(opener.folder()) + ':' + path_);
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        QCOMPARE(check.run(), UpdateOutcome::Failed);
        QCOMPARE(check.texts(), (QStringList{kQuestion, kCannotUpdate}));
        QCOMPARE(service.requests("/update/q.deb"), 1);
        QVERIFY(opener.calls().isEmpty());
        QVERIFY(QDir(tmp.path()).isEmpty());
    }
};

QTEST_MAIN(TestLiveUpdate)
#include "tst_liveupdate.moc"
