// The files of one run, complete or absent: each is written to a temporary
// name in the output folder ("." + name + ".XXXXXX") and only renamed into
// place once all of them are written. The commit runs under an exclusive
// lock of the folder (two runs into one folder commit one after the
// other, never interleaved), removes the earlier run's `last` file first
// and renames `last` after the others, so that a folder holding `last`
// (report.json) holds one run's complete set. A kill during the commit
// leaves the folder without `last`, never an old `last` beside new files.
//
// A run that is killed (SIGKILL, a crash) while it writes leaves its
// temporary files behind. Every OutputSet holds a shared lock of its folder
// from construction to destruction, so the next run that finds the folder
// unlocked knows that no writer lives and removes the stale temporaries of
// the names it is given (exactly "." + name + "." + six letters or digits,
// mkstemp's pattern; nothing else).
#pragma once

#include <string>
#include <vector>

namespace linematch {

class OutputSet {
public:
    // Creates the folder (and its parents) when missing. FrontEndError
    // "outputFile" when it cannot be created or is not a folder. The
    // temporaries of staleNames that killed runs left there are removed
    // when no other OutputSet holds the folder.
    explicit OutputSet(std::string folder, const std::vector<std::string>& staleNames = {});
    // Removes the temporary files not renamed into place.
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Writes the temporary file of `name`. FrontEndError "outputFile"
    // naming folder/name and the system's reason on any failure (a full
    // disk, a file size limit).
    void add(const std::string& name, const std::string& bytes);
    // A file of an earlier run that this run does not write: removed in
    // the commit, so that it does not stay beside this run's files.
    void drop(const std::string& name);
    // Renames the files into place, `last` (one of the added) last.
    void commit(const std::string& last);

    const std::string& folder() const { return folder_; }

private:
    struct File {
        std::string name;
        std::string temporary;
    };
    std::string folder_;
    int folderFd_ = -1;  // locked shared from construction, exclusive in commit
    std::vector<File> files_;
    std::vector<std::string> dropped_;
};

}  // namespace linematch
