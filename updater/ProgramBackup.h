// What a program update replaces and adds, kept until the update is known
// to be whole, so that an update installs every file of its archive or
// leaves the program folder as it was: the old executable must never run
// beside a new web-mail module, nor the other way round.
//
// The files an archive will replace get a second name in
// "temp/oldprogram/" before the first entry is written (a copy only where
// "temp" lies on another file system), and a list there names them and the
// files and folders the archive adds. A failed update renames every file
// back and removes what it added; a successful one drops the backups. A Fenlow
// killed halfway leaves the list behind: Tarnwick hands the folder to Fenlow
// at its next start, and Fenlow puts the files back before anything else
// (also before the backups of a new attempt, so no later failure takes a
// half-installed release for the old one).
#pragma once

#include <string>
#include <vector>

class TZipBaseArchiver;

class TProgramBackup {
public:
    // programDir: the program folder, with or without a trailing "/".
    explicit TProgramBackup(const std::string &programDir);

    // Puts back what the list of an update that never finished names, then
    // removes the backup folder. False when something could not come back,
    // or the list (or a line of it) could not be read: the list and the
    // backups not put back stay for the next try, and Tarnwick tells the
    // user while they do.
    bool RecoverInterrupted();
    // Called with the archive open, before any entry is written: backs up
    // every file its entries will replace and lists the names they add, as
    // the archive's extraction into the program folder resolves them (a name
    // already there in another letter case is that file). False when a
    // backup or the list cannot be written; nothing is extracted then.
    bool Prepare(const TZipBaseArchiver &zip);
    // The update is whole: the backups go.
    void Commit();
    // The update failed: every replaced file comes back, every file it
    // added goes, and every folder it made once empty; then the backups.
    // Names are reached as Prepare reached them: through a link only while
    // it stays inside the program folder.
    void Restore();

private:
    struct TReplaced {
        std::string Backup;  // file name in the backup folder
        std::string Target;  // relative to the program folder
    };
    // A file or folder that was not there before, relative to the program
    // folder; its first Kept folders were.
    struct TAdded {
        std::string Path;
        size_t Kept = 0;
        bool Folder = false;
    };
    bool WriteList() const;
    bool ReadList();
    void Clear();
    // What stands under an added name now.
    std::vector<std::string> Matches(const TAdded &added) const;
    bool InOwnFolder(const std::string &path) const;
    // A folder the extraction goes on into: a folder, or a link to one that
    // lies inside the program folder (baseReal: its real path, found on
    // first use); never the backup folder.
    bool OnTheWay(const std::string &path, std::string &baseReal) const;
    // Whether the first `folders` components of relative are all on the way.
    bool Reachable(const std::string &relative, size_t folders) const;

    std::string FProgramDir;  // with a trailing "/"
    std::string FFolder;      // the backup folder, no trailing "/"
    std::vector<TReplaced> FReplaced;
    std::vector<TAdded> FAdded;  // every folder before what lies in it
    size_t FUnread = 0;          // lines of the list that did not parse
};
