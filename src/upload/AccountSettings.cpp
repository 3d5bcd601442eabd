#include "upload/AccountSettings.h"

#include "platform/Prompts.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"
#include "upload/QLMAPI.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kErrorCaption = QStringLiteral("Quillmere Upload Error");
}

int VerifyAccount(CQLMAPI &api, const QString &email, const QString &password, QString &albumList)
{
    albumList.clear();
    try {
        if (!api.verify(email, password))
            return 1;
        for (const QString &album : api.getAlbums(email, password))
            albumList += album + QStringLiteral(";;;");
        return 0;
    } catch (CQLMException *e) {
        // A service that cannot say counts as a refusal: the upload cannot go on either way.
        delete e;
        albumList.clear();
        return 1;
    }
}

int VerifyAccount(const QString &email, const QString &password, QString &albumList)
{
    CQLMAPI api;
    return VerifyAccount(api, email, password, albumList);
}

AccountSettingsDialog::AccountSettingsDialog(AccountContext &context)
    : QDialog(context.parent), context_(context), email_(new QLineEdit), password_(new QLineEdit),
      save_(new QCheckBox(QStringLiteral("Save my account settings on this computer "))),
      onlyNew_(new QCheckBox(QStringLiteral("Upload only new photos"))), next_(new QPushButton(QStringLiteral("Next >>"))),
      cancel_(new QPushButton(QStringLiteral("Cancel")))
{
    setObjectName(QStringLiteral("AccountSettingsDialog"));
    setWindowTitle(QStringLiteral("Quillmere Upload Settings"));
    password_->setEchoMode(QLineEdit::Password);
    auto *emailLabel = new QLabel(QStringLiteral("Email address:"));
    emailLabel->setBuddy(email_);
    auto *passwordLabel = new QLabel(QStringLiteral("Password:"));
    passwordLabel->setBuddy(password_);
    email_->setAccessibleName(QStringLiteral("Email address"));
    password_->setAccessibleName(QStringLiteral("Password"));

    auto *group = new QGroupBox(QStringLiteral("Account settings"));
    auto *fields = new QVBoxLayout(group);
    fields->addWidget(emailLabel);
    fields->addWidget(email_);
    fields->addWidget(passwordLabel);
    fields->addWidget(password_);
    fields->addWidget(save_);
    fields->addWidget(onlyNew_);

    next_->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(next_);
    buttons->addWidget(cancel_);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    setMinimumWidth(340);

    connect(next_, &QPushButton::clicked, this, &AccountSettingsDialog::next);
    connect(cancel_, &QPushButton::clicked, this, &AccountSettingsDialog::reject);
}

QString AccountSettingsDialog::email() const { return email_->text(); }
QString AccountSettingsDialog::password() const { return password_->text(); }
bool AccountSettingsDialog::uploadOnlyNew() const { return onlyNew_->isChecked(); }
bool AccountSettingsDialog::saveAccount() const { return save_->isChecked(); }
void AccountSettingsDialog::setEmail(const QString &text) { email_->setText(text); }
void AccountSettingsDialog::setPassword(const QString &text) { password_->setText(text); }
void AccountSettingsDialog::setSaveAccount(bool save) { save_->setChecked(save); }
void AccountSettingsDialog::setUploadOnlyNew(bool only) { onlyNew_->setChecked(only); }

void AccountSettingsDialog::next()
{
    if (isVerifying())
        return;
    // As typed: blanks are text too.
    const QString email = email_->text(), password = password_->text();
    if (email.isEmpty()) {
        context_.prompts->tell(QStringLiteral("Please enter your Email address."), kErrorCaption, PromptIcon::Error, this);
        email_->setFocus();
        return;
    }
    if (password.isEmpty()) {
        context_.prompts->tell(QStringLiteral("Please enter your password."), kErrorCaption, PromptIcon::Error, this);
        password_->setFocus();
        return;
    }
    // The service is asked on a worker; the dialog waits, but keeps drawing itself.
    setBusy(true);
    checks_.start(
        [verify = context_.verify, email, password](const WorkerTask &task) {
            std::pair<int, QString> answer{1, QString()};
            // A network wait: should the program end meanwhile, the check is left behind.
            const CancelToken::Blocking call = task.token().blocking();
            try {
                answer.first = verify(email, password, answer.second);
            } catch (...) {
                // Whatever a verifier throws counts as a refusal: the dialog must hear an answer.
                answer = {1, QString()};
            }
            return answer;
        },
        [this](quint64, const std::pair<int, QString> &answer) { verifiedAs(answer.first, answer.second); },
        Worker::CancelOthers);
}

void AccountSettingsDialog::verifiedAs(int result, const QString &albums)
{
    setBusy(false);
    if (context_.albumList)
        *context_.albumList = result == 0 ? albums : QString();
    if (result != 0) {
        context_.prompts->tell(QStringLiteral("Invalid Email address or password!\nCannot continue upload process."),
                               kErrorCaption, PromptIcon::Error, this);
        email_->setFocus();
        return;
    }
    context_.settings->userName = email_->text();
    context_.settings->password = password_->text();
    if (save_->isChecked()) {
        context_.store->WriteString(SettingsStore::SettingsSection, QStringLiteral("QLMUserName"), email_->text());
        context_.store->WriteString(SettingsStore::SettingsSection, QStringLiteral("QLMPassword"), password_->text());
    }
    accept();
}

void AccountSettingsDialog::reject()
{
    // The answer of a check under way must find the dialog still there.
    if (isVerifying())
        return;
    QDialog::reject();
}

void AccountSettingsDialog::setBusy(bool busy)
{
    verifying_ = busy;
    next_->setEnabled(!busy);
    cancel_->setEnabled(!busy);
    email_->setReadOnly(busy);
    password_->setReadOnly(busy);
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

bool ShowAccountSettings(AccountContext &context)
{
    AccountSettingsDialog dialog(context);
    dialog.setEmail(context.settings->userName);
    dialog.setPassword(context.settings->password);
    dialog.setUploadOnlyNew(true);
    dialog.setSaveAccount(false);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    context.settings->userName = dialog.email();
    context.settings->password = dialog.password();
    context.store->SaveSettings(*context.settings);
    if (context.uploadOnlyNew)
        *context.uploadOnlyNew = dialog.uploadOnlyNew();
    return true;
}
