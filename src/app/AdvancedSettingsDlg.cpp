#include "app/AdvancedSettingsDlg.h"

#include "app/AutostartEntry.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

PixelSizeCheck CheckMaxPixelSize(const QString &text, quint32 &value)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return PixelSizeCheck::NotANumber;
    for (QChar c : digits)
        if (c < u'0' || c > u'9')
            return PixelSizeCheck::NotANumber;
    bool ok = false;
    const qulonglong number = digits.toULongLong(&ok);
    // So many digits that they overflow are out of range all the same.
    if (!ok || number < kMinPixelSize || number > kMaxPixelSize)
        return PixelSizeCheck::OutOfRange;
    value = quint32(number);
    return PixelSizeCheck::Ok;
}

QString PixelSizeMessage(PixelSizeCheck check)
{
    switch (check) {
    case PixelSizeCheck::Ok: return {};
    case PixelSizeCheck::NotANumber: return QStringLiteral("Please enter a whole number from 300 to 3000.");
    case PixelSizeCheck::OutOfRange: return QStringLiteral("Please enter a number from 300 to 3000.");
    }
    return {};
}

CAdvancedSettingsDlg::CAdvancedSettingsDlg(const Settings &held, bool launchOnStartup, Prompts &prompts,
                                           QWidget *parent)
    : QDialog(parent), prompts_(prompts), values_(held), launchOnStartup_(launchOnStartup),
      save_(new QPushButton(QStringLiteral("Save"))), cancel_(new QPushButton(QStringLiteral("Cancel"))),
      automaticUpload_(new QCheckBox(
          QStringLiteral("Upload photos automatically from digital camera or card reader to Quillmere web site"))),
      automaticUpdate_(new QCheckBox(QStringLiteral("&Check for new version of Quillmere on startup"))),
      automaticResize_(new QCheckBox(QStringLiteral("Automatic &resize on upload"))),
      sizeLabel_(new QLabel(QStringLiteral("&Maximum photo size in pixels:"))), size_(new QLineEdit),
      launchOnStartupBox_(new QCheckBox(QStringLiteral("&Launch Quillmere on startup"))),
      launchTiVo_(new QCheckBox(QStringLiteral("Launch &TiVo support on startup"))),
      notify_(new QCheckBox(QStringLiteral("&Notify if upload fails")))
{
    setObjectName(QStringLiteral("AdvancedSettings"));
    setWindowTitle(QStringLiteral("Advanced Settings"));
    save_->setDefault(true);
    connect(save_, &QPushButton::clicked, this, &CAdvancedSettingsDlg::accept);
    connect(cancel_, &QPushButton::clicked, this, &CAdvancedSettingsDlg::reject);
    sizeLabel_->setBuddy(size_);
    size_->setMaximumWidth(size_->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 12);

    auto *resize = new QGroupBox(QStringLiteral("Resize Settings"));
    auto *resizeGrid = new QGridLayout(resize);
    resizeGrid->addWidget(automaticResize_, 0, 0, 1, 2);
    resizeGrid->addWidget(sizeLabel_, 1, 0);
    resizeGrid->addWidget(size_, 1, 1);
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(save_);
    buttons->addWidget(cancel_);
    buttons->addStretch();
    auto *top = new QHBoxLayout;
    top->addWidget(resize);
    top->addStretch();
    top->addLayout(buttons);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    for (QCheckBox *box : {automaticUpload_, notify_, automaticUpdate_, launchOnStartupBox_, launchTiVo_})
        layout->addWidget(box);

    setTabOrder(save_, cancel_);
    setTabOrder(cancel_, automaticUpload_);
    setTabOrder(automaticUpload_, automaticUpdate_);
    setTabOrder(automaticUpdate_, automaticResize_);
    setTabOrder(automaticResize_, size_);
    setTabOrder(size_, launchOnStartupBox_);
    setTabOrder(launchOnStartupBox_, launchTiVo_);
    setTabOrder(launchTiVo_, notify_);

    automaticUpload_->setChecked(held.automaticUpload != 0);
    automaticUpdate_->setChecked(held.automaticUpdate != 0);
    automaticResize_->setChecked(held.automaticResize != 0);
    size_->setText(QString::number(held.maxPixelSize));
    size_->setEnabled(held.automaticResize != 0);
    launchOnStartupBox_->setChecked(launchOnStartup);
    launchTiVo_->setChecked(held.launchTiVo != 0);
    notify_->setChecked(held.notifyIfUploadFails != 0);
    // The label stays enabled: it names the field either way.
    connect(automaticResize_, &QCheckBox::toggled, size_, &QWidget::setEnabled);
}

void CAdvancedSettingsDlg::accept()
{
    quint32 size = 0;
    const PixelSizeCheck check = CheckMaxPixelSize(size_->text(), size);
    if (check != PixelSizeCheck::Ok) {
        prompts_.tell(PixelSizeMessage(check), kSizeCaption, PromptIcon::Warning, this);
        // The field is read even while resizing is off, so a size stored out of range would
        // refuse every Save with no field to mend: it is opened for the mending. The resize
        // box governs it again at its next click.
        size_->setEnabled(true);
        size_->setFocus(Qt::OtherFocusReason);
        size_->selectAll();
        return;
    }
    values_.automaticResize = automaticResize_->isChecked() ? 1 : 0;
    values_.automaticUpload = automaticUpload_->isChecked() ? 1 : 0;
    values_.maxPixelSize = size;
    values_.automaticUpdate = automaticUpdate_->isChecked() ? 1 : 0;
    launchOnStartup_ = launchOnStartupBox_->isChecked();
    values_.launchTiVo = launchTiVo_->isChecked() ? 1 : 0;
    values_.notifyIfUploadFails = notify_->isChecked() ? 1 : 0;
    QDialog::accept();
}

bool RunAdvancedSettings(Settings &settings, SettingsStore &store, Prompts &prompts, const AutostartEntry &autostart,
                         const QString &programPath, QWidget *parent)
{
    CAdvancedSettingsDlg dialog(settings, autostart.isPresent(), prompts, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const Settings &chosen = dialog.values();
    settings.automaticUpload = chosen.automaticUpload;
    settings.automaticResize = chosen.automaticResize;
    settings.automaticUpdate = chosen.automaticUpdate;
    settings.maxPixelSize = chosen.maxPixelSize;
    settings.launchTiVo = chosen.launchTiVo;
    settings.notifyIfUploadFails = chosen.notifyIfUploadFails;
    store.SaveSettings(settings);
    // A failure to write or remove the entry is not reported: the box shows the truth the
    // next time the dialog opens.
    if (dialog.launchOnStartup())
        autostart.write(programPath);
    else
        autostart.remove();
    return true;
}
