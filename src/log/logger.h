// The dated log file: one file per day of object creation under <Documents>/VESKLINK, UTF-8
// without a byte-order mark. The file is opened for each line and closed again, so it can be
// read, copied or deleted while the driver runs.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace vesklink {

enum LogLevel : int { Info = 0, Warning = 1, Error = 2, Debug = 3 };

// The text a level prints in the line: "Info", "Warning", "Error", "Debug", or empty text for any
// other value.
std::string_view LogLevelText(int level);

// The user's Documents folder, or empty text when it cannot be resolved.
std::string DocumentsFolder();
extern const char kPathSeparator;

// The log holds receipt packages with the buyers' phone numbers and e-mails, so on Linux the
// driver's folder and files are the user's alone: a folder created here has mode 0700, a file
// 0600; an existing folder or file keeps its mode. On Windows they take the permissions of the
// user's own Documents folder.
//   CreatePrivateFolder: creates one folder; an existing folder is fine.
//   OpenPrivateFile: opens a file with an fopen mode ("r", "w", "a", "r+", ... and "b"); null
//   when it cannot be opened.
void CreatePrivateFolder(const std::string& path);
std::FILE* OpenPrivateFile(const std::string& path, const char* mode);
// A file written beside the log under another name takes the place of `to` in one step (Windows:
// the paths in the system's code page, as the log's), and a file is removed, never a folder.
// Empty text on success, else the system's reason.
std::string PutFileInPlace(const std::string& from, const std::string& to);
std::string RemoveFile(const std::string& path);

class Logger {
public:
    // Resolves the file path for today and creates the log folder; writes nothing.
    Logger();

    bool Log(std::u16string_view message, int level);
    // The receipt package as the host sent it, framed by marker lines.
    bool LogReceiptBlock(std::u16string_view text);

    const std::string& FilePath() const { return LogFilePath; }
    // The path of another file the driver keeps beside the log (open it with OpenPrivateFile);
    // empty when there is no log folder.
    std::string PathBeside(std::string_view name) const;

private:
    bool WriteLines(const std::string& text);

    std::mutex LogLock;
    std::string LogFilePath;
};

}  // namespace vesklink
