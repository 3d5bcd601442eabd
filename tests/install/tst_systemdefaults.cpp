// The package's system-wide defaults, read the way QSettings reads a program's settings: the
// user's own file first, then the same name under each $XDG_CONFIG_DIRS folder.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestSystemDefaults : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;

    QString userFile() const { return dir_.filePath("home/.config/Tessaly/Quillmere.conf"); }
    QString systemFile() const { return dir_.filePath("xdg/Tessaly/Quillmere.conf"); }

private slots:
    void initTestCase()
    {
        // QSettings learns the folders once per process: before any settings are opened.
        QVERIFY(dir_.isValid());
        qputenv("HOME", dir_.filePath("home").toUtf8());
        qputenv("XDG_CONFIG_HOME", dir_.filePath("home/.config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", dir_.filePath("xdg").toUtf8());
        QVERIFY(QDir().mkpath(dir_.filePath("xdg/Tessaly")));
        QVERIFY(QFile::copy(QUILLMERE_SYSTEM_DEFAULTS, systemFile()));
    }

    void installedValuesAreReadWhereTheUserHasNone()
    {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Tessaly", "Quillmere");
        QCOMPARE(settings.value("Settings/QLMHttpServer").toString(), QString(QUILLMERE_SERVICE_HOST));
        QCOMPARE(settings.value("Settings/QLMHttpPort").toInt(), QUILLMERE_SERVICE_PORT);
        QCOMPARE(settings.value("Settings/CurrentVersion").toString(), QString(QUILLMERE_VERSION));
        // Only what an installer writes for everyone: no per-user value, no account.
        QSettings system(systemFile(), QSettings::IniFormat);
        QCOMPARE(system.status(), QSettings::NoError);
        QCOMPARE(system.allKeys().size(), 3);
    }

    void usersValuesWinAndWritesStayInTheUsersFile()
    {
        const QByteArray before = [&] {
            QFile f(systemFile());
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        {
            QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Tessaly", "Quillmere");
            QCOMPARE(settings.fileName(), userFile());
            settings.setValue("Settings/QLMHttpServer", "127.0.0.1");
            settings.setValue("Settings/ExecutablePath", "/somewhere");
            settings.sync();
            QCOMPARE(settings.status(), QSettings::NoError);
        }
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Tessaly", "Quillmere");
        QCOMPARE(settings.value("Settings/QLMHttpServer").toString(), QString("127.0.0.1"));
        QCOMPARE(settings.value("Settings/CurrentVersion").toString(), QString(QUILLMERE_VERSION));
        QFile f(systemFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QSettings user(userFile(), QSettings::IniFormat);
        QVERIFY(!user.contains("Settings/CurrentVersion"));
    }
};

QTEST_GUILESS_MAIN(TestSystemDefaults)
#include "tst_systemdefaults.moc"
