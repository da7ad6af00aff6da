// Rule files come from users, older releases and the blacklist migration:
// any bytes must read as a rule without a crash, a rule written back must
// read the same, and the engine must decide on it without a crash.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "IniFile.h"
#include "SysUtils.h"
#include "settings/unRules.h"

namespace {

bool Same(const TRuleDefinition &a, const TRuleDefinition &b) {
    return a.Job == b.Job && a.AllAccounts == b.AllAccounts && a.Accounts == b.Accounts &&
           a.AllEMails == b.AllEMails && a.EMailRule == b.EMailRule && a.EMails == b.EMails &&
           a.WordsRule == b.WordsRule && a.Words == b.Words && a.Host == b.Host && a.Port == b.Port &&
           a.User == b.User && a.Pass == b.Pass && a.Path == b.Path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static std::string folder = [] {
        char tmpl[] = "/tmp/fuzz_ruleXXXXXX";
        const char *made = mkdtemp(tmpl);
        return std::string(made ? made : "/tmp") + "/";
    }();
    const std::string file = folder + "r.rul";
    WriteFileAtomic(file, std::string_view(reinterpret_cast<const char *>(data), size));
    IniFileCacheClear();
    try {
        TRuleDefinition rule = ReadRuleDefinition(file);
        for (const char *name : {"ann", ""})
            ApplyRules(folder, TRuleMessage{"Home", name, "ann@example.org", "hello there"});
        WriteRuleDefinition(file, rule);
        IniFileCacheClear();
        TRuleDefinition back = ReadRuleDefinition(file);
        // Values are stored trimmed (but the password, which is stored
        // scrambled and so keeps its blanks), and a job outside the editor's is not
        // written when none is chosen: compare what survives a write.
        if (rule.Job < 0) back.Job = rule.Job;
        for (TStringList *l : {&rule.Accounts, &rule.EMails, &rule.Words})
            for (auto &v : l->Items()) v = Trim(v);
        rule.Host = Trim(rule.Host);
        rule.Port = Trim(rule.Port);
        rule.User = Trim(rule.User);
        rule.Path = Trim(rule.Path);
        if (!Same(rule, back)) std::abort();
    } catch (const Exception &) {
    }
    return 0;
}
