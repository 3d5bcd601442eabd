#include "platform/Settings.h"
#include "platform/SettingsStore.h"
#include "upload/AccountSettings.h"
#include "upload/QLMAPI.h"

#include "support/AlbumServer.h"
#include "support/RecordingPrompts.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <stdexcept>

namespace {

struct Fixture
{
    QTemporaryDir dir;
    SettingsStore store{dir.filePath("Quillmere.conf")};
    Settings settings;
    RecordingPrompts user;
    QString albumList = "stale;;;";
    bool onlyNew = false;
    QStringList asked; // "email|password" of every check
    int answer = 0;
    AccountContext context;

    Fixture()
    {
        context.settings = &settings;
        context.store = &store;
        context.prompts = &user.prompts;
        context.albumList = &albumList;
        context.uploadOnlyNew = &onlyNew;
        context.verify = [this](const QString &e, const QString &p, QString &list) {
            asked << e + "|" + p;
            list = answer == 0 ? "Trips;;;Garden;;;" : "";
            return answer;
        };
    }
};

void Next(AccountSettingsDialog &dialog)
{
    dialog.next();
    QTRY_VERIFY(!dialog.isVerifying());
}

} // namespace

class TestAccountSettings : public QObject
{
    Q_OBJECT

private slots:
    void checksBeforeAsking()
    {
        Fixture f;
        AccountSettingsDialog dialog(f.context);
        QCOMPARE(dialog.windowTitle(), QString("Quillmere Upload Settings"));
        Next(dialog);
        QCOMPARE(f.user.shown.size(), 1);
        QCOMPARE(f.user.shown[0].text, QString("Please enter your Email address."));
        QCOMPARE(f.user.shown[0].caption, QString("Quillmere Upload Error"));
        QCOMPARE(f.user.shown[0].icon, PromptIcon::Error);
        dialog.setEmail("  ");
        Next(dialog);
        QCOMPARE(f.user.shown.last().text, QString("Please enter your password."));
        QVERIFY(f.asked.isEmpty());

        // Blanks are text: they are sent as they are.
        dialog.setPassword(" ");
        f.answer = 1;
        Next(dialog);
        QCOMPARE(f.asked, QStringList{"  | "});
        QCOMPARE(f.user.shown.last().text, QString("Invalid Email address or password!\nCannot continue upload process."));
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(f.albumList.isEmpty());
        QVERIFY(f.settings.userName.isEmpty()); // the held account is not touched by a failure
    }

    void validAccountIsKeptAndSavedOnlyWhenAsked()
    {
        for (bool save : {false, true}) {
            Fixture f;
            AccountSettingsDialog dialog(f.context);
            dialog.setEmail("ann@example.com");
            dialog.setPassword("pw");
            dialog.setSaveAccount(save);
            Next(dialog);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(f.albumList, QString("Trips;;;Garden;;;"));
            QCOMPARE(f.settings.userName, QString("ann@example.com"));
            QCOMPARE(f.store.ReadString("Settings", "QLMUserName"), save ? QString("ann@example.com") : QString());
            QCOMPARE(f.store.ReadString("Settings", "QLMPassword"), save ? QString("pw") : QString());
        }
    }

    void showPrefillsAndAlwaysOffersOnlyNew()
    {
        Fixture f;
        f.settings.userName = "ann@example.com";
        f.settings.password = "stored";
        for (int round = 0; round < 2; ++round) {
            QTimer::singleShot(0, [&] {
                auto *dialog = qobject_cast<AccountSettingsDialog *>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                QCOMPARE(dialog->email(), QString("ann@example.com"));
                QCOMPARE(dialog->password(), QString("stored"));
                QVERIFY(dialog->uploadOnlyNew());
                QVERIFY(!dialog->saveAccount());
                dialog->setUploadOnlyNew(false);
                dialog->next();
            });
            QVERIFY(ShowAccountSettings(f.context));
            QVERIFY(!f.onlyNew);
        }
        QCOMPARE(f.asked.size(), 2); // a stored account is checked again every time

        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        QVERIFY(!ShowAccountSettings(f.context));
    }

    void aVerifierThatThrowsCountsAsARefusal()
    {
        Fixture f;
        f.context.verify = [](const QString &, const QString &, QString &list) -> int {
            list = "half;;;";
            throw std::runtime_error("no answer");
        };
        AccountSettingsDialog dialog(f.context);
        dialog.setEmail("ann@example.com");
        dialog.setPassword("pw");
        Next(dialog);
        QCOMPARE(f.user.shown.size(), 1);
        QCOMPARE(f.user.shown[0].text, QString("Invalid Email address or password!\nCannot continue upload process."));
        QVERIFY(f.albumList.isEmpty());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void verifiesWithTheService()
    {
        AlbumServer server({"--album", AlbumServer::kEmail + ":Trips;;;2026"});
        CQLMAPI api(server.address());
        QString list = "x";
        QCOMPARE(VerifyAccount(api, AlbumServer::kEmail, AlbumServer::kPassword, list), 0);
        QCOMPARE(list, QString("Trips;;;2026;;;"));
        QCOMPARE(VerifyAccount(api, AlbumServer::kEmail, "wrong", list), 1);
        QVERIFY(list.isEmpty());
        ServiceAddress gone = server.address();
        gone.port = 1;
        CQLMAPI nowhere(gone);
        QCOMPARE(VerifyAccount(nowhere, AlbumServer::kEmail, AlbumServer::kPassword, list), 1);
    }
};

QTEST_MAIN(TestAccountSettings)
#include "tst_accountsettings.moc"
