#include "platform/Prompts.h"

#include "platform/DialogColours.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

QMessageBox::StandardButton toStandard(PromptAnswer answer)
{
    switch (answer) {
    case PromptAnswer::Ok: return QMessageBox::Ok;
    case PromptAnswer::Cancel: return QMessageBox::Cancel;
    case PromptAnswer::Yes: return QMessageBox::Yes;
    case PromptAnswer::No: return QMessageBox::No;
    case PromptAnswer::Retry: return QMessageBox::Retry;
    case PromptAnswer::Abort: return QMessageBox::Abort;
    case PromptAnswer::Ignore: return QMessageBox::Ignore;
    case PromptAnswer::None: break;
    }
    return QMessageBox::NoButton;
}

PromptAnswer fromStandard(int button)
{
    switch (button) {
    case QMessageBox::Ok: return PromptAnswer::Ok;
    case QMessageBox::Cancel: return PromptAnswer::Cancel;
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::No: return PromptAnswer::No;
    case QMessageBox::Retry: return PromptAnswer::Retry;
    case QMessageBox::Abort: return PromptAnswer::Abort;
    case QMessageBox::Ignore: return PromptAnswer::Ignore;
    default: return PromptAnswer::None;
    }
}

QList<PromptAnswer> answersOf(PromptButtons buttons)
{
    switch (buttons) {
    case PromptButtons::Ok: return {PromptAnswer::Ok};
    case PromptButtons::OkCancel: return {PromptAnswer::Ok, PromptAnswer::Cancel};
    case PromptButtons::YesNo: return {PromptAnswer::Yes, PromptAnswer::No};
    case PromptButtons::YesNoCancel: return {PromptAnswer::Yes, PromptAnswer::No, PromptAnswer::Cancel};
    case PromptButtons::RetryCancel: return {PromptAnswer::Retry, PromptAnswer::Cancel};
    case PromptButtons::AbortRetryIgnore: return {PromptAnswer::Abort, PromptAnswer::Retry, PromptAnswer::Ignore};
    }
    return {PromptAnswer::Ok};
}

QMessageBox::Icon toIcon(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::Information: return QMessageBox::Information;
    case PromptIcon::Question: return QMessageBox::Question;
    case PromptIcon::Warning: return QMessageBox::Warning;
    case PromptIcon::Error: return QMessageBox::Critical;
    case PromptIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

// What closing the box with Escape or the title bar means for each set of buttons.
PromptAnswer escapeAnswer(PromptButtons buttons)
{
    switch (buttons) {
    case PromptButtons::Ok: return PromptAnswer::Ok;
    case PromptButtons::YesNo: return PromptAnswer::No;
    case PromptButtons::AbortRetryIgnore: return PromptAnswer::Abort;
    default: return PromptAnswer::Cancel;
    }
}

PromptAnswer defaultAnswerOf(const Prompt &prompt)
{
    return prompt.defaultAnswer == PromptAnswer::None ? answersOf(prompt.buttons).front() : prompt.defaultAnswer;
}

QString promptLine(const Prompt &prompt)
{
    QString text = prompt.text;
    text.replace(u'\n', QStringLiteral("\\n"));
    return QStringLiteral("PROMPT ") + prompt.caption + QStringLiteral(": ") + text;
}

} // namespace

Prompts::Prompts(Handler handler) : handler_(std::move(handler)) {}

void Prompts::setHandler(Handler handler)
{
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

PromptAnswer Prompts::firstAnswer(PromptButtons buttons)
{
    return answersOf(buttons).front();
}

PromptAnswer Prompts::ask(const Prompt &prompt)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return askOnThisThread(prompt);

    // A worker's question: the box belongs to the UI thread, the worker waits for the answer.
    PromptAnswer answer = PromptAnswer::None;
    QMetaObject::invokeMethod(app, [&] { answer = askOnThisThread(prompt); }, Qt::BlockingQueuedConnection);
    return answer;
}

void Prompts::tell(const QString &text, const QString &caption, PromptIcon icon, QWidget *owner)
{
    Prompt p;
    p.text = text;
    p.caption = caption;
    p.icon = icon;
    p.owner = owner;
    ask(p);
}

Prompts::Handler Prompts::lineHandler(std::function<void(const QString &line)> writeLine)
{
    return [writeLine = std::move(writeLine)](const Prompt &prompt) {
        writeLine(promptLine(prompt));
        return defaultAnswerOf(prompt);
    };
}

Prompts::Handler Prompts::stderrHandler()
{
    return lineHandler([](const QString &line) {
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
    });
}

PromptAnswer Prompts::askOnThisThread(const Prompt &prompt)
{
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
    }
    return handler ? handler(prompt) : showMessageBox(prompt);
}

PromptAnswer Prompts::showMessageBox(const Prompt &prompt)
{
    QMessageBox box(toIcon(prompt.icon), prompt.caption, prompt.text, QMessageBox::NoButton, prompt.owner.data());
    box.setPalette(DialogPalette());
    // Texts carry file names and camera data: a "<b>" in them is text, not markup.
    box.setTextFormat(Qt::PlainText);
    const QList<PromptAnswer> answers = answersOf(prompt.buttons);
    for (PromptAnswer a : answers)
        box.addButton(toStandard(a));
    box.setDefaultButton(toStandard(defaultAnswerOf(prompt)));
    box.setEscapeButton(toStandard(escapeAnswer(prompt.buttons)));
    // A box is as wide as its text; a short text under a long caption ("No extended image
    // information found!" under "Extended Image Info") has its caption cut short by the window
    // manager. The room for the caption, with some for the title bar's buttons, keeps it whole.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
        const int captionRoom = std::min(box.fontMetrics().horizontalAdvance(prompt.caption) * 5 / 4 + 120, 640);
        grid->addItem(new QSpacerItem(captionRoom, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    return fromStandard(box.exec());
}
