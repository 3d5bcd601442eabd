#include "photo/ThumbnailTile.h"
#include "platform/Settings.h"
#include "upload/TileImporter.h"
#include "upload/UploadDialog.h"
#include "upload/UploadFailedDialog.h"

#include "support/RecordingPrompts.h"
#include "support/TestFiles.h"
#include "support/TestPhotos.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {
using C = UploadDialogModel::Control;

struct Fixture {
    QTemporaryDir dir;
    Settings settings;
    RecordingPrompts user;
    QString albumList = "Trips;;;Holidays;;;";
    bool autoRunning = false;
    QList<UploadJob> jobs;
    int accountDialogs = 0;
    int mainShown = 0;
    int mainMinimized = 0;
    QStringList chosen;

    Fixture()
    {
        settings.userName = "ann@example.com";
        settings.password = "pw";
    }

    UploadDialogContext context(bool automatic = false)
    {
        UploadDialogContext c;
        c.settings = &settings;
        c.prompts = &user.prompts;
        c.albumList = &albumList;
        c.autoUploadRunning = &autoRunning;
        c.automatic = automatic;
        c.showAccountSettings = [this] { return ++accountDialogs > 0; };
        c.startUpload = [this](UploadDialog &, UploadJob job) { jobs << job; };
        c.showMainWindow = [this] { ++mainShown; };
        c.minimizeMainWindow = [this] { ++mainMinimized; };
        c.chooseFiles = [this](QWidget *, const QString &) { return chosen; };
        return c;
    }

    QString photo(const QString &name, QSize size = QSize(64, 48))
    {
        const QString path = dir.filePath(name);
        writeFile(path, jpeg(size, Qt::darkCyan));
        return path;
    }

    QStringList photos(int n)
    {
        QStringList paths;
        for (int i = 0; i < n; ++i)
            paths << photo(QStringLiteral("p%1.jpg").arg(i));
        return paths;
    }
};

QStringList labels(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

void openAndImport(UploadDialog &dialog)
{
    dialog.Open();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.model().state(), UploadDialogModel::State::Ready, 20000);
}

template <typename W> QStringList textsOf(const QWidget &parent, QString (W::*text)() const)
{
    QStringList texts;
    for (const W *w : parent.findChildren<W *>())
        texts << (w->*text)();
    return texts;
}
} // namespace

