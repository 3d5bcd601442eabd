#include "AlbumService.h"
#include "AlbumStore.h"

#include <QTemporaryDir>
#include <QTest>

namespace {
HttpRequest Request(const QByteArray &method, const QByteArray &path, const QByteArray &body = {})
{
    HttpRequest r;
    r.method = method;
    const qsizetype q = path.indexOf('?');
    r.path = q < 0 ? path : path.left(q);
    r.query = q < 0 ? QByteArray() : path.mid(q + 1);
    r.body = body;
    return r;
}
} // namespace

class TestAlbumService : public QObject
{
    Q_OBJECT

private slots:
    void ordersVersionAndPages()
    {
        QTemporaryDir dir;
        AlbumStore store(dir.path());
        store.addAccount("ann@example.com", "p w&=");
        QVERIFY(store.createAlbum("ann@example.com", "<b>Trips"));
        ServiceOptions options;
        options.version = "3.26";
        AlbumService service(store, options);

        HttpReply r = service.handle(Request("POST", "/orders_view.exe",
                                             "fromclient=yes&user=ann%40example.com&pass=p+w%26%3D&pic1=IMG+1.JPG"
                                             "&date1=20261207114921000&pic2=b.jpg&date2=20261207114921001"));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.body.split('\n').first().trimmed(), QByteArray("0"));
        r = service.handle(Request("GET", "/orders_view.exe?show=yes"));
        QVERIFY(r.body.contains("IMG 1.JPG (20261207114921000)"));
        r = service.handle(Request("POST", "/orders_view.exe", "fromclient=yes&user=ann%40example.com&pass=no"));
        QVERIFY(r.body.split('\n').first().trimmed() != "0");

        QCOMPARE(service.handle(Request("POST", "/RIZIruvezo/Admin/getver.exe")).body, QByteArray("3.26\r\n"));
        QCOMPARE(service.handle(Request("GET", "/support")).status, 200);
        r = service.handle(Request("GET", "/"));
        QVERIFY(r.body.contains("&lt;b&gt;Trips"));
        QVERIFY(!r.body.contains("<b>Trips"));
        QCOMPARE(service.handle(Request("GET", "/api/v1/albums")).status, 401);
        QCOMPARE(service.handle(Request("GET", "/nothing")).status, 404);

        options.faults.htmlErrors = true;
        AlbumService html(store, options);
        r = html.handle(Request("GET", "/api/v1/account"));
        QVERIFY(html.errorBody(r).startsWith("<!DOCTYPE html>"));
    }
};

QTEST_GUILESS_MAIN(TestAlbumService)
#include "tst_albumservice.moc"
