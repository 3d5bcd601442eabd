#pragma once

#include "upload/UploadWorker.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;

// "Upload failed": asks what to do after a photo's upload failed, Try Again, Continue or Stop
// Upload, with "Don't show this message again". No button is the default one. Enter on a
// button presses it; elsewhere Enter answers OK (try again, the box read as it stands), and
// Escape or the close box answer Cancel (try again, the box ignored).
class UploadFailedDialog : public QDialog
{
    Q_OBJECT
public:
    // Result codes beside QDialog's Accepted (Enter) and Rejected (Escape).
    enum Code { TryAgainCode = 10, ContinueCode, StopCode };

    // `message` is the first line; `reason`, when given, stands under it.
    UploadFailedDialog(const QString &message, const QString &reason = {}, QWidget *parent = nullptr);

    // 1 once a button was pressed with the box checked, or Enter with the box checked.
    int dontShowAgain() const { return dontShowAgain_; }
    FailureAnswer answer() const;

    // Shows the dialog and returns its answer once given; empty when the program ends first.
    // Not modal: the upload dialog's Stop stays usable while the question waits (the upload
    // dialog's own modality lets this one through, as its child).
    std::optional<FailureAnswer> Ask();

    QPushButton *button(FailureChoice choice) const;
    QCheckBox *checkBox() const { return box_; }
    QLabel *messageLabel() const { return text_; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

public slots:
    void accept() override;

private:
    void press(int code);

    QLabel *text_;
    QCheckBox *box_;
    QPushButton *tryAgain_;
    QPushButton *continue_;
    QPushButton *stop_;
    int dontShowAgain_ = 0;
};
