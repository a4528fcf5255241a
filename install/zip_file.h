#pragma once
// Zip archives over minizip: extraction with the engine's rules for directories, attributes and
// time stamps, and creation of archives.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CKrZipFile
{
public:
    // Results of the last ExtractAll, for diagnostics and tests.
    struct ExtractStats
    {
        uint32_t filesWritten = 0;
        uint32_t directoriesCreated = 0;
        uint32_t entriesSkipped = 0;  // by the DOS attribute rule
        uint32_t entriesRefused = 0;  // unsafe names, or targets that could not be written
        uint64_t bytesWritten = 0;
        // The archive itself is at fault (a read or CRC error, a directory that ends early):
        // extracting the same bytes again cannot succeed.
        bool damaged = false;
    };

    CKrZipFile();
    virtual ~CKrZipFile();
    CKrZipFile(const CKrZipFile&) = delete;
    CKrZipFile& operator=(const CKrZipFile&) = delete;

    // Reading only (launcher form).
    bool Open(const std::string& path);
    // forReading: unzOpen + global info; an archive without entries opens too. Otherwise a new archive, or entries appended to an
    // existing one when appendIfExists is set and the file exists. A non-null password is kept
    // and used for encrypted entries.
    bool Open(const std::string& path, bool forReading, const char* password, bool appendIfExists);
    // Reading an archive kept as several files (a download in byte ranges), joined in order.
    bool OpenParts(const std::vector<std::string>& parts);
    // Always 1.
    int Close();

    // Launcher form: into the archive's own directory, directories created, "\\" in entry names
    // read as "/".
    bool ExtractAll();
    // destDir null or empty: the archive's own directory. Entries with absolute names, drive
    // letters, ":" or ".." components are never written; extraction never leaves the target
    // directory. A file whose extraction fails (read, write or CRC error) is removed again and
    // gets no time stamp. False when anything was refused or failed; a CRC or read error, or a
    // central directory that ends before the entry count it announced, stops the extraction at once
    // (stats.damaged). With a stop flag, extraction ends (false, WasStopped) within one block of
    // the flag being cleared; the file being written then is removed.
    bool ExtractAll(const char* destDir, bool createDirectories);

    // Each entry's name as the archive stores it, in order; false when its directory cannot be read.
    bool ForEachEntryName(const std::function<void(const std::string& name)>& visit);

    // Not owned; null (the default) never stops.
    void SetStopFlag(const std::atomic<bool>* running) { m_running = running; }
    bool WasStopped() const { return m_stopped; }
    // Keep the paths of the files ExtractAll writes (off by default: packages hold many).
    void SetRecordWrittenFiles(bool on) { m_recordWritten = on; }
    const std::vector<std::string>& GetWrittenFiles() const { return m_written; }

    // Entry names with "\\" read as "/" in ExtractAll(destDir, createDirectories).
    void SetReplaceBackslashes(bool on) { m_replaceBackslashes = on; }
    // DOS times in the archive are local time (default: UTC).
    void SetTimesAreLocal(bool on) { m_timesAreLocal = on; }
    const ExtractStats& GetExtractStats() const { return m_stats; }
    const std::string& GetPath() const { return m_path; }
    bool IsOpenForReading() const { return m_reader != nullptr || m_emptyArchive; }
    bool IsOpenForWriting() const { return m_writer != nullptr; }

    // CRC-32 stored in the archive's directory for `entryName` (ASCII case ignored); 0 when the
    // archive does not open or holds no such entry.
    static uint32_t GetZipEntryCrc(const std::string& zipPath, const std::string& entryName);

    // True when `name` may be written below a target directory: not empty, not absolute, no drive
    // letter or ":", no ".." component (also "..." and dot/space-only components), no control
    // characters. "/" and "\\" both count as separators.
    static bool IsSafeEntryName(const std::string& name);

    // Writing (archive opened with forReading false). Entries are made by a DOS host (version made
    // by 0x0014) with attribute 0x20 for files and 0x10 for directories; dosDateTime is the packed
    // DOS date (high 16 bits) and time. level: 0 stores, 1..9 deflate.
    bool AddDirectory(const std::string& entryName, uint32_t dosDateTime);
    bool AddFileFromMemory(const std::string& entryName, const void* data, uint64_t size,
                           uint32_t dosDateTime, int level);
    bool AddFileFromDisk(const std::string& entryName, const std::string& sourcePath,
                         uint32_t dosDateTime, int level);

private:
    bool OpenReader(const std::vector<std::string>& parts);
    // Entries of the archive open for reading (0 for an empty one); false when none is open.
    bool CountEntries(uint64_t* count);
    bool BeginEntry(const std::string& entryName, uint32_t dosDateTime, uint32_t attributes,
                    int level, bool large);

    void* m_reader = nullptr; // unzFile
    void* m_writer = nullptr; // zipFile
    bool m_emptyArchive = false; // opened for reading, holds no entry
    std::string m_path;
    std::string m_password;
    bool m_hasPassword = false;
    bool m_timesAreLocal = false;
    bool m_replaceBackslashes = false;
    ExtractStats m_stats;
    const std::atomic<bool>* m_running = nullptr;
    bool m_stopped = false;
    bool m_recordWritten = false;
    std::vector<std::string> m_written;
};
