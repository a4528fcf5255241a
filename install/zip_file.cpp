// minizip first: its headers set the large-file macros before the C library is seen.
#include <minizip/unzip.h>
#include <minizip/zip.h>

#include "install/zip_file.h"

#include "install/file_writer.h"
#include "install/path_utils.h"
#include "platform/files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace {

// Large enough that extraction is bound by inflate, not by read/write calls.
constexpr size_t kCopyBufferSize = 256 * 1024;
constexpr size_t kStreamBufferSize = 256 * 1024;
constexpr uint32_t kUnixDirectoryBit = 0x40000000u; // S_IFDIR in the high half of external_fa
constexpr uLong kVersionMadeByDos = 0x0014;          // host 0 (DOS), zip 2.0

// ---- minizip file functions over the OS seam (mapped paths, 64-bit offsets, big buffers) ----

struct ZipStream
{
    std::FILE* file = nullptr;
    std::unique_ptr<char[]> buffer;
};

voidpf ZCALLBACK StreamOpen(voidpf, const void* filename, int mode)
{
    if (!filename)
        return nullptr;
    // Archives being written; reading has its own functions below.
    const char* fileMode = nullptr;
    if (mode & ZLIB_FILEFUNC_MODE_EXISTING)
        fileMode = "r+b";
    else if (mode & ZLIB_FILEFUNC_MODE_CREATE)
        fileMode = "wb";
    if (!fileMode)
        return nullptr;
    std::FILE* file = kr::os::OpenFile(static_cast<const char*>(filename), fileMode);
    if (!file)
        return nullptr;
    auto* stream = new ZipStream;
    stream->file = file;
    stream->buffer.reset(new char[kStreamBufferSize]);
    std::setvbuf(file, stream->buffer.get(), _IOFBF, kStreamBufferSize);
    return stream;
}

uLong ZCALLBACK StreamRead(voidpf, voidpf stream, void* buf, uLong size)
{
    return static_cast<uLong>(std::fread(buf, 1, size, static_cast<ZipStream*>(stream)->file));
}

uLong ZCALLBACK StreamWrite(voidpf, voidpf stream, const void* buf, uLong size)
{
    return static_cast<uLong>(std::fwrite(buf, 1, size, static_cast<ZipStream*>(stream)->file));
}

ZPOS64_T ZCALLBACK StreamTell(voidpf, voidpf stream)
{
    int64_t position = kr::os::TellFile64(static_cast<ZipStream*>(stream)->file);
    return position < 0 ? static_cast<ZPOS64_T>(-1) : static_cast<ZPOS64_T>(position);
}

long ZCALLBACK StreamSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    int whence = SEEK_SET;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        whence = SEEK_CUR;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        whence = SEEK_END;
    else if (origin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    return kr::os::SeekFile64(static_cast<ZipStream*>(stream)->file, static_cast<int64_t>(offset), whence) == 0 ? 0 : -1;
}

int ZCALLBACK StreamClose(voidpf, voidpf stream)
{
    auto* s = static_cast<ZipStream*>(stream);
    int result = std::fclose(s->file);
    delete s;
    return result;
}

int ZCALLBACK StreamError(voidpf, voidpf stream)
{
    return std::ferror(static_cast<ZipStream*>(stream)->file);
}

zlib_filefunc64_def StreamFunctions()
{
    zlib_filefunc64_def def;
    def.zopen64_file = StreamOpen;
    def.zread_file = StreamRead;
    def.zwrite_file = StreamWrite;
    def.ztell64_file = StreamTell;
    def.zseek64_file = StreamSeek;
    def.zclose_file = StreamClose;
    def.zerror_file = StreamError;
    def.opaque = nullptr;
    return def;
}

