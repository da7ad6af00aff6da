// The questions the archive component asks when the caller assigned no
// handler to an event. They are modal dialogs in the program; tests and
// headless callers put their own answers in place of them.
#pragma once

#include <string>

enum TZipFailureAction { fxaRetry, fxaIgnore, fxaAbort };

class TZipQuestions {
public:
    enum TOverwriteAnswer { oaYes, oaNo, oaNoToAll, oaYesToAll };
    virtual ~TZipQuestions() = default;
    // False when the box was cancelled.
    virtual bool InputPassword(const std::string &title, const std::string &prompt,
                               std::string &password) = 0;
    virtual TOverwriteAnswer AskOverwrite(const std::string &text) = 0;
    // Abort, Retry, Ignore.
    virtual TZipFailureAction AskFailure(const std::string &text) = 0;
    // OK (true) or Cancel (false).
    virtual bool AskOkCancel(const std::string &text) = 0;
};

// The modal dialogs; without a running application they answer Cancel,
// No and Abort, since nobody can be asked.
TZipQuestions &ZipDialogQuestions();
// The questions every archiver without its own uses; nullptr restores the
// dialogs. Returns the previous one.
TZipQuestions *SetZipQuestions(TZipQuestions *questions);
TZipQuestions &ZipQuestions();
