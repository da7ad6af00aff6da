// The registry the program was written against does not exist here. Values
// live in an INI store of our own, one section per key path
// ("HKEY_CURRENT_USER\Software\..."), the default value under the name "@".
// Two keys have real counterparts: the current user's Run key, whose values
// start programs at log-in, is kept as XDG autostart entries; the machine's
// default mail client (HKEY_LOCAL_MACHINE "Software\Clients\Mail" and its
// "<name>\shell\open\command") is read from the desktop's default handler
// of "mailto:" (mimeapps.list and the desktop entry it names).
#pragma once

#include <string>

enum class TRegRoot { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };

// $XDG_CONFIG_HOME, or ~/.config when unset; without a trailing "/".
std::string XdgConfigHome();
// $XDG_CONFIG_HOME/autostart/: the Startup folder and the Run key's home.
std::string AutostartFolder();

// The store: TW_REGISTRY_FILE when set, else the path given to
// SetRegistryFileName, else $XDG_CONFIG_HOME/tarnwick/registry.ini.
std::string RegistryFileName();
void SetRegistryFileName(const std::string &path);  // empty: back to the default

// The autostart entry that stands for a Run value of that name.
std::string RunValueDesktopFile(const std::string &valueName);
// True when the key path (any case, any "\" at the ends) is the Run key.
bool IsRunKey(TRegRoot root, const std::string &keyPath);

// The desktop's default "mailto:" handler: its name and command line (field
// codes such as %u removed); false when there is none.
bool DefaultMailClient(std::string &name, std::string &command);

bool RegKeyExists(TRegRoot root, const std::string &keyPath);
bool RegValueExists(TRegRoot root, const std::string &keyPath, const std::string &name);
std::string RegReadString(TRegRoot root, const std::string &keyPath, const std::string &name,
                          const std::string &def = {});
// Creates the key as needed. Raises EIniFileError when the store cannot be written.
void RegWriteStringValue(TRegRoot root, const std::string &keyPath, const std::string &name,
                         const std::string &value);
// True when the value existed and is gone.
bool RegDeleteStringValue(TRegRoot root, const std::string &keyPath, const std::string &name);
// Moves a key with its values (none of its sub-keys) to a new path; false
// when the source does not exist.
bool RegMoveKey(TRegRoot root, const std::string &fromPath, const std::string &toPath);
