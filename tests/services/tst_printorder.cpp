#include "services/PrintOrder.h"

#include "platform/Settings.h"

#include "support/AlbumServer.h"
#include "support/RequestLog.h"
#include "support/ScriptedServer.h"

#include <QSignalSpy>
#include <QTest>

namespace {

using PhotoDates = QMap<QString, QString>;

// The order's outcome as the user sees it: the pages the browser was asked to open.
struct Browser
{
    QList<QUrl> opened;
    UrlOpener opener()
    {
        return [this](const QUrl &url) {
            opened << url;
            return true;
        };
    }
};

Settings ServiceSettings(const QString &server, int port, const QString &user, const QString &password)
{
    Settings s;
    s.httpServer = server;
    s.httpPort = port;
    s.userName = user;
    s.password = password;
    return s;
}

// Places the order and waits for its outcome; true when the service accepted it.
bool Place(PrintOrder &order, const Settings &settings, const PhotoDates &photos)
{
    QSignalSpy finished(&order, &PrintOrder::finished);
    order.PlacePrintOrder(settings, photos);
    if (finished.isEmpty() && !finished.wait(20000))
        return false;
    return finished.first().first().toBool();
}

const QString kDate1 = QStringLiteral("20060307090502040");
const QString kDate2 = QStringLiteral("20060307090502041");

} // namespace