class TestUploadDialog : public QObject
{
    Q_OBJECT

private slots:
    void everyControlReadsItsText()
    {
        Fixture f;
        UploadDialog dialog(f.context(), {});
        // Opened, as the user meets it. (A dialog made and never shown, followed by an import in
        // the same process, trips LeakSanitizer over the main thread's dynamic TLS at exit.)
        openAndImport(dialog);
        QCOMPARE(dialog.windowTitle(), QString("Upload Photos To Quillmere"));
        QVERIFY(dialog.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        const QStringList groups = textsOf(dialog, &QGroupBox::title);
        for (const char *title : {"Photo selection list control panel", "Select Quillmere album to upload into",
                                  "Add new album", "Current photo progress", "Total progress", "Selected photos info"})
            QVERIFY2(groups.contains(title), title);
        const QStringList buttons = textsOf(dialog, &QPushButton::text);
        for (const char *text : {"Remove from selection", "Add to selection", "Add", "Start Upload", "Close"})
            QVERIFY2(buttons.contains(text), text);
        const QStringList captions = textsOf(dialog, &QLabel::text);
        for (const char *text : {"Image import progress -", "Photo name:", "Status:", "Uploaded photos:",
                                 "Number of photos:", "Total size of photos:"})
            QVERIFY2(captions.contains(text), text);
        // The controls without a caption of their own are named for a screen reader.
        QStringList named;
        for (const QWidget *w : dialog.findChildren<QWidget *>())
            if (qobject_cast<const QProgressBar *>(w) || qobject_cast<const QComboBox *>(w)
                || qobject_cast<const QLineEdit *>(w) || qobject_cast<const QListWidget *>(w))
                named << w->accessibleName();
        QVERIFY(!named.contains(QString()));
        QCOMPARE(named.size(), 6);
        auto *albums = qobject_cast<QComboBox *>(dialog.control(C::Albums));
        QCOMPARE(albums->count(), 2);
        QCOMPARE(albums->currentText(), QString("Trips"));
    }

    void importShowsEachSelectedFile()
    {
        Fixture f;
        const QString good = f.photo("good.jpg", QSize(200, 100));
        const QString gone = f.dir.filePath("gone.jpg");
        const QString bad = f.dir.filePath("bad.jpg");
        writeFile(bad, QByteArray(500, 'x'));
        const QString big = f.dir.filePath("big.jpg"); // sparse: no disk is filled
        writeFile(big);
        QFile(big).resize(qint64(3) << 30);
        UploadDialog dialog(f.context(), {good, gone, bad, big});
        openAndImport(dialog);

        QListWidget *list = dialog.photoList();
        QCOMPARE(labels(list), (QStringList{"good.jpg", "gone.jpg", "bad.jpg", "big.jpg"}));
        QCOMPARE(list->item(1)->data(Qt::AccessibleTextRole).toString(), QString("gone.jpg: file not found"));
        QCOMPARE(list->item(0)->data(Qt::UserRole).toString(), good);
        const auto tileOf = [list](int row) { return list->item(row)->icon().pixmap(TileWidth, TileHeight).toImage(); };
        QCOMPARE(tileOf(1), TileImporter::MissingTile().convertToFormat(tileOf(1).format()));
        QCOMPARE(tileOf(2), TileFrame(false).convertToFormat(tileOf(2).format()));
        QVERIFY(tileOf(0) != tileOf(2));

        // A vanished file adds nothing; one past 2 GB counts whole.
        const qint64 total = QFileInfo(good).size() + 500 + (qint64(3) << 30);
        QCOMPARE(dialog.model().totalBytes(), total);
        const auto texts = dialog.findChildren<QLabel *>();
        QStringList shown;
        for (const QLabel *l : texts)
            shown << l->text();
        QVERIFY(shown.contains("4"));
        QVERIFY(shown.contains(SelectionSizeText(4, total)));
        QVERIFY(shown.contains("Completed."));
        QVERIFY(dialog.control(C::Start)->isEnabled());
    }

    void escapeCloseBoxAndEnterWhileImporting()
    {
        Fixture f;
        const QString fifo = f.dir.filePath("stuck.jpg");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        UploadDialog dialog(f.context(), {f.photo("a.jpg"), fifo, f.photo("b.jpg")});
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.Open();
        QVERIFY(dialog.model().importing());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.close();
        QVERIFY(dialog.isVisible());

        // The stuck photo gets the empty frame and holds up neither the photo after it nor the end.
        QTRY_COMPARE_WITH_TIMEOUT(dialog.model().state(), UploadDialogModel::State::Ready, 20000);
        // The read stays stuck for good: the test process ends all the same.
        QCOMPARE(labels(dialog.photoList()), (QStringList{"a.jpg", "stuck.jpg", "b.jpg"}));

        for (C focused : {C::NewAlbum, C::Close}) {
            dialog.control(focused)->setFocus();
            QTest::keyClick(dialog.control(focused), Qt::Key_Return);
        }
        dialog.accept();
        QVERIFY(dialog.isVisible());
        QVERIFY(f.user.shown.isEmpty());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(finished.size(), 1);
        QVERIFY(dialog.isClosed());
        QVERIFY(dialog.model().selection().isEmpty());
    }

    void addAndRemoveKeepListAndSelectionInStep()
    {
        Fixture f;
        const QStringList paths = f.photos(2);
        UploadDialog dialog(f.context(), paths);
        openAndImport(dialog);
        QListWidget *list = dialog.photoList();

        f.chosen = {paths[1]};
        dialog.addToSelection();
        QCOMPARE(dialog.model().state(), UploadDialogModel::State::Ready); // no import started
        QCOMPARE(list->count(), 2);

        const QString added = f.photo("new.jpg");
        f.chosen = {paths[0], added};
        dialog.addToSelection();
        QVERIFY(dialog.model().importing());
        QTRY_COMPARE_WITH_TIMEOUT(dialog.model().state(), UploadDialogModel::State::Ready, 20000);
        QCOMPARE(labels(list), (QStringList{"new.jpg", "p0.jpg", "p1.jpg"}));
        QCOMPARE(dialog.model().selection(), paths + QStringList{added});

        // The marked items go, whatever their places in the selection.
        QVERIFY(!dialog.control(C::Remove)->isEnabled());
        list->item(0)->setSelected(true);
        list->item(2)->setSelected(true);
        QVERIFY(dialog.control(C::Remove)->isEnabled());
        QTest::mouseClick(static_cast<QPushButton *>(dialog.control(C::Remove)), Qt::LeftButton);
        QCOMPARE(labels(list), (QStringList{"p0.jpg"}));
        QCOMPARE(dialog.model().selection(), QStringList{paths[0]});
        QCOMPARE(dialog.model().numberText(), QString("1"));
        QVERIFY(!dialog.control(C::Remove)->isEnabled());
    }

    void startUploadChecks_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("albums");
        QTest::addColumn<QString>("message");
        QTest::newRow("no e-mail") << "" << "pw" << "Trips;;;"
                                   << "E-mail address field is empty.\nPlease enter your e-mail address.";
        QTest::newRow("no password") << "ann@example.com" << "" << "Trips;;;"
                                     << "Password field is empty.\nPlease enter your Password.";
        QTest::newRow("no album") << "ann@example.com" << "pw" << ""
                                  << "Album name is empty.\nPlease add Album name to upload into.";
        QTest::newRow("ready") << "ann@example.com" << "pw" << "Trips;;;" << "";
    }
    void startUploadChecks()
    {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(QString, albums);
        QFETCH(QString, message);
        Fixture f;
        f.settings.userName = email;
        f.settings.password = password;
        f.albumList = albums;
        UploadDialog dialog(f.context(), f.photos(2));
        openAndImport(dialog);
        QTest::mouseClick(static_cast<QPushButton *>(dialog.control(C::Start)), Qt::LeftButton);

        const bool account = email.isEmpty() || password.isEmpty();
        QCOMPARE(f.accountDialogs, account ? 1 : 0);
        QCOMPARE(f.mainShown, account ? 1 : 0);
        if (!message.isEmpty()) {
            QCOMPARE(f.user.shown.size(), 1);
            QCOMPARE(f.user.shown[0].text, message);
            QCOMPARE(f.user.shown[0].caption, QString("Quillmere Upload File"));
            QCOMPARE(f.user.shown[0].icon, PromptIcon::Warning);
            QVERIFY(f.jobs.isEmpty());
            QCOMPARE(dialog.model().state(), UploadDialogModel::State::Ready);
            return;
        }
        QCOMPARE(f.jobs.size(), 1);
        QCOMPARE(f.jobs[0].album, QString("Trips"));
        QCOMPARE(f.jobs[0].selection, dialog.model().selection());
        QVERIFY(!dialog.control(C::Start)->isEnabled());
        QVERIFY(!dialog.control(C::Close)->isEnabled());
    }

