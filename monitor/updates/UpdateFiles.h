// What Tarnwick and Fenlow agree on about updates: the names of the two
// executables, the web location every download comes from, and the checks
// that every name, path, version and archive coming from there passes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The executables of the program folder, one rule for both programs.
inline constexpr char TarnwickExeName[] = "tarnwick";
inline constexpr char FenlowExeName[] = "fenlow";

// The environment variables that point a build at another web location (a
// test server, a self-hosted mirror) and at the authorities it is signed by.
inline constexpr char UpdateUrlVariable[] = "TARNWICK_UPDATE_URL";
inline constexpr char UpdateCAVariable[] = "TARNWICK_UPDATE_CA";

// The web location, an https address ending in "/": TARNWICK_UPDATE_URL when
// it holds an https address, else the one the build was configured with.
std::string UpdateBaseUrl();
// The folder of the archives below it: UpdateBaseUrl() + "zip/".
std::string UpdateZipUrl();
// Makes the HTTP downloads trust the authorities of the PEM file that
// TARNWICK_UPDATE_CA names instead of the system's; returns that file, or ""
// when the variable is unset (the system's authorities then stay).
std::string ApplyUpdateCAFile();

// A bare file name as the information files may give one: not empty, no
// "/", "\", NUL or control characters, not "." or "..", no ".." inside,
// and no "*" or "?": the routines that delete files take those as a mask.
bool IsPlainFileName(const std::string &name);
// The path, taken relative to folder when it is not absolute, with "." and
// ".." folded away; "" when the result does not lie strictly inside folder.
std::string PathInFolder(const std::string &path, const std::string &folder);

// The SHA-256 of a file as lower-case hex; "" when it cannot be read.
std::string FileSha256(const std::string &path);
// True when expected is empty (older information files name no digest) or
// equals the file's SHA-256 (hex, any letter case, blanks around ignored).
bool Sha256Matches(const std::string &path, const std::string &expected);

// A dotted version as a number, the dots removed ("0.8.2.5" gives 825).
// False for a text that is empty, holds anything but digits and dots, or
// does not fit in 64 bits.
bool VersionNumber(const std::string &version, int64_t &out);
// True only when candidate is a valid version whose number is greater than
// current's; a current version that is not valid counts as below every one.
bool VersionIsNewer(const std::string &candidate, const std::string &current);

// A skin update moves the installed skin folder here instead of deleting it;
// Fenlow puts it back when the new skin does not install.
std::string SkinBackupFolder(const std::string &programFolder, const std::string &skin);
// Moves "skins/<skin>" of the program folder to its backup folder (a stale
// backup goes first). True when the skin folder is gone from "skins/" (also
// when there was none).
bool MoveSkinAside(const std::string &programFolder, const std::string &skin);

// A program update keeps the files it replaces here until it is whole;
// Fenlow puts them back when it fails or was cut short.
std::string ProgramBackupFolder(const std::string &programFolder);
// The list there of what the update replaced and added. Outside Fenlow's
// work (it holds the folder's lock alone meanwhile) it exists only when an
// update was cut short and the folder is part old, part new.
std::string ProgramRestoreList(const std::string &programFolder);

// A list handed to Fenlow by Tarnwick at its start is marked so, once: it is
// made read-only (Fenlow writes every list anew, writable), so the mark goes
// with the list and a new list starts without it. False when it was marked
// before, or cannot be: a list that is no plain file, or one on a file system
// that keeps no mode.
bool MarkHandedOver(const std::string &list);
// The mark taken off again by a Fenlow that never had the folder to put the
// list back (another Tarnwick held it meanwhile): the next start alone with
// the folder hands it over anew.
void ClearHandedOverMark(const std::string &list);

// Fenlow starts Tarnwick again on the profile of the Tarnwick that handed
// the folder over: Tarnwick gives its profile on Fenlow's command line after
// the switch, and Fenlow passes the same on. These are those arguments for
// the profile that args name (Tarnwick's own arguments, or Fenlow's after its
// switch): "-user" and "_" + the profile; none for the default profile, nor
// for one that is not a plain name of at most MaxProfileBytes (a path, a
// control character), whose settings would lie outside the program folder.
inline constexpr size_t MaxProfileBytes = 64;
std::vector<std::string> ProfileArguments(const std::vector<std::string> &args);

// The archives the fixed-name jobs of Fenlow ("-all", "-ssl", "-ske") unpack
// from "temp/" of the program folder.
inline constexpr char AllSkinsArchiveName[] = "allskins.zip";
inline constexpr char TLSArchiveName[] = "tls_openssl096.zip";
inline constexpr char SkinEditorArchiveName[] = "Brisvel.zip";

// What "temp/" of the program folder holds for Fenlow until its job has run:
// the archives "fenlow.dat" and "skins.dat" name, the archives of the
// fixed-name jobs, the skins a skin update moved aside, and what a program
// update that never finished has yet to put back. Full paths of
// entries that exist, each strictly inside "temp/"; a Tarnwick that empties
// "temp/" leaves them (and the folders that lead to them) alone.
std::vector<std::string> UpdaterHandOverFiles(const std::string &programFolder);
// Deletes everything in "temp/" of the program folder but the hand-over
// above. True when nothing else is left.
bool EmptyTempFolder(const std::string &programFolder);
