#include "app/AutostartEntry.h"
#include "app/InstallerSetup.h"
#include "platform/SettingsStore.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

QByteArray readRaw(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value) : name_(name), saved_(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (saved_.isNull())
            qunsetenv(name_);
        else
            qputenv(name_, saved_);
    }

private:
    const char *name_;
    QByteArray saved_;
};

constexpr auto OwnerReadWrite = QFile::ReadOwner | QFile::WriteOwner;
constexpr auto GroupOrOther = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;
    QString file() const { return dir_.filePath("Tessaly/Quillmere.conf"); }
    QString systemFile(int n) const { return dir_.filePath(QString("xdg%1/Tessaly/Quillmere.conf").arg(n)); }

private slots:
    void init()
    {
        QDir(dir_.path()).removeRecursively();
        QVERIFY(QDir().mkpath(dir_.filePath("Tessaly")));
    }

    void freshKeyGivesTheDefaults()
    {
        writeFile(file(), "[Settings]\nExecutablePath=/opt/quillmere\n");
        SettingsStore store(file());
        QVERIFY(store.CheckSettingsKey());
        Settings s;
        s.httpPort = 1; // LoadSettings must set every value, not rely on the caller's
        s.launchTiVo = 0;
        QVERIFY(store.LoadSettings(s));
        QCOMPARE(s.httpServer, QString());
        QCOMPARE(s.httpPort, 80);
        QCOMPARE(s.userName, QString());
        QCOMPARE(s.password, QString());
        QCOMPARE(s.automaticUpload, 0);
        QCOMPARE(s.automaticUpdate, 0);
        QCOMPARE(s.automaticResize, 0);
        QCOMPARE(s.maxPixelSize, 300u);
        QCOMPARE(s.launchTiVo, 1);
        QCOMPARE(s.notifyIfUploadFails, 1);
        QCOMPARE(s.executablePath, QString("/opt/quillmere"));
        QCOMPARE(store.ReadString("Settings", "ExecutablePath"), QString("/opt/quillmere"));
        QCOMPARE(store.ReadString("Settings", "CurrentVersion"), QString());
    }

    void settingsKeyCheck_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("present");
        QTest::newRow("no file") << QByteArray() << false;
        QTest::newRow("only the recent folders") << QByteArray("[Recent%20File%20List]\nFile1=/tmp\n") << false;
        QTest::newRow("section with a value") << QByteArray("[Settings]\nQLMHttpPort=80\n") << true;
        QTest::newRow("binary junk") << QByteArray("\x00\x01\xff\xfe[[[\n=\n", 10) << false;
    }
    void settingsKeyCheck()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, present);
        if (!content.isEmpty())
            writeFile(file(), content);
        QCOMPARE(SettingsStore(file()).CheckSettingsKey(), present);
    }

    void unwritableStoreFailsTheCheck()
    {
        if (::geteuid() == 0)
            QSKIP("file modes do not bind root");
        writeFile(file(), "[Settings]\nExecutablePath=/opt/q\n");
        QFile::setPermissions(file(), QFile::ReadOwner);
        QVERIFY(!SettingsStore(file()).CheckSettingsKey());
    }

    void damagedFileKeepsWhatCanBeRead()
    {
        writeFile(file(), "[Settings]\nExecutablePath=/opt/q\n\x01\x02 no equals sign here\n[broken\n"
                         "MaxPixelSize=abc\n[Settings]\nQLMHttpPort=8080x\nLaunchTiVo=0\nNotifyIfUploadFails= 0 \n"
                         "QLMPassword=a,b\nAutomaticResize=99999999999\nAutomaticUpload=4294967295\n");
        SettingsStore store(file());
        QVERIFY(store.CheckSettingsKey());
        Settings s;
        store.LoadSettings(s);
        QCOMPARE(store.ReadString("Settings", "ExecutablePath"), QString("/opt/q"));
        QCOMPARE(s.httpPort, 80);           // not a number
        QCOMPARE(s.maxPixelSize, 300u);     // lost in the broken section
        QCOMPARE(s.launchTiVo, 0);
        QCOMPARE(s.notifyIfUploadFails, 0); // blanks around a number are fine
        QCOMPARE(s.password, QString("a,b"));
        QCOMPARE(s.automaticResize, 0);     // does not fit a 32-bit word
        QCOMPARE(s.automaticUpload, -1);    // the word with every bit set
        // Writing still works, and keeps the values that were readable.
        QVERIFY(store.WriteString("Settings", "QLMUserName", "ann@example.org"));
        QCOMPARE(SettingsStore(file()).ReadString("Settings", "QLMUserName"), QString("ann@example.org"));
        QCOMPARE(SettingsStore(file()).ReadString("Settings", "ExecutablePath"), QString("/opt/q"));
    }

    void saveWritesTheSixOptionsOnly()
    {
        writeFile(file(), "[Settings]\nExecutablePath=/opt/q\nQLMUserName=old@example.org\n");
        SettingsStore store(file());
        Settings s;
        s.userName = "new@example.org";
        s.password = "secret";
        s.automaticUpload = 1;
        s.automaticUpdate = 1;
        s.automaticResize = 1;
        s.maxPixelSize = 1600;
        s.launchTiVo = 0;
        s.notifyIfUploadFails = 0;
        QVERIFY(store.SaveSettings(s));
        Settings back;
        SettingsStore(file()).LoadSettings(back);
        QCOMPARE(back.automaticUpload, 1);
        QCOMPARE(back.automaticUpdate, 1);
        QCOMPARE(back.automaticResize, 1);
        QCOMPARE(back.maxPixelSize, 1600u);
        QCOMPARE(back.launchTiVo, 0);
        QCOMPARE(back.notifyIfUploadFails, 0);
        QCOMPARE(back.userName, QString("old@example.org"));
        QCOMPARE(back.password, QString());
    }

    // A store that cannot be written says so (the tests may run as root, for whom a read-only
    // file is writable: a folder where the file or its folder would go stops anyone).
    void saveReportsAFailedWrite_data()
    {
        QTest::addColumn<QString>("blocked"); // a folder made at this path, or a file for "parent"
        QTest::newRow("a folder where the file would be") << "file";
        QTest::newRow("a file where its folder would be") << "parent";
    }

    void saveReportsAFailedWrite()
    {
        QFETCH(QString, blocked);
        QDir(dir_.path()).removeRecursively();
        QString path = dir_.filePath("Tessaly/Quillmere.conf");
        if (blocked == "file") {
            QVERIFY(QDir().mkpath(path));
        } else {
            writeFile(dir_.filePath("Tessaly"), "not a folder");
        }
        Settings s;
        s.automaticUpload = 1;
        QVERIFY(!SettingsStore(path).SaveSettings(s));
    }

    void storeIsPrivateToTheUser()
    {
        // The first write makes the folders, the file and the section.
        QDir(dir_.path()).removeRecursively();
        SettingsStore store(file());
        QVERIFY(store.WriteString("Settings", "QLMPassword", "secret"));
        QVERIFY(store.CheckSettingsKey());
        QCOMPARE(QFile::permissions(file()) & GroupOrOther, QFile::Permissions());
        QVERIFY(QFile::permissions(file()) & OwnerReadWrite);

        // A file that an older copy left readable by all is tightened at the next write.
        QVERIFY(QFile::setPermissions(file(), OwnerReadWrite | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(store.WriteInt("Settings", "QLMHttpPort", 8080));
        QCOMPARE(QFile::permissions(file()) & GroupOrOther, QFile::Permissions());
        QCOMPARE(store.ReadInt("Settings", "QLMHttpPort", 80), 8080);
    }

    void recentListIsWrittenWhole()
    {
        // A fifth value written by hand must not survive a rewrite of the list.
        writeFile(file(), "[Settings]\nExecutablePath=/q\n[Recent%20File%20List]\nFile1=/a\nFile2=/b\nFile5=/stale\n");
        SettingsStore store(file());
        QCOMPARE(store.ReadRecentFolders(), (QStringList{"/a", "/b"}));
        QVERIFY(store.WriteRecentFolders({"/c", "", "/a", "/b", "/d", "/e"}));
        QCOMPARE(store.ReadRecentFolders(), (QStringList{"/c", "/a", "/b", "/d"}));
        const QByteArray raw = readRaw(file());
        QVERIFY(!raw.contains("stale"));
        QVERIFY(!raw.contains("/e"));
        QVERIFY(raw.contains("ExecutablePath=/q"));
    }

    void recentListEndsAtTheFirstGap()
    {
        writeFile(file(), "[Recent%20File%20List]\nFile1=/a\nFile3=/c\n");
        SettingsStore store(file());
        QCOMPARE(store.ReadRecentFolders(), QStringList{"/a"});
        QCOMPARE(store.ReadRecentFolder(3), QString("/c"));
        QCOMPARE(store.ReadRecentFolder(0), QString());
        QCOMPARE(store.ReadRecentFolder(5), QString());
    }

    void changesMadeOutsideAreReadAtOnce()
    {
        SettingsStore store(file());
        QVERIFY(store.WriteRecentFolders({"/a", "/b"}));
        QCOMPARE(store.ReadRecentFolder(2), QString("/b"));
        // QSettings re-reads a file whose size or millisecond time stamp changed; an edit
        // by hand changes one of them, while one made within the same millisecond and of
        // the same length would not be seen.
        writeFile(file(), QByteArray(readRaw(file())).replace("/b", "/edited"));
        QCOMPARE(store.ReadRecentFolder(2), QString("/edited"));
    }

    void systemWideValuesFillWhatTheUserLacks()
    {
        writeFile(file(), "[Settings]\nExecutablePath=/opt/q\nQLMHttpServer=127.0.0.1\nQLMUserName=\n");
        writeFile(systemFile(1), "[Settings]\nQLMHttpServer=albums.quillmere.example\nQLMHttpPort=443\n"
                                 "QLMUserName=admin@example.org\n");
        writeFile(systemFile(2), "[Settings]\nQLMHttpPort=8443\nCurrentVersion=3.25\n");
        const QByteArray system = readRaw(systemFile(1));
        SettingsStore store(file(), {systemFile(1), systemFile(2)});
        QVERIFY(store.HasSystemDefaults());
        Settings s;
        store.LoadSettings(s);
        QCOMPARE(s.httpServer, QString("127.0.0.1")); // the user's own value wins
        QCOMPARE(s.userName, QString());             // an empty value is the user's too
        QCOMPARE(s.httpPort, 443);                   // the first system-wide file that has it
        QCOMPARE(store.ReadString("Settings", "CurrentVersion"), QString("3.25"));

        // Writes go to the user's file alone, and win from then on.
        QVERIFY(store.WriteInt("Settings", "QLMHttpPort", 8080));
        QCOMPARE(store.ReadInt("Settings", "QLMHttpPort", 80), 8080);
        QCOMPARE(readRaw(systemFile(1)), system);
        QVERIFY(!readRaw(file()).contains("CurrentVersion"));
        QVERIFY(!readRaw(file()).contains("albums.quillmere.example"));

        // The section check sees the user's file alone.
        QFile::remove(file());
        QVERIFY(!store.CheckSettingsKey());
    }

    void systemFilesFollowTheBaseDirectoryRules_data()
    {
        QTest::addColumn<QByteArray>("dirs");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("unset") << QByteArray() << QStringList{"/etc/xdg/Tessaly/Quillmere.conf"};
        QTest::newRow("two, in order") << QByteArray("/opt/xdg:/etc/xdg")
                                       << QStringList{"/opt/xdg/Tessaly/Quillmere.conf", "/etc/xdg/Tessaly/Quillmere.conf"};
        QTest::newRow("relative ones ignored") << QByteArray("xdg::/b") << QStringList{"/b/Tessaly/Quillmere.conf"};
    }
    void systemFilesFollowTheBaseDirectoryRules()
    {
        QFETCH(QByteArray, dirs);
        QFETCH(QStringList, files);
        const ScopedEnv env("XDG_CONFIG_DIRS", dirs);
        QCOMPARE(SettingsStore::systemFiles(), files);
    }

    void systemFilesIncludeTheProgramsOwnInstallation_data()
    {
        QTest::addColumn<QString>("dirs");
        QTest::addColumn<QString>("programFolder");
        QTest::addColumn<QStringList>("files");
        const QString etc = "/etc/xdg/Tessaly/Quillmere.conf";
        QTest::newRow("/usr/local") << QString() << "/usr/local/bin"
                                    << QStringList{etc, "/usr/local/etc/xdg/Tessaly/Quillmere.conf"};
        QTest::newRow("scratch prefix, after the variable's")
            << "/a" << "/tmp/p/bin/" << QStringList{"/a/Tessaly/Quillmere.conf", "/tmp/p/etc/xdg/Tessaly/Quillmere.conf"};
        QTest::newRow("/usr is /etc, named once") << QString() << "/usr/bin" << QStringList{etc};
        QTest::newRow("/usr, after the variable's") << "/a" << "/usr/bin"
                                                    << QStringList{"/a/Tessaly/Quillmere.conf", etc};
        QTest::newRow("/bin is /etc too") << QString() << "/bin" << QStringList{etc};
        QTest::newRow("a build tree") << QString() << "/work/build" << QStringList{etc};
        QTest::newRow("no program") << QString() << QString() << QStringList{etc};
    }
    void systemFilesIncludeTheProgramsOwnInstallation()
    {
        QFETCH(QString, dirs);
        QFETCH(QString, programFolder);
        QFETCH(QStringList, files);
        QCOMPARE(SettingsStore::systemFiles(dirs, programFolder), files);
    }

    void onlyTheUsersOwnStoreReadsTheSystemWideFile()
    {
        writeFile(systemFile(1), "[Settings]\nCurrentVersion=3.25\n");
        const ScopedEnv env("XDG_CONFIG_DIRS", QFile::encodeName(dir_.filePath("xdg1")));
        QVERIFY(SettingsStore().HasSystemDefaults());
        QVERIFY(!SettingsStore(file()).HasSystemDefaults());
        QCOMPARE(SettingsStore(file()).ReadString("Settings", "CurrentVersion"), QString());
    }

    void firstStartOfAnInstalledProgram_data()
    {
        QTest::addColumn<QByteArray>("user"); // null: no file
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QString>("executablePath"); // "*": the default data folder
        QTest::newRow("installed, never set up") << QByteArray() << true << true << "*";
        QTest::newRow("settings without the path")
            << QByteArray("[Settings]\nQLMUserName=ann@example.org\n") << true << true << "*";
        QTest::newRow("empty path") << QByteArray("[Settings]\nExecutablePath=\n") << true << true << "*";
        QTest::newRow("set up already") << QByteArray("[Settings]\nExecutablePath=/opt/q\n") << true << true << "/opt/q";
        QTest::newRow("neither installed nor set up") << QByteArray() << false << false << "";
    }
    void firstStartOfAnInstalledProgram()
    {
        QFETCH(QByteArray, user);
        QFETCH(bool, installed);
        QFETCH(bool, ready);
        QFETCH(QString, executablePath);
        const ScopedEnv env("XDG_DATA_HOME", QFile::encodeName(dir_.filePath("data")));
        if (!user.isNull())
            writeFile(file(), user);
        if (installed)
            writeFile(systemFile(1), "[Settings]\nQLMHttpServer=albums.quillmere.example\nCurrentVersion=3.25\n");
        SettingsStore store(file(), {systemFile(1)});
        QCOMPARE(CompleteInstalledSettings(store), ready);
        if (executablePath == "*")
            executablePath = dir_.filePath("data/Quillmere");
        QCOMPARE(store.ReadString("Settings", "ExecutablePath"), executablePath);
        if (!ready) {
            QCOMPARE(QFile::exists(file()), !user.isNull());
            return;
        }
        QVERIFY(QFileInfo(executablePath).isDir() || executablePath == "/opt/q");
        // The service and the version stay the system-wide file's, so that an upgrade shows.
        QCOMPARE(store.ReadString("Settings", "CurrentVersion"), QString("3.25"));
        QVERIFY(!readRaw(file()).contains("CurrentVersion"));
        QVERIFY(!readRaw(file()).contains("QLMHttpServer"));
        if (user.contains("ann@"))
            QCOMPARE(store.ReadString("Settings", "QLMUserName"), QString("ann@example.org"));
    }

    void firstStartThatCannotWriteFails()
    {
        // A file where the settings folder should be: no write can succeed, not even root's.
        const ScopedEnv env("XDG_DATA_HOME", QFile::encodeName(dir_.filePath("data")));
        writeFile(systemFile(1), "[Settings]\nCurrentVersion=3.25\n");
        writeFile(dir_.filePath("blocked"), "not a folder");
        SettingsStore store(dir_.filePath("blocked/Quillmere.conf"), {systemFile(1)});
        QVERIFY(!CompleteInstalledSettings(store));
    }

    void setupWritesWhatStartUpNeeds()
    {
        SettingsStore store(file());
        QVERIFY(!SettingsInstalled(store));
        SetupOptions options;
        options.executablePath = dir_.filePath("data/Quillmere/");
        options.httpServer = "127.0.0.1/albums";
        options.httpPort = 8081;
        options.currentVersion = "3.25";
        options.recentFolder = dir_.path();
        QString error;
        QVERIFY2(RunSetup(store, options, &error), qPrintable(error));
        QVERIFY(SettingsInstalled(store));
        QVERIFY(QFileInfo(dir_.filePath("data/Quillmere")).isDir());
        QCOMPARE(store.ReadString("Settings", "ExecutablePath"), dir_.filePath("data/Quillmere"));
        Settings s;
        store.LoadSettings(s);
        QCOMPARE(s.httpServer, QString("127.0.0.1/albums"));
        QCOMPARE(s.httpPort, 8081);
        QCOMPARE(store.ReadString("Settings", "CurrentVersion"), QString("3.25"));
        QCOMPARE(store.ReadRecentFolders(), QStringList{dir_.path()});
        QCOMPARE(QFile::permissions(file()) & GroupOrOther, QFile::Permissions());
    }

    void setupProgramChecksAndWrites()
    {
        auto run = [&](const QStringList &args) {
            QProcess p;
            p.start(QUILLMERE_SETUP_BINARY, QStringList{"--settings-file", file()} + args);
            if (!p.waitForFinished(20000))
                return -1;
            return p.exitCode();
        };
        QCOMPARE(run({"--check"}), 1);
        QCOMPARE(run({"--executable-path", dir_.filePath("data"), "--port", "8080"}), 0);
        QCOMPARE(run({"--check"}), 0);
        QCOMPARE(run({"--port", "http"}), 2);
        // Installed settings stay as they are; only the recent folder is taken.
        QCOMPARE(run({"--if-missing", "--port", "9", "--recent-folder", dir_.path()}), 0);
        SettingsStore store(file());
        QCOMPARE(store.ReadInt("Settings", "QLMHttpPort", 80), 8080);
        QCOMPARE(store.ReadRecentFolders(), QStringList{dir_.path()});
    }

    void autostartEntryFormat_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/quillmere" << "\"/usr/bin/quillmere\" RunMinimized";
        QTest::newRow("blank in path") << "/opt/My Apps/quillmere" << "\"/opt/My Apps/quillmere\" RunMinimized";
        QTest::newRow("reserved characters") << "/opt/a\"b$c`d\\e/q" << "\"/opt/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e/q\" RunMinimized";
        QTest::newRow("percent") << "/opt/100%/q" << "\"/opt/100%%/q\" RunMinimized";
        // A line break in a name would end the Exec line and start a key of its own.
        QTest::newRow("line break and tab") << "/opt/a\nNoDisplay=true/b\tc/q"
                                            << "\"/opt/a\\nNoDisplay=true/b\\tc/q\" RunMinimized";
    }
    void autostartEntryFormat()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(AutostartEntry::execLine(program), exec);
        QVERIFY(AutostartEntry::fileText(program).contains("\nExec=" + exec + "\n"));
    }

    void autostartEntryPresenceIsTheSwitch()
    {
        AutostartEntry entry(dir_.filePath("autostart"));
        QVERIFY(!entry.isPresent());
        QVERIFY(entry.remove()); // nothing to remove is no failure
        QVERIFY(entry.write("/usr/bin/quillmere"));
        QVERIFY(entry.isPresent());
        QVERIFY(readRaw(entry.filePath()).startsWith("[Desktop Entry]\n"));
        QVERIFY(entry.remove());
        QVERIFY(!entry.isPresent());
    }

    void autostartEntrySwitchedOffByTheDesktop_data()
    {
        QTest::addColumn<QByteArray>("added");
        QTest::addColumn<bool>("on");
        QTest::newRow("hidden") << QByteArray("Hidden=true\n") << false;
        QTest::newRow("disabled") << QByteArray("X-GNOME-Autostart-enabled=false\n") << false;
        QTest::newRow("shown") << QByteArray("Hidden=false\n") << true;
        QTest::newRow("other group") << QByteArray("[Desktop Action x]\nHidden=true\n") << true;
    }
    void autostartEntrySwitchedOffByTheDesktop()
    {
        QFETCH(QByteArray, added);
        QFETCH(bool, on);
        AutostartEntry entry(dir_.filePath("autostart"));
        const QString text = AutostartEntry::fileText("/usr/bin/quillmere").remove("X-GNOME-Autostart-enabled=true\n");
        writeFile(entry.filePath(), text.toUtf8() + added);
        QCOMPARE(entry.isPresent(), on);
        // Ticked and saved again, it starts the program once more.
        QVERIFY(entry.write("/usr/bin/quillmere"));
        QVERIFY(entry.isPresent());
        QVERIFY(entry.remove());
        QVERIFY(!QFile::exists(entry.filePath()));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
