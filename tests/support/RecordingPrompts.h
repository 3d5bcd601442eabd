#pragma once

#include "platform/Prompts.h"

#include <QList>

#include <functional>

// Stands in for the user at every message box: keeps what was shown and gives the
// answers queued for it (the first button when none is queued).
struct RecordingPrompts {
    Prompts prompts;
    QList<Prompt> shown;
    QList<PromptAnswer> answers;

    RecordingPrompts()
    {
        prompts.setHandler([this](const Prompt &p) {
            shown << p;
            return answers.isEmpty() ? Prompts::firstAnswer(p.buttons) : answers.takeFirst();
        });
    }
};
