#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <mutex>

enum class PromptIcon { None, Information, Question, Warning, Error };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class PromptAnswer { None, Ok, Cancel, Yes, No, Retry, Abort, Ignore };

// One message box, exactly as the user will see it.
struct Prompt {
    QString text;
    QString caption;
    PromptIcon icon = PromptIcon::None;
    PromptButtons buttons = PromptButtons::Ok;
    PromptAnswer defaultAnswer = PromptAnswer::None; // None: the first button
    QPointer<QWidget> owner;                          // null: no owner window
};

// Every message box of the program passes through here, so that tests can read what the
// user would have been told and answer in the user's place. Callable from any thread:
// a worker's question is put to the user on the UI thread and the worker waits for it.
class Prompts
{
public:
    using Handler = std::function<PromptAnswer(const Prompt &)>;

    // Without a handler, real message boxes are shown.
    explicit Prompts(Handler handler = {});

    PromptAnswer ask(const Prompt &prompt);

    // Convenience for the common single-button box.
    void tell(const QString &text, const QString &caption, PromptIcon icon, QWidget *owner = nullptr);

    void setHandler(Handler handler);

    // The answer a box of these buttons gives when nothing is chosen by the default.
    static PromptAnswer firstAnswer(PromptButtons buttons);

    // The real message box, in the program's dialog colours. UI thread only.
    static PromptAnswer showMessageBox(const Prompt &prompt);

    // For running without a screen: each box becomes the line "PROMPT <caption>: <text>"
    // (line breaks written as \n) handed to writeLine, and is answered with its default button.
    static Handler lineHandler(std::function<void(const QString &line)> writeLine);
    // lineHandler writing to standard error; chosen by QUILLMERE_PROMPTS=stderr.
    static Handler stderrHandler();

private:
    PromptAnswer askOnThisThread(const Prompt &prompt);

    std::mutex mutex_;
    Handler handler_;
};
