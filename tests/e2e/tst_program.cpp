// The shipped programs, run as a user would run them: setup, a first start, a second start.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestProgram : public QObject
{
    Q_OBJECT
    QTemporaryDir home_;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home_.path());
        env.insert("XDG_CONFIG_HOME", home_.filePath("config"));
        env.insert("XDG_DATA_HOME", home_.filePath("data"));
        // The instance socket lives in the runtime folder: a copy that the developer has open
        // must not answer for the one under test.
        env.insert("XDG_RUNTIME_DIR", home_.filePath("run"));
        env.insert("TMPDIR", home_.filePath("tmp"));
        // No system-wide defaults unless a test puts them there: the machine's own
        // installation must not count.
        env.insert("XDG_CONFIG_DIRS", home_.filePath("no-xdg"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QUILLMERE_REMOVABLE_ROOTS", "");
        return env;
    }

    QByteArray settingsText(const QString &configHome = {}) const
    {
        QFile f((configHome.isEmpty() ? home_.filePath("config") : configHome) + "/Tessaly/Quillmere.conf");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // A folder with two photos; only their names count for the list.
    QString photoFolder(const QString &name) const
    {
        const QString folder = home_.filePath(name);
        for (const char *photo : {"IMG_0001.JPG", "IMG_0042.JPG"}) {
            QFile f(folder + "/" + photo);
            if (!QDir().mkpath(folder) || !f.open(QIODevice::WriteOnly))
                return {};
            f.write("\xff\xd8\xff\xd9");
        }
        return folder;
    }

    int runToEnd(const QString &program, const QStringList &args, QByteArray *err = nullptr,
                 QProcessEnvironment env = {}) const
    {
        const int timeoutMs = 20000;
        QProcess p;
        if (env.isEmpty())
            env = environment();
        env.insert("QUILLMERE_PROMPTS", "stderr");
        p.setProcessEnvironment(env);
        p.start(program, args);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (err)
            *err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home_.isValid());
        for (const char *sub : {"config", "data", "run", "other-run", "tmp"})
            QVERIFY(QDir(home_.path()).mkdir(sub));
        for (const char *run : {"run", "other-run"})
            QFile::setPermissions(home_.filePath(run), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void photoInfoNeedsNoWindowNorSettings()
    {
        // Not even a display platform: the report must come before any window exists.
        const QString photo = home_.filePath("plain.jpg");
        QFile f(photo);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("\xff\xd8\xff\xc0\x00\x0b\x08\x00\x02\x00\x03\x01\x01\x11\x00\xff\xda\x00\x02", 19));
        f.close();
        QProcess p;
        QProcessEnvironment env = environment();
        env.insert("QT_QPA_PLATFORM", "no-such-platform");
        env.remove("DISPLAY");
        p.setProcessEnvironment(env);
        p.start(QUILLMERE_PROGRAM, {"--photo-info", photo, home_.filePath("missing.jpg")});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(p.readAllStandardOutput(), "==> " + photo.toUtf8() + " <==\nNo extended image information found!\n");
        QVERIFY(p.readAllStandardError().contains("missing.jpg"));
        QVERIFY(!QFile::exists(home_.filePath("config/Tessaly/Quillmere.conf")));
    }

    void installedProgramStartsWithoutSetup()
    {
        // What the package installs for every user, and a user who never ran the setup.
        QVERIFY(QDir().mkpath(home_.filePath("xdg/Tessaly")));
        QVERIFY(QFile::copy(QUILLMERE_SYSTEM_DEFAULTS, home_.filePath("xdg/Tessaly/Quillmere.conf")));
        QProcessEnvironment env = environment();
        env.insert("XDG_CONFIG_DIRS", home_.filePath("xdg"));
        env.insert("XDG_CONFIG_HOME", home_.filePath("installed-config"));
        env.insert("XDG_DATA_HOME", home_.filePath("installed-data"));
        env.insert("XDG_RUNTIME_DIR", home_.filePath("other-run"));
        env.insert("QUILLMERE_PROMPTS", "stderr");
        const QString folder = photoFolder("installed-photos");
        QVERIFY(!folder.isEmpty());

        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QUILLMERE_PROGRAM, {folder});
        QVERIFY(program.waitForStarted());
        // The folder asked for is listed, so it heads the recent folders.
        const QString configHome = home_.filePath("installed-config");
        QTRY_VERIFY_WITH_TIMEOUT(settingsText(configHome).contains("File1=" + folder.toUtf8()), 20000);
        const QByteArray settings = settingsText(configHome);
        QVERIFY(settings.contains("ExecutablePath=" + home_.filePath("installed-data/Quillmere").toUtf8()));
        QVERIFY(QFileInfo(home_.filePath("installed-data/Quillmere")).isDir());
        // The service and the version stay the package's, so that an upgrade's show through.
        QVERIFY(!settings.contains("CurrentVersion"));
        QVERIFY(!settings.contains("QLMHttpServer"));
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QVERIFY2(!program.readAllStandardError().contains("PROMPT"), "no message at the first start");
    }

    void missingSettingsAreReportedAndEndTheProgram()
    {
        QByteArray err;
        const int code = runToEnd(QUILLMERE_PROGRAM, {}, &err);
        QVERIFY(code > 0);
        QVERIFY2(err.contains("PROMPT Quillmere: Missing Quillmere settings in the registry.\\nPlease reinstall "
                              "Quillmere.\n"),
                 err.constData());
    }

    void setupWritesTheUsersStore()
    {
        QCOMPARE(runToEnd(QUILLMERE_SETUP, {"--check"}), 1);
        QCOMPARE(runToEnd(QUILLMERE_SETUP, {"--server", "127.0.0.1", "--port", "8080"}), 0);
        QCOMPARE(runToEnd(QUILLMERE_SETUP, {"--check"}), 0);

        const QString store = home_.filePath("config/Tessaly/Quillmere.conf");
        QVERIFY(QFile::exists(store));
        QCOMPARE(QFile::permissions(store) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        QVERIFY(QFileInfo(home_.filePath("data/Quillmere")).isDir());
        QFile f(store);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QVERIFY(text.contains("ExecutablePath=" + home_.filePath("data/Quillmere").toUtf8()));
        QVERIFY(text.contains("QLMHttpPort=8080"));
    }

    void secondStartEndsSilentlyAndLeavesTheFirstRunning()
    {
        // The companion launcher leaves a mark: proof that start-up got past the settings.
        const QString launcher = home_.filePath("data/Quillmere/TiVo/Quillmere TiVo");
        QVERIFY(QDir().mkpath(QFileInfo(launcher).path()));
        {
            QFile script(launcher);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\npwd > started\n");
        }
        QFile::setPermissions(launcher, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // A path where nothing is: reported, and the start goes on.
        QProcess first;
        QProcessEnvironment firstEnv = environment();
        firstEnv.insert("QUILLMERE_PROMPTS", "stderr");
        first.setProcessEnvironment(firstEnv);
        first.start(QUILLMERE_PROGRAM, {"RunMinimized", "/no/such/start"});
        QVERIFY(first.waitForStarted());
        QByteArray firstErr;
        QTRY_VERIFY_WITH_TIMEOUT((firstErr += first.readAllStandardError()).contains(
                                     "PROMPT Folder not found: /no/such/start\n"),
                                 20000);
        const QString socket = home_.filePath(QString("run/Quillmere-%1").arg(::getuid()));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 20000);

        const QString mark = home_.filePath("data/Quillmere/started");
        QTRY_VERIFY_WITH_TIMEOUT(QFile(mark).size() > 0, 20000);
        QFile started(mark);
        QVERIFY(started.open(QIODevice::ReadOnly));
        QCOMPARE(started.readAll().trimmed(), home_.filePath("data/Quillmere").toUtf8());

        // The later copies end at once and silently, whatever they were given.
        QByteArray err;
        QCOMPARE(runToEnd(QUILLMERE_PROGRAM, {}, &err), 0);
        QVERIFY2(!err.contains("PROMPT"), err.constData());
        // A path is handed to the running copy, which opens it, or says that nothing is there.
        const QString folder = photoFolder("handed-over");
        QVERIFY(!folder.isEmpty());
        QCOMPARE(runToEnd(QUILLMERE_PROGRAM, {folder + "/IMG_0042.JPG"}, &err), 0);
        QVERIFY2(!err.contains("PROMPT"), err.constData());
        QTRY_VERIFY_WITH_TIMEOUT(settingsText().contains("File1=" + folder.toUtf8()), 20000);
        QCOMPARE(runToEnd(QUILLMERE_PROGRAM, {"/some/photo.jpg"}, &err), 0);
        QVERIFY2(!err.contains("PROMPT"), err.constData());
        QTRY_VERIFY_WITH_TIMEOUT((firstErr += first.readAllStandardError()).contains(
                                     "PROMPT Folder not found: /some/photo.jpg\n"),
                                 20000);
        QCOMPARE(first.state(), QProcess::Running);

        // Another user, or another test home, shares the temporary folder but not the runtime
        // folder: its copy does not find this one and goes on with its own start, which here
        // has no settings to find.
        QProcessEnvironment other = environment();
        other.insert("XDG_RUNTIME_DIR", home_.filePath("other-run"));
        other.insert("XDG_CONFIG_HOME", home_.filePath("other-config"));
        QCOMPARE(runToEnd(QUILLMERE_PROGRAM, {}, &err, other), 1);
        QVERIFY2(err.contains("PROMPT Quillmere: Missing Quillmere settings"), err.constData());
        QCOMPARE(first.state(), QProcess::Running);

        first.terminate();
        QVERIFY(first.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
