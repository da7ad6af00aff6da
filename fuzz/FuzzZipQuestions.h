// The answers a fuzzed archive gets to every question the zip component
// asks: no password, go on after failures, overwrite as the target allows.
#pragma once

#include "ZipQuestions.h"

class FuzzZipQuestions : public TZipQuestions {
public:
    explicit FuzzZipQuestions(TOverwriteAnswer overwrite) : FOverwrite(overwrite) {}
    bool InputPassword(const std::string &, const std::string &, std::string &) override { return false; }
    TOverwriteAnswer AskOverwrite(const std::string &) override { return FOverwrite; }
    TZipFailureAction AskFailure(const std::string &) override { return fxaIgnore; }
    bool AskOkCancel(const std::string &) override { return false; }

private:
    TOverwriteAnswer FOverwrite;
};
