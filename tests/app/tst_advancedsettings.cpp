#include "app/AdvancedSettingsDlg.h"
#include "app/AutostartEntry.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"

#include "support/RecordingPrompts.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

Settings heldSettings()
{
    Settings s;
    s.executablePath = "/data";
    s.automaticUpload = 0;
    s.automaticUpdate = 1;
    s.automaticResize = 1;
    s.maxPixelSize = 1024;
    s.launchTiVo = 0;
    s.notifyIfUploadFails = 1;
    return s;
}

// Works the dialog, once it is up, as a user would.
void whenDialogUp(std::function<void(CAdvancedSettingsDlg &)> work)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, work] {
        auto *dialog = qobject_cast<CAdvancedSettingsDlg *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->deleteLater();
        work(*dialog);
    });
    poll->start(10);
}

} // namespace

class TestAdvancedSettings : public QObject
{
    Q_OBJECT
private slots:
    void sizeRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("check");
        QTest::addColumn<quint32>("value");
        QTest::newRow("lowest") << "300" << int(PixelSizeCheck::Ok) << 300u;
        QTest::newRow("highest") << "3000" << int(PixelSizeCheck::Ok) << 3000u;
        QTest::newRow("blanks around") << " 1200 " << int(PixelSizeCheck::Ok) << 1200u;
        QTest::newRow("below") << "299" << int(PixelSizeCheck::OutOfRange) << 0u;
        QTest::newRow("above") << "3001" << int(PixelSizeCheck::OutOfRange) << 0u;
        QTest::newRow("zero") << "0" << int(PixelSizeCheck::OutOfRange) << 0u;
        QTest::newRow("overflowing") << "99999999999999999999999" << int(PixelSizeCheck::OutOfRange) << 0u;
        QTest::newRow("empty") << "" << int(PixelSizeCheck::NotANumber) << 0u;
        QTest::newRow("negative") << "-500" << int(PixelSizeCheck::NotANumber) << 0u;
        QTest::newRow("letters") << "12px" << int(PixelSizeCheck::NotANumber) << 0u;
        QTest::newRow("fraction") << "500.5" << int(PixelSizeCheck::NotANumber) << 0u;
    }
    void sizeRule()
    {
        QFETCH(QString, text);
        QFETCH(int, check);
        QFETCH(quint32, value);
        quint32 got = 0;
        QCOMPARE(int(CheckMaxPixelSize(text, got)), check);
        QCOMPARE(got, value);
        QCOMPARE(PixelSizeMessage(PixelSizeCheck(check)).contains("from 300 to 3000"),
                 check != int(PixelSizeCheck::Ok));
    }

    void saveRefusesASizeOutOfRange_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<bool>("saved");
        QTest::newRow("299") << "299" << false;
        QTest::newRow("3001") << "3001" << false;
        QTest::newRow("300") << "300" << true;
        QTest::newRow("3000") << "3000" << true;
    }
    void saveRefusesASizeOutOfRange()
    {
        QFETCH(QString, size);
        QFETCH(bool, saved);
        RecordingPrompts user;
        CAdvancedSettingsDlg dialog(heldSettings(), false, user.prompts);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.sizeField()->setText(size);
        dialog.automaticUploadBox()->setChecked(true);
        QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
        QCOMPARE(dialog.result() == QDialog::Accepted, saved);
        QCOMPARE(dialog.isVisible(), !saved);
        if (saved) {
            QVERIFY(user.shown.isEmpty());
            QCOMPARE(dialog.values().maxPixelSize, size.toUInt());
            QCOMPARE(dialog.values().automaticUpload, 1);
        } else {
            QCOMPARE(user.shown.size(), 1);
            QCOMPARE(user.shown[0].text, QString("Please enter a number from 300 to 3000."));
            QCOMPARE(user.shown[0].caption, QString("QuillmereNewClient"));
            QCOMPARE(user.shown[0].owner.data(), &dialog);
            QTRY_COMPARE(QApplication::focusWidget(), dialog.sizeField());
            QCOMPARE(dialog.sizeField()->selectedText(), size);
        }
    }

    void aStoredSizeOutOfRangeCanBeMendedWithResizingOff()
    {
        RecordingPrompts user;
        Settings held = heldSettings();
        held.automaticResize = 0;
        held.maxPixelSize = 100;
        CAdvancedSettingsDlg dialog(held, false, user.prompts);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
        QVERIFY(dialog.isVisible());
        QCOMPARE(user.shown.size(), 1);
        QTRY_COMPARE(QApplication::focusWidget(), dialog.sizeField());
        QTest::keyClicks(dialog.sizeField(), "800");
        QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.values().maxPixelSize, 800u);
        QCOMPARE(dialog.values().automaticResize, 0);
    }

    void sizeFieldFollowsAutomaticResize()
    {
        RecordingPrompts user;
        Settings held = heldSettings();
        held.automaticResize = 0;
        CAdvancedSettingsDlg off(held, false, user.prompts);
        QVERIFY(!off.sizeField()->isEnabled());
        CAdvancedSettingsDlg dialog(heldSettings(), false, user.prompts);
        QVERIFY(dialog.sizeField()->isEnabled());
        dialog.automaticResizeBox()->click();
        QVERIFY(!dialog.sizeField()->isEnabled());
        dialog.automaticResizeBox()->click();
        QVERIFY(dialog.sizeField()->isEnabled());
    }

    void theFieldsShowTheHeldValues()
    {
        RecordingPrompts user;
        CAdvancedSettingsDlg dialog(heldSettings(), true, user.prompts);
        QCOMPARE(dialog.windowTitle(), QString("Advanced Settings"));
        QCOMPARE(dialog.automaticUploadBox()->isChecked(), false);
        QCOMPARE(dialog.automaticUpdateBox()->isChecked(), true);
        QCOMPARE(dialog.automaticResizeBox()->isChecked(), true);
        QCOMPARE(dialog.sizeField()->text(), QString("1024"));
        QCOMPARE(dialog.launchOnStartupBox()->isChecked(), true);
        QCOMPARE(dialog.launchOnStartupBox()->text(), QString("&Launch Quillmere on startup"));
        QCOMPARE(dialog.launchTiVoBox()->isChecked(), false);
        QCOMPARE(dialog.notifyBox()->isChecked(), true);
    }

    void saveWritesSettingsAndAutostartEntry_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("Save") << true;
        QTest::newRow("Cancel") << false;
    }
    void saveWritesSettingsAndAutostartEntry()
    {
        QFETCH(bool, save);
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("Quillmere.conf"));
        RecordingPrompts user;
        Settings settings = heldSettings();
        QVERIFY(store.SaveSettings(settings));
        const QByteArray storedBefore = readFile(store.fileName());
        const AutostartEntry autostart(dir.filePath("autostart"));
        const QString program = "/opt/My Photos/quillmere";

        whenDialogUp([save](CAdvancedSettingsDlg &d) {
            QVERIFY(!d.launchOnStartupBox()->isChecked());
            d.launchOnStartupBox()->setChecked(true);
            d.automaticUploadBox()->setChecked(true);
            d.automaticResizeBox()->setChecked(false);
            d.sizeField()->setText("2000");
            d.launchTiVoBox()->setChecked(true);
            d.notifyBox()->setChecked(false);
            d.automaticUpdateBox()->setChecked(false);
            QTest::mouseClick(save ? d.saveButton() : d.cancelButton(), Qt::LeftButton);
        });
        QCOMPARE(RunAdvancedSettings(settings, store, user.prompts, autostart, program, nullptr), save);
        Settings stored;
        QVERIFY(store.LoadSettings(stored));
        if (!save) {
            QCOMPARE(settings.automaticUpload, 0);
            QCOMPARE(settings.maxPixelSize, 1024u);
            QCOMPARE(readFile(store.fileName()), storedBefore);
            QVERIFY(!autostart.isPresent());
            return;
        }
        for (const Settings *s : {&settings, &stored}) {
            QCOMPARE(s->automaticUpload, 1);
            QCOMPARE(s->automaticResize, 0);
            QCOMPARE(s->maxPixelSize, 2000u);
            QCOMPARE(s->automaticUpdate, 0);
            QCOMPARE(s->launchTiVo, 1);
            QCOMPARE(s->notifyIfUploadFails, 0);
        }
        QVERIFY(readFile(autostart.filePath()).contains("\nExec=\"/opt/My Photos/quillmere\" RunMinimized\n"));

        // Deleted outside the program: the box is clear next time, and Save leaves it away.
        QVERIFY(QFile::remove(autostart.filePath()));
        whenDialogUp([](CAdvancedSettingsDlg &d) {
            QVERIFY(!d.launchOnStartupBox()->isChecked());
            d.launchOnStartupBox()->setChecked(true);
            d.saveButton()->click();
        });
        QVERIFY(RunAdvancedSettings(settings, store, user.prompts, autostart, program, nullptr));
        QVERIFY(autostart.isPresent());
        whenDialogUp([](CAdvancedSettingsDlg &d) {
            QVERIFY(d.launchOnStartupBox()->isChecked());
            d.launchOnStartupBox()->setChecked(false);
            d.saveButton()->click();
        });
        QVERIFY(RunAdvancedSettings(settings, store, user.prompts, autostart, program, nullptr));
        QVERIFY(!autostart.isPresent());
    }
};

QTEST_MAIN(TestAdvancedSettings)
#include "tst_advancedsettings.moc"
