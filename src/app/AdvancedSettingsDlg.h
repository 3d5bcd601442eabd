#pragma once

#include "platform/Settings.h"

#include <QDialog>
#include <QString>

class AutostartEntry;
class Prompts;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SettingsStore;

// The size field's rule: an unsigned whole number from 300 to 3000.
inline constexpr quint32 kMinPixelSize = 300;
inline constexpr quint32 kMaxPixelSize = 3000;
enum class PixelSizeCheck { Ok, NotANumber, OutOfRange };
PixelSizeCheck CheckMaxPixelSize(const QString &text, quint32 &value);
// What the user is told when the field breaks the rule; empty for Ok.
QString PixelSizeMessage(PixelSizeCheck check);

// "Advanced Settings": the six options of the held settings and the start with the system.
// The dialog works on its own copy; Save keeps it open with a message and the focus in the
// size field while the size breaks the rule, and the caller takes the copy only after Save.
class CAdvancedSettingsDlg : public QDialog
{
    Q_OBJECT
public:
    // The caption of the size message: the framework's own messages carry the application title.
    static inline const QString kSizeCaption = QStringLiteral("QuillmereNewClient");

    CAdvancedSettingsDlg(const Settings &held, bool launchOnStartup, Prompts &prompts, QWidget *parent = nullptr);

    // The values as saved; meaningful after Save.
    const Settings &values() const { return values_; }
    bool launchOnStartup() const { return launchOnStartup_; }

    QCheckBox *automaticUploadBox() const { return automaticUpload_; }
    QCheckBox *automaticUpdateBox() const { return automaticUpdate_; }
    QCheckBox *automaticResizeBox() const { return automaticResize_; }
    QLineEdit *sizeField() const { return size_; }
    QCheckBox *launchOnStartupBox() const { return launchOnStartupBox_; }
    QCheckBox *launchTiVoBox() const { return launchTiVo_; }
    QCheckBox *notifyBox() const { return notify_; }
    QPushButton *saveButton() const { return save_; }
    QPushButton *cancelButton() const { return cancel_; }

public slots:
    // Save: reads the fields back, or refuses with a message while the size breaks the rule.
    void accept() override;

private:
    Prompts &prompts_;
    Settings values_;
    bool launchOnStartup_ = false;

    QPushButton *save_;
    QPushButton *cancel_;
    QCheckBox *automaticUpload_;
    QCheckBox *automaticUpdate_;
    QCheckBox *automaticResize_;
    QLabel *sizeLabel_;
    QLineEdit *size_;
    QCheckBox *launchOnStartupBox_;
    QCheckBox *launchTiVo_;
    QCheckBox *notify_;
};

// The "Advanced Settings" command: runs the dialog on the held settings; after Save the six
// options go into them and the store, and the autostart entry is written (starting
// `programPath` minimized) or removed. Cancel changes nothing. True after Save.
bool RunAdvancedSettings(Settings &settings, SettingsStore &store, Prompts &prompts, const AutostartEntry &autostart,
                         const QString &programPath, QWidget *parent);
