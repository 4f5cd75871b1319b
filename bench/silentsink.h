#pragma once

#include "base/messagesink.h"

#include <cstdio>

// Shows nothing and answers No: a benchmark must not wait on a box. What
// would have been shown goes to stderr.
class SilentSink : public perrox::MessageSink
{
public:
    Answer show(const QString &text, Icon, Buttons, const QString &) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return Answer::No;
    }
    void beep() override { }
    void setBusy(bool) override { }
};