    void stopAsksAndCancelsOnlyOnYes()
    {
        Fixture f;
        UploadDialog dialog(f.context(), f.photos(1));
        QSignalSpy finished(&dialog, &QDialog::finished);
        QSignalSpy cancel(&dialog.model(), &UploadDialogModel::stopRequested);
        openAndImport(dialog);
        dialog.startUpload();
        dialog.model().UploadBegan();
        auto *stop = static_cast<QPushButton *>(dialog.control(C::Close));
        QCOMPARE(stop->text(), QString("Stop"));

        f.user.answers = {PromptAnswer::No};
        QTest::mouseClick(stop, Qt::LeftButton);
        QCOMPARE(f.user.shown.size(), 1);
        const Prompt &asked = f.user.shown[0];
        QCOMPARE(asked.text, QString("Do you want to cancel file upload?"));
        QCOMPARE(asked.caption, QString("Quillmere Upload"));
        QCOMPARE(asked.buttons, PromptButtons::YesNo);
        QCOMPARE(asked.defaultAnswer, PromptAnswer::No);
        QCOMPARE(asked.icon, PromptIcon::Question);
        QCOMPARE(cancel.size(), 0);

        f.user.answers = {PromptAnswer::Yes};
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(cancel.size(), 1);
        QCOMPARE(dialog.model().totalStatus(), QString("Please wait to finish..."));
        QVERIFY(!stop->isEnabled());
        // Asked again while stopping, a No would take the cancel back: nothing is asked.
        dialog.close();
        QCOMPARE(f.user.shown.size(), 2);
        QVERIFY(dialog.model().cancelRequested());

        dialog.model().UploadEnded(false);
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!dialog.uploadedSomething());
    }

    void automaticUploadNeverShowsTheDialog_data()
    {
        QTest::addColumn<bool>("automatic");
        QTest::newRow("the automatic dialog") << true;
        QTest::newRow("a dialog while an automatic upload runs") << false;
    }
    void automaticUploadNeverShowsTheDialog()
    {
        QFETCH(bool, automatic);
        Fixture f;
        f.autoRunning = true;
        f.albumList.clear();
        UploadDialog dialog(f.context(automatic), f.photos(3));
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.Open();
        QVERIFY(!dialog.isVisible());
        if (!automatic) {
            openAndImport(dialog);
            dialog.startUpload();
        }
        QTRY_COMPARE_WITH_TIMEOUT(f.jobs.size(), 1, 20000);
        QVERIFY(f.jobs[0].album.isEmpty());
        QVERIFY(f.jobs[0].automatic);
        QCOMPARE(f.jobs[0].selection.size(), 3);
        dialog.model().UploadBegan();
        dialog.model().PhotoUploaded(3);
        dialog.model().UploadEnded(true);
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!dialog.isVisible());
        QVERIFY(dialog.uploadedSomething());
        QVERIFY(f.user.shown.isEmpty());
    }

    void minimizingHidesTheDialogUntilRestored()
    {
        Fixture f;
        UploadDialog dialog(f.context(), f.photos(1));
        QSignalSpy finished(&dialog, &QDialog::finished);
        openAndImport(dialog);
        dialog.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(!dialog.isVisible());
        QCOMPARE(f.mainMinimized, 1);
        QCOMPARE(finished.size(), 0);
        dialog.Restore();
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.isMinimized());

        // A failure prompt that came up meanwhile is brought back on top, with the keyboard:
        // the upload waits for its answer.
        UploadFailedDialog prompt("The upload of p0.jpg failed.", {}, &dialog);
        prompt.show();
        dialog.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(!dialog.isVisible());
        dialog.Restore();
        QTRY_COMPARE(QApplication::activeWindow(), &prompt);
    }

    void importerHandsTilesOverInOrder()
    {
        Fixture f;
        QStringList paths;
        for (int i = 0; i < 24; ++i)
            paths << f.photo(QStringLiteral("t%1.jpg").arg(i), i % 3 ? QSize(40, 30) : QSize(1600, 1200));
        TileImporter importer;
        QList<int> order;
        QSignalSpy finished(&importer, &TileImporter::finished);
        connect(&importer, &TileImporter::tileReady, this, [&](int index, const ImportedTile &tile) {
            order << index;
            QCOMPARE(tile.image.size(), QSize(TileWidth, TileHeight));
        });
        importer.Start(paths.mid(0, 10));
        importer.Start(paths); // the first run is dropped whole
        QVERIFY(finished.wait(20000));
        QList<int> expected(paths.size());
        std::iota(expected.begin(), expected.end(), 0);
        QCOMPARE(order, expected);
        QCOMPARE(finished.size(), 1);

        // An import of none ends too.
        importer.Start({});
        QVERIFY(finished.wait());
    }
};

QTEST_MAIN(TestUploadDialog)
#include "tst_uploaddialog.moc"
