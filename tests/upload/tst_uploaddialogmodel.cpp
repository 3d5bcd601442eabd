#include "upload/UploadDialogModel.h"

#include <QSignalSpy>
#include <QTest>

namespace {
using Model = UploadDialogModel;
using C = Model::Control;
using State = Model::State;

const QList<C> kAll{C::List, C::Remove, C::Add, C::Albums, C::NewAlbum, C::AddAlbum, C::Start, C::Close};
const char *const kNames[] = {"List", "Remove", "Add", "Albums", "NewAlbum", "AddAlbum", "Start", "Close"};

// The enabled controls by name, in a fixed order.
QStringList enabledControls(const Model &m)
{
    QStringList on;
    for (C c : kAll)
        if (m.enabled(c))
            on << kNames[int(c)];
    return on;
}

// Imports the whole selection with these sizes (-1: missing).
void importAll(Model &m, const QList<qint64> &sizes)
{
    const QStringList paths = m.BeginImport();
    QCOMPARE(paths.size(), sizes.size());
    for (int i = 0; i < sizes.size(); ++i)
        QCOMPARE(m.TileImported(i, sizes[i]), i);
    m.ImportFinished();
}

QStringList photos(int n)
{
    QStringList paths;
    for (int i = 0; i < n; ++i)
        paths << QStringLiteral("/photos/p%1.jpg").arg(i);
    return paths;
}
} // namespace

