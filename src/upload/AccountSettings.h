#pragma once

#include "platform/Worker.h"

#include <QDialog>
#include <QString>

#include <functional>

class CQLMAPI;
class Prompts;
class QCheckBox;
class QLineEdit;
class QPushButton;
class SettingsStore;
struct Settings;

// 0 for a valid account, with `albumList` holding its albums, each followed by ";;;"; 1 for an
// invalid one (also when the service fails to answer).
int VerifyAccount(CQLMAPI &api, const QString &email, const QString &password, QString &albumList);
// The same with a client for the service of the user's settings.
int VerifyAccount(const QString &email, const QString &password, QString &albumList);

using AccountVerifier = std::function<int(const QString &email, const QString &password, QString &albumList)>;

// What the account dialog reads and writes.
struct AccountContext
{
    Settings *settings = nullptr;   // the held e-mail address and password, and the options
    SettingsStore *store = nullptr;
    Prompts *prompts = nullptr;
    QString *albumList = nullptr;   // the frame's album list
    bool *uploadOnlyNew = nullptr;
    AccountVerifier verify = [](const QString &e, const QString &p, QString &l) { return VerifyAccount(e, p, l); };
    QWidget *parent = nullptr;
};

// The "Quillmere Upload Settings" dialog. "Next >>" checks the account with the service on a
// worker, the dialog waiting with the wait cursor meanwhile, and closes only for a valid one.
class AccountSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AccountSettingsDialog(AccountContext &context);

    QString email() const;
    QString password() const;
    bool uploadOnlyNew() const;
    bool saveAccount() const;
    void setEmail(const QString &text);
    void setPassword(const QString &text);
    void setSaveAccount(bool save);
    void setUploadOnlyNew(bool only);
    // From "Next >>" until its answer has been acted on.
    bool isVerifying() const { return verifying_; }

public slots:
    void next();
    void reject() override;

private:
    void verifiedAs(int result, const QString &albums);
    void setBusy(bool busy);

    AccountContext &context_;
    QLineEdit *email_;
    QLineEdit *password_;
    QCheckBox *save_;
    QCheckBox *onlyNew_;
    QPushButton *next_;
    QPushButton *cancel_;
    bool verifying_ = false;
    WorkerPool pool_{WorkerPool::Options{"qlm-account", WorkPriority::Normal, 1}};
    Worker checks_{this, pool_}; // last: it ends first
};

// Shows the dialog prefilled from the held account; on "Next >>" with a valid account it keeps
// the account (and saves the options), sets `uploadOnlyNew` and returns true; Cancel gives
// false.
bool ShowAccountSettings(AccountContext &context);
