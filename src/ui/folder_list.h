#pragma once
// The folder list "Files in the folder": a folder's entries by name pattern, its sub-folders
// and the roots of the file system, folders and roots marked so they stand apart from files.
// The listed folder is the process's current directory, so results folders land there.
#include <string>
#include <vector>

namespace serflash::ui {

enum class entry_kind { file, folder, root };

struct folder_entry {
    std::string label;  // as listed: "name", "[name]", "[..]", "[-/media/disk-]"
    std::string target; // file name, or the full path of a folder or root
    entry_kind kind = entry_kind::file;
};

struct dir_item {
    std::string name;
    bool is_folder = false;
};

// The directory operations of the machine (tests substitute their own).
class folder_access {
public:
    virtual ~folder_access() = default;
    // The entries of a folder without "." and ".."; false (with a reason) when unreadable.
    virtual bool read_dir(const std::string& dir, std::vector<dir_item>& items, std::string* error) = 0;
    // "/", the home folder and mounted volumes, without duplicates.
    virtual std::vector<std::string> roots() = 0;
    virtual std::string current_dir() = 0;
    virtual bool change_dir(const std::string& dir, std::string* error) = 0;
};

folder_access& native_folder_access();

// The entries of a folder, the files first, then the folders and roots, each group by name:
// files ending in ".ser" (any case) or, with all_files, every file; sub-folders as "[name]"
// ("[..]" unless it is "/"); the roots as "[-path-]". Hidden entries (starting with '.') are
// left out.
std::vector<folder_entry> make_listing(const std::string& dir, const std::vector<dir_item>& items, bool all_files,
                                       const std::vector<std::string>& roots);

// The parent of an absolute folder path ("/" stays "/").
std::string parent_folder(const std::string& dir);

} // namespace serflash::ui
