// The web-mail route (untwo) and the browser wrapper it drives stand on Qt
// WebEngine, whose start-up hook makes a shared GL context (on a software
// renderer with its render threads) in every process that loads it, web
// mail or not. They are therefore a module of their own,
// "tarnwick-webmail.so" beside the executable, which the program loads only
// when it meets a web-mail account: before its application object is made
// when the settings hold one (the engine's attributes must be set by then),
// otherwise when the checking cycle or the message reader first asks for
// the route (WebMailAvailable, through SetWebMailLoader).
//
// The module carries none of the program's own routines: it uses the
// executable's (which exports them), so every global of the program exists
// once. It is never unloaded. A module works on the program's data as its
// own build laid it out, so the program loads only the module of its own
// build: each build gives both the same token (its marker), and the loader
// reads the module file's before a line of the module runs.
#pragma once

#include <string>
#include <vector>

extern const char *const WebMailModuleFileName;  // "tarnwick-webmail.so"

// Where the module is looked for: beside the executable, unless set ("" to
// go back to that). Empty when the executable's own path cannot be read:
// the module is then not looked for at all.
std::string WebMailModulePath();
void SetWebMailModulePath(const std::string &Path);
// Where the executable's own path comes from: ApplicationExeName, unless
// set (nullptr to go back to that).
void SetWebMailExeNameSource(std::string (*Source)());

// The token of the build the running program belongs to; empty in a
// program that carries no build marker, which loads no module.
std::string ProgramBuildToken();
// The build token a file carries; empty when it has none, or is missing,
// unreadable or not a regular file.
std::string BuildTokenOfFile(const std::string &Path);
// Why the module at Path must not be loaded, read from the file alone; empty
// when it may be.
std::string WebMailModuleRefusal(const std::string &Path);

// Loads the module (once) and has it install the route (SetWebMailCalls).
// True when the route is there. A module that is missing, cannot be loaded
// or belongs to another build of the program leaves the route out:
// web-mail accounts then say WebMailUnavailableText, and the reason is kept
// (and said once on the standard error).
bool LoadWebMailModule();
bool WebMailModuleLoaded();
std::string WebMailModuleError();

// Makes the module come the first time the route is asked for.
void LoadWebMailModuleOnFirstUse();

// For main, before the application object: when the settings the program's
// arguments name (in the program folder) hold an enabled web-mail account,
// sets the engine's application attributes and loads the module. Either way
// it then comes on first use.
void PrepareWebMailModule(const std::vector<std::string> &Args);

// Frees the route's browser when the module is loaded (the program does so
// while the window whose reporter it uses still stands).
void FreeWebMailForm();