class TestPrintOrder : public QObject
{
    Q_OBJECT
private slots:
    void fieldsAreEncodedByteByByte_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("kept as they are") << QByteArray("AZaz09_.-") << QByteArray("AZaz09_.-");
        QTest::newRow("blank and ampersand") << QByteArray("a b&c") << QByteArray("a+b%26c");
        QTest::newRow("byte 0xE4") << QByteArray("\xE4") << QByteArray("%E4");
        QTest::newRow("form characters") << QByteArray("+=%/~*") << QByteArray("%2B%3D%25%2F%7E%2A");
        QTest::newRow("NUL, line end, top byte") << QByteArray("\0\n\xFF", 3) << QByteArray("%00%0A%FF");
    }
    void fieldsAreEncodedByteByByte()
    {
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, encoded);
        QCOMPARE(UrlEncodeField(field), encoded);
    }

    void addressesFollowTheSettings_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("order");
        QTest::addColumn<QString>("page");
        QTest::newRow("built-in host: below /qlm")
            << "albums.quillmere.example" << 80 << "http://albums.quillmere.example/qlm/orders_view.exe"
            << "http://albums.quillmere.example/qlm/orders_view.exe?show=yes";
        QTest::newRow("built-in host in other case: another host")
            << "Albums.quillmere.example" << 80 << "http://Albums.quillmere.example/orders_view.exe"
            << "http://Albums.quillmere.example/orders_view.exe?show=yes";
        QTest::newRow("prefix") << "shop.example/app/" << 80 << "http://shop.example/app/orders_view.exe"
                                << "http://shop.example/app/orders_view.exe?show=yes";
        QTest::newRow("443 is HTTPS, for browser too")
            << "albums.quillmere.example" << 443 << "https://albums.quillmere.example/qlm/orders_view.exe"
            << "https://albums.quillmere.example/qlm/orders_view.exe?show=yes";
        QTest::newRow("other port, for the browser too") << "shop.example" << 8080
                                                         << "http://shop.example:8080/orders_view.exe"
                                                         << "http://shop.example:8080/orders_view.exe?show=yes";
        QTest::newRow("host that names a user") << "me@evil.example" << 80 << "" << "";
    }
    void addressesFollowTheSettings()
    {
        QFETCH(QString, server);
        QFETCH(int, port);
        const PrintOrderAddresses where = PrintOrderAddressesFor(server, port);
        QTEST(where.order, "order");
        QTEST(where.page, "page");
    }

    // The bytes the reference service received, and the page opened only for an accepted order.
    void serviceReceivesTheForm_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<PhotoDates>("photos");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("accepted");
        const QByteArray head = "fromclient=yes&user=bob%40example.com&pass=";
        QTest::newRow("blank and ampersand, two folders")
            << "a b&c" << PhotoDates{{"/p/b/a.jpg", kDate1}, {"/p/a/z.jpg", kDate2}}
            << head + "a+b%26c&pic1=z.jpg&date1=" + kDate2.toLatin1() + "&pic2=a.jpg&date2=" + kDate1.toLatin1() << true;
        QTest::newRow("byte 0xE4 in a name") << "a b&c" << PhotoDates{{QString::fromUtf8("/p/一.jpg"), kDate1}}
                                             << head + "a+b%26c&pic1=%E4%B8%80.jpg&date1=" + kDate1.toLatin1() << true;
        // U+E000 sorts after U+1F600 in UTF-16 units, before it in bytes.
        QTest::newRow("byte order beyond the BMP")
            << "a b&c" << PhotoDates{{QString::fromUtf8("/p/\U0001F600.jpg"), kDate1}, {QString::fromUtf8("/p/\uE000.jpg"), kDate2}}
            << head + "a+b%26c&pic1=%EE%80%80.jpg&date1=" + kDate2.toLatin1() + "&pic2=%F0%9F%98%80.jpg&date2="
                   + kDate1.toLatin1() << true;
        QTest::newRow("empty map") << "a b&c" << PhotoDates() << head + "a+b%26c" << true;
        QTest::newRow("empty password: refused") << "" << PhotoDates{{"/p/a.jpg", kDate1}}
                                                 << head + "&pic1=a.jpg&date1=" + kDate1.toLatin1() << false;
    }
    void serviceReceivesTheForm()
    {
        QFETCH(QString, password);
        QFETCH(PhotoDates, photos);
        QTemporaryDir dir;
        const QString log = dir.filePath("requests.log");
        AlbumServer service({"--account", "bob@example.com:a b&c", "--request-log", log});
        QVERIFY(service.running());
        Browser browser;
        PrintOrder order(browser.opener());
        const bool accepted = Place(order, ServiceSettings("127.0.0.1", service.port(), "bob@example.com", password), photos);
        QTEST(accepted, "accepted");

        const QList<LoggedRequest> posted = RequestsTo(log, "/orders_view.exe");
        QCOMPARE(posted.size(), 1);
        QCOMPARE(posted[0].method, QString("POST"));
        QTEST(posted[0].body, "body");
        // No header of the program's own: only what the HTTP client sends by itself.
        QCOMPARE(posted[0].headers.keys(), QStringList({"accept", "content-length", "host"}));
        QCOMPARE(posted[0].headers.value("accept").toString(), QString("*/*"));
        const QList<QUrl> page{QUrl(QString("http://127.0.0.1:%1/orders_view.exe?show=yes").arg(service.port()))};
        QCOMPARE(browser.opened, accepted ? page : QList<QUrl>());
    }

    void onlyStatus200AndAFirstLineOf0Accept_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("0") << 200 << QByteArray("0") << true;
        QTest::newRow("0 and a line end") << 200 << QByteArray("0\r\n") << true;
        QTest::newRow("01") << 200 << QByteArray("01\r\n") << false;
        QTest::newRow("500") << 500 << QByteArray("0\r\n") << false;
        QTest::newRow("redirect") << 302 << QByteArray("0") << false;
    }
    void onlyStatus200AndAFirstLineOf0Accept()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(bool, accepted);
        ScriptedServer service;
        service.script("/orders_view.exe", {status, reply, {{"Location", "/orders_view.exe?show=yes"}}, {}});
        Browser browser;
        PrintOrder order(browser.opener());
        QCOMPARE(Place(order, ServiceSettings("127.0.0.1", service.port(), "bob@example.com", "pw"), {}), accepted);
        QCOMPARE(service.requests("/orders_view.exe"), 1); // and the redirect was not followed
        QCOMPARE(browser.opened.size(), accepted ? 1 : 0);
    }

    void slowServiceHoldsNothingUp()
    {
        ScriptedServer slow;
        slow.script("/orders_view.exe", {200, "0", {}, std::chrono::milliseconds(3000)});
        Browser browser;
        PrintOrder order(browser.opener());
        order.httpOptions.timeoutSeconds = 1;
        QSignalSpy finished(&order, &PrintOrder::finished);
        order.PlacePrintOrder(ServiceSettings("127.0.0.1", slow.port(), "bob@example.com", "pw"), {});
        QVERIFY(finished.isEmpty()); // the request is on its way; the caller goes on
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().toBool(), false);
        QVERIFY(browser.opened.isEmpty());
    }
};

QTEST_MAIN(TestPrintOrder)
#include "tst_printorder.moc"
