#include "updater/UpdatePackage.h"

#include "support/AlbumServer.h"
#include "support/ScriptedServer.h"
#include "support/StandInProgram.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

// An announcement's JSON; an undefined value leaves its field out.
QByteArray Json(const QJsonValue &version, const QJsonValue &name, const QJsonValue &size, const QJsonValue &sha256)
{
    QJsonObject o;
    const std::pair<const char *, QJsonValue> fields[] = {
        {"version", version}, {"name", name}, {"size", size}, {"sha256", sha256}};
    for (const auto &[key, value] : fields)
        if (!value.isUndefined())
            o.insert(QLatin1String(key), value);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString Sha(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray Announcement(const QString &name, qint64 size, const QByteArray &bytesForSha)
{
    return Json("3.26", name, double(size), Sha(bytesForSha));
}

HttpClient::Options Quick()
{
    HttpClient::Options o;
    o.connectTimeoutSeconds = 5;
    o.timeoutSeconds = 10;
    o.stallSeconds = 10;
    return o;
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

    QByteArray path_;

private slots:
    void initTestCase() { path_ = qgetenv("PATH"); }
    void cleanup() { qputenv("PATH", path_); }

    void announcementsAreChecked_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        const QString sha = Sha("x");
        const QJsonValue none(QJsonValue::Undefined);
        QTest::newRow("whole") << Announcement("quillmere_3.26_amd64.deb", 12, "x") << true;
        QTest::newRow("upper-case digest") << Json("3.26", "q.deb", 12, sha.toUpper()) << true;
        QTest::newRow("no version") << Json(none, "q.deb", 1, sha) << false;
        QTest::newRow("name that climbs") << Announcement("../q.deb", 12, "x") << false;
        QTest::newRow("name with a blank") << Announcement("q 1.deb", 12, "x") << false;
        QTest::newRow("not a Debian package") << Announcement("setup.exe", 12, "x") << false;
        QTest::newRow("desktop entry") << Announcement("q.desktop", 12, "x") << false;
        QTest::newRow(".deb in other case") << Announcement("q.DEB", 12, "x") << false;
        QTest::newRow("negative size") << Announcement("q.deb", -1, "x") << false;
        QTest::newRow("size past the limit") << Announcement("q.deb", kMaxPackageBytes + 1, "x") << false;
        QTest::newRow("fractional size") << Json("3.26", "q.deb", 1.5, sha) << false;
        QTest::newRow("short digest") << Json("3.26", "q.deb", 1, "abcd") << false;
        QTest::newRow("digest not hexadecimal") << Json("3.26", "q.deb", 1, QString(64, 'g')) << false;
    }
    void announcementsAreChecked()
    {
        QFETCH(QByteArray, json);
        QString why;
        const std::optional<UpdateAnnouncement> a = ParseUpdateAnnouncement(json, &why);
        QTEST(a.has_value(), "valid");
        QCOMPARE(why.isEmpty(), a.has_value());
        if (a)
            QCOMPARE(a->sha256, QCryptographicHash::hash("x", QCryptographicHash::Sha256));
    }

    void packageIsFetchedIntoAPrivateFolder()
    {
        QTemporaryDir dir;
        const QByteArray package = QByteArray(200000, 'p') + "end";
        writeFile(dir.filePath("quillmere_3.26_all.deb"), package);
        AlbumServer service({"--prefix", "/app", "--update-package", dir.filePath("quillmere_3.26_all.deb")});
        QVERIFY(service.running());
        QVERIFY(QDir().mkpath(dir.filePath("tmp")));
        const FetchedPackage got = FetchUpdatePackage(
            QString("http://127.0.0.1:%1/app/support").arg(service.port()), dir.filePath("tmp"), Quick());
        QCOMPARE(got.outcome, FetchedPackage::Fetched);
        QCOMPARE(QFileInfo(got.file).fileName(), QString("quillmere_3.26_all.deb"));
        QCOMPARE(readFile(got.file), package);
        const QFileInfo folder(QFileInfo(got.file).path());
        QCOMPARE(folder.path(), dir.filePath("tmp"));
        QCOMPARE(folder.permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                    | QFileDevice::ReadUser | QFileDevice::WriteUser
                                                    | QFileDevice::ExeUser);
        QCOMPARE(QFileInfo(got.file).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                               | QFileDevice::ReadUser | QFileDevice::WriteUser);
    }

    void packageNotAsAnnouncedIsNeverWritten_data()
    {
        QTest::addColumn<QByteArray>("announced");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("served");
        QTest::addColumn<int>("outcome");
        const QByteArray bytes = "package bytes";
        QTest::newRow("as announced") << Announcement("q.deb", bytes.size(), bytes) << 200 << bytes
                                      << int(FetchedPackage::Fetched);
        QTest::newRow("longer") << Announcement("q.deb", bytes.size(), bytes) << 200 << bytes + "!"
                                << int(FetchedPackage::Failed);
        QTest::newRow("shorter") << Announcement("q.deb", bytes.size(), bytes) << 200 << bytes.left(5)
                                 << int(FetchedPackage::Failed);
        QTest::newRow("bad announcement") << QByteArray("{}") << 200 << bytes << int(FetchedPackage::Failed);
    }
    void packageNotAsAnnouncedIsNeverWritten()
    {
        QFETCH(QByteArray, announced);
        QFETCH(int, status);
        QFETCH(QByteArray, served);
        QFETCH(int, outcome);
        ScriptedServer service;
        service.script("/update", {200, announced, {}, {}});
        service.script("/update/q.deb", {status, served, {}, {}});
        QTemporaryDir tmp;
        const FetchedPackage got =
            FetchUpdatePackage(QString("http://127.0.0.1:%1/support").arg(service.port()), tmp.path(), Quick());
        QCOMPARE(int(got.outcome), outcome);
        QCOMPARE(QDir(tmp.path()).isEmpty(), outcome != FetchedPackage::Fetched);
        QCOMPARE(got.error.isEmpty(), outcome == FetchedPackage::Fetched);
    }

    void handOverFollowsTheOpener_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("gated");
        QTest::addColumn<bool>("handed");
        QTest::newRow("opened") << 0 << false << true;
        QTest::newRow("opener fails") << 4 << false << false;
        QTest::newRow("opener still busy: left running") << 0 << true << true;
        QTest::newRow("no opener") << -1 << false << false;
    }
    void handOverFollowsTheOpener()
    {
        QFETCH(int, exitCode);
        QFETCH(bool, gated);
        StandInProgram opener("xdg-open", exitCode, gated);
        if (exitCode < 0)
            QFile::remove(opener.program);
        qputenv("PATH", QFile::encodeName(opener.folder()));
        QString error;
        QTEST(HandToDesktop("/tmp/q 1.deb", gated ? 200 : 20000, &error), "handed");
        if (gated) {
            opener.release();
            QTRY_VERIFY_WITH_TIMEOUT(!opener.calls().isEmpty(), 20000);
        }
        QCOMPARE(opener.calls(), exitCode < 0 ? QList<QStringList>() : QList<QStringList>{{"/tmp/q 1.deb"}});
        QTEST(error.isEmpty(), "handed");
    }

    void programSaysHowItEnded_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("handed over") << QStringList{"SERVICE"} << true << int(UpdaterHandedOver);
        QTest::newRow("no package") << QStringList{"SERVICE"} << false << int(UpdaterNoPackage);
        QTest::newRow("nothing listening") << QStringList{"http://127.0.0.1:1/support"} << true << int(UpdaterFailed);
        QTest::newRow("no address") << QStringList() << true << int(UpdaterUsage);
    }
    void programSaysHowItEnded()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, offered);
        QTemporaryDir dir;
        writeFile(dir.filePath("q.deb"), "bytes");
        AlbumServer service(offered ? QStringList{"--update-package", dir.filePath("q.deb")} : QStringList());
        QVERIFY(service.running());
        arguments.replaceInStrings("SERVICE", QString("http://127.0.0.1:%1/support").arg(service.port()));
        StandInProgram opener("xdg-open", 0);
        QProcess updater;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", opener.folder());
        env.insert("TMPDIR", dir.filePath("tmp"));
        QVERIFY(QDir().mkpath(dir.filePath("tmp")));
        updater.setProcessEnvironment(env);
        updater.start(QUILLMERE_UPDATER_BINARY, arguments);
        QVERIFY(updater.waitForFinished(30000));
        QTEST(updater.exitCode(), "exitCode");
        QCOMPARE(opener.calls().size(), updater.exitCode() == UpdaterHandedOver ? 1 : 0);
    }
};

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