class TestUploadDialogModel : public QObject
{
    Q_OBJECT

private slots:
    void sizeText_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty selection") << 0 << qint64(0) << "0 KB";
        QTest::newRow("empty files") << 2 << qint64(0) << "0 KB";
        QTest::newRow("1 byte") << 1 << qint64(1) << "1 KB";
        QTest::newRow("1023 bytes") << 3 << qint64(1023) << "1 KB";
        QTest::newRow("1 KB") << 1 << qint64(1024) << "1 KB";
        QTest::newRow("998 KB and change") << 1 << qint64(998 * 1024 + 1023) << "998 KB";
        QTest::newRow("999 KB") << 1 << qint64(999 * 1024) << "0.98 MB";
        QTest::newRow("1 MB") << 1 << qint64(1048576) << "1.00 MB";
        QTest::newRow("past 2 GB, no wrap") << 1 << (qint64(3) << 30) << "3072.00 MB";
    }
    void sizeText()
    {
        QFETCH(int, count);
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(SelectionSizeText(count, bytes), text);
    }

    void importPercent_data()
    {
        QTest::addColumn<int>("i");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("percent");
        QTest::newRow("first") << 0 << 5 << 0;
        QTest::newRow("30th of 100") << 29 << 100 << 28;
        QTest::newRow("half") << 50 << 100 << 50;
        QTest::newRow("last of 3") << 2 << 3 << 66;
        QTest::newRow("none") << 0 << 0 << 0;
    }
    void importPercent()
    {
        QFETCH(int, i);
        QFETCH(int, count);
        QFETCH(int, percent);
        QCOMPARE(ImportPercent(i, count), percent);
    }

    void albumList_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("albums");
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("service order") << "Trips;;;Garden;;;" << QStringList{"Trips", "Garden"};
        QTest::newRow("a name holding ;;; is two") << "Garden;;;2026;;;" << QStringList{"Garden", "2026"};
        QTest::newRow("leading ; dropped") << ";;;Trips;;;" << QStringList{"Trips"};
        QTest::newRow("blanks trimmed between") << "  Trips ;;;  Garden;;;  " << QStringList{"Trips ", "Garden"};
        QTest::newRow("empty name stops") << "Trips;;;;;;Garden;;;" << QStringList{"Trips"};
        QTest::newRow("no separator") << "Trips" << QStringList{"Trips"};
        QTest::newRow("only separators") << ";;;;;;" << QStringList{};
        QTest::newRow("inner ; kept") << "a;;;;b;;;" << QStringList{"a", ";b"};
    }
    void albumList()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, albums);
        QCOMPARE(ParseAlbumList(text), albums);
        Model m({}, text, false);
        QCOMPARE(m.albums(), albums);
        QCOMPARE(m.currentAlbum(), albums.isEmpty() ? -1 : 0);
        QCOMPARE(m.enabled(C::Albums), !albums.isEmpty());
        QVERIFY(!m.enabled(C::AddAlbum));
    }

    void addAlbum_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("albums");
        QTest::addColumn<int>("current");
        QTest::newRow("other case selects") << "Trips;;;Holidays;;;" << "HOLIDAYS" << QStringList{"Trips", "Holidays"} << 1;
        QTest::newRow("new is added trimmed") << "Trips;;;" << "  Sea  " << QStringList{"Trips", "Sea"} << 1;
        QTest::newRow("into an empty list") << "" << "Sea" << QStringList{"Sea"} << 0;
    }
    void addAlbum()
    {
        QFETCH(QString, list);
        QFETCH(QString, typed);
        QFETCH(QStringList, albums);
        QFETCH(int, current);
        Model m({}, list, false);
        m.SetNewAlbumText("   ");
        QVERIFY(!m.enabled(C::AddAlbum));
        m.SetNewAlbumText(typed);
        QVERIFY(m.enabled(C::AddAlbum));
        m.AddAlbum();
        QCOMPARE(m.albums(), albums);
        QCOMPARE(m.currentAlbum(), current);
        QVERIFY(m.enabled(C::Albums));
        QVERIFY(m.newAlbumText().isEmpty());
        QVERIFY(!m.enabled(C::AddAlbum));
    }

    void importCountsAndTotals()
    {
        Model m(photos(3), "Trips;;;", false);
        QSignalSpy focus(&m, &Model::focusRequested);
        m.BeginImport();
        QCOMPARE(m.numberText(), QString("....."));
        QCOMPARE(m.sizeText(), QString("....."));
        QStringList percents;
        for (int i = 0; i < 3; ++i) {
            m.TileImported(i, i == 1 ? -1 : 1500); // the second photo has vanished
            percents << m.importPercentText();
        }
        QCOMPARE(percents, (QStringList{"0%", "33%", "66%"}));
        m.ImportFinished();
        QCOMPARE(m.importPercentText(), QString("Completed."));
        QCOMPARE(m.importProgress(), 0);
        QCOMPARE(m.numberText(), QString("3"));
        QCOMPARE(m.totalBytes(), qint64(3000));
        QCOMPARE(m.sizeText(), QString("2 KB"));
        QVERIFY(m.items()[1].missing);
        QCOMPARE(focus.last().at(0).value<C>(), C::Start);
    }

    void addedPhotosComeFirstInTheListAndLastInTheSelection()
    {
        Model m(photos(3), "", false);
        importAll(m, {10, 10, 10});
        // Already selected, or twice in the choice: added once.
        QVERIFY(m.AddToSelection({"/photos/p1.jpg"}).isEmpty());
        QCOMPARE(m.state(), State::Ready);
        const QStringList added = m.AddToSelection({"/photos/p1.jpg", "/new/d.jpg", "/new/e.jpg", "/new/d.jpg"});
        QCOMPARE(added, (QStringList{"/new/d.jpg", "/new/e.jpg"}));
        QCOMPARE(m.state(), State::Importing);
        QCOMPARE(m.TileImported(0, 2048), 0);
        QCOMPARE(m.TileImported(1, 2048), 1);
        m.ImportFinished();
        QStringList listed;
        for (const Model::Item &item : m.items())
            listed << item.path;
        QCOMPARE(listed, (QStringList{"/new/d.jpg", "/new/e.jpg", "/photos/p0.jpg", "/photos/p1.jpg", "/photos/p2.jpg"}));
        QCOMPARE(m.selection(), photos(3) + added);
        QCOMPARE(m.numberText(), QString("5"));
        QCOMPARE(m.sizeText(), QString("4 KB"));

        // Rows of the list name the paths removed, whatever their place in the selection.
        QCOMPARE(m.RemoveItems({3, 0}), (QList<int>{0, 2}));
        QCOMPARE(m.selection(), (QStringList{"/photos/p0.jpg", "/photos/p2.jpg", "/new/e.jpg"}));
    }

    void removeRowsOneAndThreeOfFive()
    {
        Model m(photos(5), "", false);
        importAll(m, {1024, 1024, 1024, 1024, 1024});
        m.ListSelectionChanged(2);
        QVERIFY(m.enabled(C::Remove));
        QCOMPARE(m.RemoveItems({1, 3}), (QList<int>{1, 2}));
        QCOMPARE(m.selection(), (QStringList{"/photos/p0.jpg", "/photos/p2.jpg", "/photos/p4.jpg"}));
        QCOMPARE(m.items().size(), 3);
        QCOMPARE(m.numberText(), QString("3"));
        QCOMPARE(m.sizeText(), QString("3 KB"));
        QVERIFY(!m.enabled(C::Remove));
        QVERIFY(m.RemoveItems({}).isEmpty());

        // Removing every photo leaves nothing to start.
        m.RemoveItems({0, 1, 2});
        QCOMPARE(m.sizeText(), QString("0 KB"));
        QVERIFY(!m.enabled(C::Start));
    }

    void controlsInEachState_data()
    {
        QTest::addColumn<int>("photos");
        QTest::addColumn<int>("steps"); // how far along the run
        QTest::addColumn<State>("state");
        QTest::addColumn<QStringList>("enabled");
        QTest::addColumn<QString>("closeText");
        QTest::addColumn<QString>("escape"); // what Escape or the close box does
        const QStringList idle{"List", "Add", "Albums", "NewAlbum", "Start", "Close"};
        QTest::newRow("importing") << 2 << 0 << State::Importing << QStringList{"List", "Albums", "NewAlbum"} << "Close"
                                   << "ignore";
        QTest::newRow("ready") << 2 << 1 << State::Ready << idle << "Close" << "close";
        QTest::newRow("ready, empty") << 0 << 1 << State::Ready << QStringList{"List", "Add", "Albums", "NewAlbum", "Close"}
                                      << "Close" << "close";
        QTest::newRow("handed to the worker") << 2 << 2 << State::Uploading << QStringList{"List"} << "Close" << "close";
        QTest::newRow("uploading") << 2 << 3 << State::Uploading << QStringList{"List", "Close"} << "Stop" << "ask";
        QTest::newRow("stopping") << 2 << 4 << State::Stopping << QStringList{"List"} << "Stop" << "ignore";
        QTest::newRow("finished") << 2 << 5 << State::Finished
                                  << QStringList{"List", "Remove", "Add", "Albums", "NewAlbum", "Close"} << "Close" << "close";
    }
    void controlsInEachState()
    {
        QFETCH(int, photos);
        QFETCH(int, steps);
        QFETCH(State, state);
        QFETCH(QStringList, enabled);
        QFETCH(QString, closeText);
        QFETCH(QString, escape);
        Model m(::photos(photos), "Trips;;;", false);
        m.BeginImport();
        if (steps >= 1) {
            for (int i = 0; i < photos; ++i)
                m.TileImported(i, 100);
            m.ImportFinished();
        }
        if (steps >= 2)
            m.BeginUpload("ann@example.com", "pw", false);
        if (steps >= 3)
            m.UploadBegan();
        if (steps >= 4)
            m.CancelConfirmed();
        if (steps >= 5)
            m.UploadEnded(false);
        QCOMPARE(m.state(), state);
        QCOMPARE(enabledControls(m), enabled);
        QCOMPARE(m.closeText(), closeText);
        const QMap<QString, Model::CloseAction> actions{{"ignore", Model::CloseAction::Ignore},
                                                        {"close", Model::CloseAction::Close},
                                                        {"ask", Model::CloseAction::AskToCancel}};
        QCOMPARE(m.CloseAsked(false), actions[escape]);
    }

    void startChecks_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("albums");
        QTest::addColumn<bool>("automaticRun");
        QTest::addColumn<Model::StartCheck>("check");
        QTest::newRow("no e-mail") << "" << "pw" << "Trips;;;" << false << Model::StartCheck::NoEmail;
        QTest::newRow("no password") << "a@b" << "" << "Trips;;;" << false << Model::StartCheck::NoPassword;
        QTest::newRow("no album") << "a@b" << "pw" << "" << false << Model::StartCheck::NoAlbum;
        QTest::newRow("automatic needs none") << "a@b" << "pw" << "" << true << Model::StartCheck::Ready;
        QTest::newRow("ready") << "a@b" << "pw" << "Trips;;;" << false << Model::StartCheck::Ready;
    }
    void startChecks()
    {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(QString, albums);
        QFETCH(bool, automaticRun);
        QFETCH(Model::StartCheck, check);
        Model m(photos(2), albums, false);
        importAll(m, {2000, 3000});
        QCOMPARE(m.CheckStart(email, password, automaticRun), check);
        if (check != Model::StartCheck::Ready)
            return;
        const UploadJob job = m.BeginUpload(email, password, automaticRun);
        QCOMPARE(job.email, email);
        QCOMPARE(job.password, password);
        QCOMPARE(job.album, automaticRun ? QString() : QString("Trips"));
        QCOMPARE(job.selection, photos(2));
        QCOMPARE(job.totalBytes, qint64(5000));
        QCOMPARE(job.automatic, automaticRun);
        QCOMPARE(m.totalStatus(), QString("Initializing upload process..."));
        QCOMPARE(m.uploadedCount(), QString("0"));
    }

    void theRunEndsInItsFinalStatusAndAsksToClose_data()
    {
        QTest::addColumn<bool>("uploaded");
        QTest::addColumn<bool>("completed");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("bar");
        QTest::newRow("completed") << true << true << "Upload process completed." << 100;
        QTest::newRow("canceled after one") << true << false << "Upload process canceled." << 40;
        QTest::newRow("nothing sent") << false << false << "Upload process canceled." << 40;
    }
    void theRunEndsInItsFinalStatusAndAsksToClose()
    {
        QFETCH(bool, uploaded);
        QFETCH(bool, completed);
        QFETCH(QString, status);
        QFETCH(int, bar);
        Model m(photos(2), "Trips;;;", false);
        importAll(m, {10, 10});
        m.BeginUpload("a@b", "pw", false);
        m.UploadBegan();
        QCOMPARE(m.totalStatus(), QString("Upload process in progress..."));
        m.SetPhotoName("/photos/p0.jpg");
        m.SetTotalProgress(40);
        QCOMPARE(m.totalPercent(), 40);
        if (uploaded)
            m.PhotoUploaded(1);
        QSignalSpy close(&m, &Model::closeRequested);
        m.UploadEnded(completed);
        QCOMPARE(close.size(), 1);
        QCOMPARE(m.totalStatus(), status);
        QCOMPARE(m.totalProgress(), bar);
        QVERIFY(m.photoName().isEmpty());
        QCOMPARE(m.recordChanged(), uploaded);
        QCOMPARE(m.uploadedSomething(), uploaded);
    }

    void automaticModeStartsOnlyAfterTheOpeningImport()
    {
        for (bool automatic : {false, true}) {
            Model m(photos(1), "", automatic);
            QSignalSpy start(&m, &Model::startRequested);
            importAll(m, {10});
            QCOMPARE(start.size(), automatic ? 1 : 0);
            m.AddToSelection({"/new/x.jpg"});
            m.TileImported(0, 10);
            m.ImportFinished();
            QCOMPARE(start.size(), automatic ? 1 : 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestUploadDialogModel)
#include "tst_uploaddialogmodel.moc"