// Reading goes through this stream instead: the archive may be kept as several files (a download
// in byte ranges) read as one, and a seek to where the stream already is costs nothing (minizip
// seeks before every block it reads).
struct PartsStream
{
    struct Part
    {
        std::unique_ptr<char[]> buffer; // before the file: the file is closed first
        kr::os::UniqueFile file;
        uint64_t start = 0;
        uint64_t size = 0;
        uint64_t filePos = 0; // where the file's own position is, within the part
    };
    std::vector<Part> parts;
    uint64_t total = 0;
    uint64_t pos = 0;
    bool failed = false;
};

voidpf ZCALLBACK PartsOpen(voidpf opaque, const void* filename, int mode)
{
    const auto* paths = static_cast<const std::vector<std::string>*>(opaque);
    if (!filename || !paths || paths->empty() ||
        (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    std::unique_ptr<PartsStream> stream(new PartsStream);
    for (const std::string& path : *paths)
    {
        PartsStream::Part part;
        if (kr::os::IsDirectory(path) || !kr::os::GetFileSize(path, &part.size))
            return nullptr;
        part.file = kr::os::OpenUniqueFile(path, "rb");
        if (!part.file)
            return nullptr;
        part.buffer.reset(new char[kStreamBufferSize]);
        std::setvbuf(part.file.get(), part.buffer.get(), _IOFBF, kStreamBufferSize);
        part.start = stream->total;
        stream->total += part.size;
        stream->parts.push_back(std::move(part));
    }
    return stream.release();
}

uLong ZCALLBACK PartsRead(voidpf, voidpf handle, void* buf, uLong size)
{
    auto* stream = static_cast<PartsStream*>(handle);
    char* out = static_cast<char*>(buf);
    uLong done = 0;
    for (PartsStream::Part& part : stream->parts)
    {
        if (done == size || stream->pos >= stream->total)
            break;
        if (stream->pos >= part.start + part.size)
            continue;
        uint64_t at = stream->pos - part.start;
        if (part.filePos != at)
        {
            if (kr::os::SeekFile64(part.file.get(), static_cast<int64_t>(at), SEEK_SET) != 0)
            {
                stream->failed = true;
                break;
            }
            part.filePos = at;
        }
        uint64_t want = std::min<uint64_t>(size - done, part.size - at);
        size_t got = std::fread(out + done, 1, static_cast<size_t>(want), part.file.get());
        part.filePos += got;
        stream->pos += got;
        done += static_cast<uLong>(got);
        if (got < want)
        {
            // A part shorter than when it was opened cannot be read as the archive it was.
            stream->failed = true;
            break;
        }
    }
    return done;
}

ZPOS64_T ZCALLBACK PartsTell(voidpf, voidpf handle)
{
    return static_cast<PartsStream*>(handle)->pos;
}

long ZCALLBACK PartsSeek(voidpf, voidpf handle, ZPOS64_T offset, int origin)
{
    auto* stream = static_cast<PartsStream*>(handle);
    uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = stream->pos;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = stream->total;
    else if (origin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    if (offset > stream->total - base)
        return -1;
    stream->pos = base + offset;
    return 0;
}

int ZCALLBACK PartsClose(voidpf, voidpf handle)
{
    delete static_cast<PartsStream*>(handle);
    return 0;
}

int ZCALLBACK PartsError(voidpf, voidpf handle)
{
    return static_cast<PartsStream*>(handle)->failed ? 1 : 0;
}

zlib_filefunc64_def PartsFunctions(const std::vector<std::string>* parts)
{
    zlib_filefunc64_def def;
    def.zopen64_file = PartsOpen;
    def.zread_file = PartsRead;
    def.zwrite_file = nullptr;
    def.ztell64_file = PartsTell;
    def.zseek64_file = PartsSeek;
    def.zclose_file = PartsClose;
    def.zerror_file = PartsError;
    def.opaque = const_cast<std::vector<std::string>*>(parts);
    return def;
}

// ---- entry rules ----

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool IsDosHost(unsigned host)
{
    return host == 0 || host == 7 || host == 11 || host == 14;
}

// A component Windows would read as "." or ".." (it drops trailing dots and spaces).
bool IsDotComponent(const std::string& component)
{
    if (component == ".")
        return false;
    size_t end = component.find_last_not_of(". ");
    return end == std::string::npos;
}

// "a\\b/c/" -> "a\\b\\c": the product's form of a relative directory, as the cache key.
std::string DirectoryKey(const std::string& relative)
{
    std::string key = NormalizePath(relative);
    while (!key.empty() && key.back() == '\\')
        key.pop_back();
    return key;
}

class DirectoryMaker
{
public:
    DirectoryMaker(const std::string& base, CKrZipFile::ExtractStats& stats) : m_base(base), m_stats(stats) {}

    // Creates base + relative with every missing level; each directory is created once per
    // extraction.
    bool Ensure(const std::string& relative)
    {
        std::string key = DirectoryKey(relative);
        if (key.empty() || m_done.count(key))
            return true;
        if (!kr::os::MakeDirectories(m_base + key))
            return false;
        m_done.insert(key);
        ++m_stats.directoriesCreated;
        return true;
    }

private:
    std::string m_base;
    CKrZipFile::ExtractStats& m_stats;
    std::set<std::string> m_done;
};

struct EntryInfo
{
    std::string name;
    unz_file_info64 info;
};

bool ReadEntryInfo(unzFile reader, std::vector<char>& nameBuffer, EntryInfo& entry)
{
    // The whole name (its length field is 16 bits): a cut name would write a different file.
    if (unzGetCurrentFileInfo64(reader, &entry.info, nameBuffer.data(), static_cast<uLong>(nameBuffer.size() - 1),
                                nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    nameBuffer[std::min<size_t>(entry.info.size_filename, nameBuffer.size() - 1)] = 0;
    entry.name.assign(nameBuffer.data());
    return true;
}

// minizip refuses an archive without entries; such an archive is just its end record (with an
// optional comment) and is valid: it extracts to nothing.
bool IsEmptyArchive(const std::string& path)
{
    uint64_t size = 0;
    if (!kr::os::GetFileSize(path, &size) || size < 22 || size > 22 + 0xFFFF)
        return false;
    std::FILE* file = kr::os::OpenFile(path, "rb");
    if (!file)
        return false;
    unsigned char record[22];
    bool read = std::fread(record, 1, sizeof record, file) == sizeof record;
    std::fclose(file);
    auto u16 = [&](int at) { return static_cast<unsigned>(record[at] | (record[at + 1] << 8)); };
    return read && std::memcmp(record, "PK\x05\x06", 4) == 0 && u16(8) == 0 && u16(10) == 0 &&
           u16(20) == size - 22;
}

} // namespace

CKrZipFile::CKrZipFile() = default;

CKrZipFile::~CKrZipFile()
{
    Close();
}

bool CKrZipFile::Open(const std::string& path)
{
    return Open(path, true, nullptr, false);
}

bool CKrZipFile::Open(const std::string& path, bool forReading, const char* password, bool appendIfExists)
{
    Close();
    m_hasPassword = password != nullptr;
    m_password = password ? password : "";
    m_path = path;
    if (forReading)
        return OpenReader({path});
    zlib_filefunc64_def functions = StreamFunctions();
    int mode = appendIfExists && FileExists(path) ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE;
    m_writer = zipOpen2_64(path.c_str(), mode, nullptr, &functions);
    return m_writer != nullptr;
}

bool CKrZipFile::OpenParts(const std::vector<std::string>& parts)
{
    Close();
    m_hasPassword = false;
    m_password.clear();
    m_path = parts.empty() ? std::string() : parts.front();
    return OpenReader(parts);
}

bool CKrZipFile::OpenReader(const std::vector<std::string>& parts)
{
    zlib_filefunc64_def functions = PartsFunctions(&parts);
    unzFile reader = parts.empty() ? nullptr : unzOpen2_64(parts.front().c_str(), &functions);
    if (!reader)
    {
        m_emptyArchive = parts.size() == 1 && IsEmptyArchive(parts.front());
        return m_emptyArchive;
    }
    unz_global_info64 global;
    if (unzGetGlobalInfo64(reader, &global) != UNZ_OK)
    {
        unzClose(reader);
        return false;
    }
    m_reader = reader;
    return true;
}

int CKrZipFile::Close()
{
    if (m_reader)
        unzClose(static_cast<unzFile>(m_reader));
    if (m_writer)
        zipClose(static_cast<zipFile>(m_writer), nullptr);
    m_reader = nullptr;
    m_writer = nullptr;
    m_emptyArchive = false;
    return 1;
}

bool CKrZipFile::IsSafeEntryName(const std::string& name)
{
    if (name.empty() || IsSeparator(name[0]))
        return false;
    for (char c : name)
        if (c == ':' || static_cast<unsigned char>(c) < 0x20)
            return false;
    size_t start = 0;
    while (start <= name.size())
    {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        std::string component = name.substr(start, end - start);
        if (!component.empty() && IsDotComponent(component))
            return false;
        start = end + 1;
    }
    return true;
}

bool CKrZipFile::ExtractAll()
{
    bool saved = m_replaceBackslashes;
    m_replaceBackslashes = true;
    bool ok = ExtractAll(nullptr, true);
    m_replaceBackslashes = saved;
    return ok;
}

bool CKrZipFile::ForEachEntryName(const std::function<void(const std::string& name)>& visit)
{
    uint64_t count = 0;
    if (!CountEntries(&count))
        return false;
    if (count == 0)
        return true;
    unzFile reader = static_cast<unzFile>(m_reader);
    std::vector<char> nameBuffer(65536 + 1);
    EntryInfo entry;
    if (unzGoToFirstFile(reader) != UNZ_OK)
        return false;
    for (uint64_t i = 0; i < count; ++i)
    {
        if (!ReadEntryInfo(reader, nameBuffer, entry))
            return false;
        visit(entry.name);
        if (i + 1 < count && unzGoToNextFile(reader) != UNZ_OK)
            return false;
    }
    return true;
}

bool CKrZipFile::CountEntries(uint64_t* count)
{
    *count = 0;
    if (m_emptyArchive)
        return true;
    unz_global_info64 global;
    if (!m_reader || unzGetGlobalInfo64(static_cast<unzFile>(m_reader), &global) != UNZ_OK)
        return false;
    *count = global.number_entry;
    return true;
}

bool CKrZipFile::ExtractAll(const char* destDir, bool createDirectories)
{
    m_stats = ExtractStats();
    m_stopped = false;
    m_written.clear();
    uint64_t count = 0;
    if (!CountEntries(&count))
        return false;
    if (count == 0)
        return true;
    unzFile reader = static_cast<unzFile>(m_reader);

    std::string base = destDir && *destDir ? std::string(destDir) : GetDirectoryPart(m_path);
    if (base.empty() || !IsSeparator(base.back()))
        base += '\\';

    // The target itself may not exist yet (a zip extracted from a staging folder).
    if (createDirectories && !kr::os::IsDirectory(base))
        kr::os::MakeDirectories(base);
    DirectoryMaker directories(base, m_stats);
    std::vector<char> nameBuffer(65536 + 1);
    EntryInfo entry;
    bool ok = true;

    auto isDirectoryEntry = [](const EntryInfo& e) {
        unsigned host = static_cast<unsigned>(e.info.version >> 8);
        bool dir = IsDosHost(host) ? (e.info.external_fa & 0x10) != 0 : (e.info.external_fa & kUnixDirectoryBit) != 0;
        return dir || (!e.name.empty() && IsSeparator(e.name.back()));
    };

    // Pass 1: the archive's directories, parents before children whatever the entry order.
    if (createDirectories)
    {
        if (unzGoToFirstFile(reader) != UNZ_OK)
            return false;
        for (uint64_t i = 0; i < count; ++i)
        {
            if (!ReadEntryInfo(reader, nameBuffer, entry))
                return false;
            // Unsafe names are counted once, by pass 2.
            if (isDirectoryEntry(entry) && IsSafeEntryName(entry.name) && !directories.Ensure(entry.name))
                ok = false;
            if (i + 1 < count && unzGoToNextFile(reader) != UNZ_OK)
            {
                // The directory ends before the count it announced: the archive is damaged.
                m_stats.damaged = true;
                return false;
            }
        }
    }

    // Pass 2: the files.
    if (unzGoToFirstFile(reader) != UNZ_OK)
        return false;
    std::unique_ptr<char[]> buffer(new char[kCopyBufferSize]);
    const char* password = m_hasPassword ? m_password.c_str() : nullptr;
    for (uint64_t i = 0; i < count; ++i)
    {
        if (!ReadEntryInfo(reader, nameBuffer, entry))
        {
            m_stats.damaged = true;
            return false;
        }
        if (m_replaceBackslashes)
            std::replace(entry.name.begin(), entry.name.end(), '\\', '/');

        unsigned host = static_cast<unsigned>(entry.info.version >> 8);
        bool isDirectory = isDirectoryEntry(entry);
        bool isFile = !isDirectory && (!IsDosHost(host) || (entry.info.external_fa & 0x20) != 0);

        if (!IsSafeEntryName(entry.name))
        {
            ++m_stats.entriesRefused;
            ok = false;
        }
        else if (isDirectory)
        {
            if (createDirectories && !directories.Ensure(entry.name))
                ok = false;
        }
        else if (!isFile)
        {
            ++m_stats.entriesSkipped;
        }
        else
        {
            size_t slash = entry.name.find_last_of("/\\");
            if (createDirectories && slash != std::string::npos && !directories.Ensure(entry.name.substr(0, slash)))
                ok = false;

            // Only encrypted entries get the password: minizip builds without decryption refuse
            // any password, also for plain entries.
            const char* entryPassword = (entry.info.flag & 1) ? password : nullptr;
            if (unzOpenCurrentFilePassword(reader, entryPassword) != UNZ_OK)
            {
                m_stats.damaged = true;
                return false;
            }
            std::string target = base + entry.name;
            CKrFileWriter out;
            if (!out.Create(target))
            {
                // Reported, not silent: the file on disk is not what the archive holds.
                ++m_stats.entriesRefused;
                ok = false;
                unzCloseCurrentFile(reader);
            }
            else
            {
                bool failed = false;
                bool readError = false;
                uint64_t written = 0;
                for (;;)
                {
                    if (m_running && !m_running->load(std::memory_order_acquire))
                    {
                        m_stopped = true;
                        failed = true;
                        break;
                    }
                    int n = unzReadCurrentFile(reader, buffer.get(), static_cast<unsigned>(kCopyBufferSize));
                    if (n == 0)
                        break;
                    if (n < 0)
                    {
                        readError = true;
                        failed = true;
                        break;
                    }
                    if (!out.Write(buffer.get(), static_cast<size_t>(n)))
                    {
                        failed = true;
                        break;
                    }
                    written += static_cast<uint64_t>(n);
                }
                if (!out.Close())
                    failed = true;
                // The CRC is checked here, after the last read.
                if (unzCloseCurrentFile(reader) != UNZ_OK && !m_stopped)
                {
                    readError = true;
                    failed = true;
                }
                if (failed)
                {
                    // Never leave a damaged file that could pass for an installed one.
                    kr::os::RemoveFile(target);
                    m_stats.damaged = m_stats.damaged || readError;
                    if (!readError && !m_stopped)
                        ++m_stats.entriesRefused; // the disk refused the bytes (full, locked)
                    return false;
                }
                SetFileTimeFromDos(target, static_cast<uint32_t>(entry.info.dosDate), m_timesAreLocal);
                ++m_stats.filesWritten;
                m_stats.bytesWritten += written;
                if (m_recordWritten)
                    m_written.push_back(target);
            }
        }
        if (i + 1 < count && unzGoToNextFile(reader) != UNZ_OK)
        {
            // The directory ends before the count it announced: the entries after the damage are
            // missing, so the archive must not count as extracted.
            m_stats.damaged = true;
            return false;
        }
        if (m_running && !m_running->load(std::memory_order_acquire))
        {
            m_stopped = true;
            return false;
        }
    }
    return ok;
}

uint32_t CKrZipFile::GetZipEntryCrc(const std::string& zipPath, const std::string& entryName)
{
    const std::vector<std::string> parts{zipPath};
    zlib_filefunc64_def functions = PartsFunctions(&parts);
    unzFile reader = unzOpen2_64(zipPath.c_str(), &functions);
    if (!reader)
        return 0;
    uint32_t crc = 0;
    unz_file_info64 info;
    // Case sensitivity 2: names compared without regard to case.
    if (unzLocateFile(reader, entryName.c_str(), 2) == UNZ_OK &&
        unzGetCurrentFileInfo64(reader, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK)
        crc = static_cast<uint32_t>(info.crc);
    unzClose(reader);
    return crc;
}

bool CKrZipFile::BeginEntry(const std::string& entryName, uint32_t dosDateTime, uint32_t attributes, int level,
                            bool large)
{
    if (!m_writer || entryName.empty())
        return false;
    zip_fileinfo info;
    std::memset(&info, 0, sizeof info);
    info.dosDate = dosDateTime;
    info.external_fa = attributes;
    int method = level == 0 ? 0 : Z_DEFLATED;
    return zipOpenNewFileInZip4_64(static_cast<zipFile>(m_writer), entryName.c_str(), &info, nullptr, 0, nullptr, 0,
                                   nullptr, method, level, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                   nullptr, 0, kVersionMadeByDos, 0, large ? 1 : 0) == ZIP_OK;
}

bool CKrZipFile::AddDirectory(const std::string& entryName, uint32_t dosDateTime)
{
    std::string name = entryName;
    if (name.empty() || name.back() != '/')
        name += '/';
    if (!BeginEntry(name, dosDateTime, 0x10, 0, false))
        return false;
    return zipCloseFileInZip(static_cast<zipFile>(m_writer)) == ZIP_OK;
}

bool CKrZipFile::AddFileFromMemory(const std::string& entryName, const void* data, uint64_t size,
                                   uint32_t dosDateTime, int level)
{
    if (!BeginEntry(entryName, dosDateTime, 0x20, level, size >= 0xFFFFFFFFull))
        return false;
    zipFile writer = static_cast<zipFile>(m_writer);
    const char* bytes = static_cast<const char*>(data);
    bool ok = true;
    while (ok && size > 0)
    {
        unsigned chunk = static_cast<unsigned>(std::min<uint64_t>(size, kCopyBufferSize));
        ok = zipWriteInFileInZip(writer, bytes, chunk) == ZIP_OK;
        bytes += chunk;
        size -= chunk;
    }
    return zipCloseFileInZip(writer) == ZIP_OK && ok;
}

bool CKrZipFile::AddFileFromDisk(const std::string& entryName, const std::string& sourcePath,
                                 uint32_t dosDateTime, int level)
{
    uint64_t size = 0;
    if (!m_writer || !kr::os::GetFileSize(sourcePath, &size))
        return false;
    std::FILE* in = kr::os::OpenFile(sourcePath, "rb");
    if (!in)
        return false;
    bool ok = BeginEntry(entryName, dosDateTime, 0x20, level, size >= 0xFFFFFFFFull);
    if (ok)
    {
        zipFile writer = static_cast<zipFile>(m_writer);
        std::unique_ptr<char[]> buffer(new char[kCopyBufferSize]);
        for (;;)
        {
            size_t n = std::fread(buffer.get(), 1, kCopyBufferSize, in);
            if (n == 0)
            {
                ok = ok && !std::ferror(in);
                break;
            }
            if (zipWriteInFileInZip(writer, buffer.get(), static_cast<unsigned>(n)) != ZIP_OK)
            {
                ok = false;
                break;
            }
        }
        ok = zipCloseFileInZip(writer) == ZIP_OK && ok;
    }
    std::fclose(in);
    return ok;
}
