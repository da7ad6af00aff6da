// Where the monitor's files live: the program folder (the executable's
// folder unless start-up or a test sets another) and the files in it.
#pragma once

#include <string>
#include <vector>

std::string ProgramFolder();  // with a trailing "/"
void SetProgramFolder(const std::string &folder);
// A file under the program folder, found without regard to letter case when
// the exact name does not exist ("Lang/Finnish.LNG", "Rules/x.rul").
std::string ProgramFile(const std::string &relative);

// "Tarnwick.ini", or the profile name of the "-user" switch + ".ini".
std::string SettingsFileName();
void SetSettingsFileName(const std::string &name);
// The profile of the program's arguments: "-user _work" runs the profile
// "work" (the argument without its first character); "" without one.
std::string ProfileOfArgs(const std::vector<std::string> &Args);
// "Tarnwick.ini", or the profile's name + ".ini".
std::string SettingsFileNameOfArgs(const std::vector<std::string> &Args);
std::string SettingsFilePath();
// An [Options] value of the settings file, read at the moment it is needed;
// a settings file that cannot be read gives the caller's default.
std::string ReadOption(const std::string &Key, const std::string &Default);
std::string BackupFilePath();  // the settings file + ".bak"
std::string HostDataFilePath();  // "host_data.dat"
std::string RulesFolder();       // "rules/", with the trailing "/"
// The hidden-messages file, written by the message reader and read by the
// checking cycle: one Message-ID a line. It stands in the program folder,
// beside the settings, so the user's list outlives the "temp" folder that
// is emptied at every exit.
std::string HiddenMessagesFile();
// The new-mail sound shipped beside the program (the SoundFile default).
std::string DefaultSoundFile();
// The sound file a stored SoundFile means. Earlier releases wrote the
// dialog's old default, a Windows system sound that no desktop here has,
// when the user had chosen nothing: that stands for the default sound. Any
// other value, an empty one too, means itself.
std::string SoundFileSetting(const std::string &stored);
