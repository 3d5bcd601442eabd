#include "upload/UploadFailedDialog.h"

#include "platform/Icons.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

UploadFailedDialog::UploadFailedDialog(const QString &message, const QString &reason, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("UploadFailedDialog"));
    setWindowTitle(QStringLiteral("Upload failed"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto *badge = new QLabel;
    badge->setPixmap(FailureBadge());
    badge->setAccessibleName(QStringLiteral("Upload failed"));
    badge->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A file name or a service's reason is data, never markup.
    text_ = new QLabel(reason.isEmpty() || reason == message ? message : message + u'\n' + reason);
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text_->setMinimumWidth(280);
    box_ = new QCheckBox(QStringLiteral("Don't show this message again"));
    tryAgain_ = new QPushButton(QStringLiteral("Try Again"));
    continue_ = new QPushButton(QStringLiteral("Continue"));
    stop_ = new QPushButton(QStringLiteral("Stop Upload"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton *b : {tryAgain_, continue_, stop_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        buttons->addWidget(b);
    }
    auto *grid = new QGridLayout(this);
    grid->addWidget(badge, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(text_, 0, 1);
    grid->addWidget(box_, 1, 1);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    setLayout(grid);

    connect(tryAgain_, &QPushButton::clicked, this, [this] { press(TryAgainCode); });
    connect(continue_, &QPushButton::clicked, this, [this] { press(ContinueCode); });
    connect(stop_, &QPushButton::clicked, this, [this] { press(StopCode); });
    box_->setFocus();
}

QPushButton *UploadFailedDialog::button(FailureChoice choice) const
{
    switch (choice) {
    case FailureChoice::TryAgain: return tryAgain_;
    case FailureChoice::Continue: return continue_;
    case FailureChoice::Stop: return stop_;
    }
    return nullptr;
}

void UploadFailedDialog::press(int code)
{
    // A button only ever sets the field; it never clears it.
    if (box_->isChecked())
        dontShowAgain_ = 1;
    done(code);
}

void UploadFailedDialog::accept()
{
    dontShowAgain_ = box_->isChecked() ? 1 : 0;
    done(Accepted);
}

void UploadFailedDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            if (auto *b = qobject_cast<QPushButton *>(focusWidget()); b && b->isEnabled())
                b->click();
            else
                accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

FailureAnswer UploadFailedDialog::answer() const
{
    FailureAnswer a;
    a.dontShowAgain = dontShowAgain_ == 1;
    a.choice = result() == ContinueCode ? FailureChoice::Continue
        : result() == StopCode          ? FailureChoice::Stop
                                        : FailureChoice::TryAgain;
    return a;
}

std::optional<FailureAnswer> UploadFailedDialog::Ask()
{
    QPointer<UploadFailedDialog> self(this);
    bool answered = false;
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, [&] {
        answered = true;
        loop.quit();
    });
    show();
    raise();
    activateWindow();
    loop.exec(QEventLoop::DialogExec);
    if (!self || !answered)
        return std::nullopt;
    return answer();
}
