#pragma once
#include "install/io_interface.h"

#include <map>
#include <string>
#include <vector>

// Entries of one package file, read through an inner interface. Names are looked up lower-cased
// (Open and OpenNew also turn "/" into "\\"). Reads are clamped to the entry: a read never
// returns bytes that lie after the entry's end.
class CKrIOInterfacePak : public CKrIOInterface
{
public:
    struct Entry
    {
        int offset = 0;
        int size = 0;
    };

    // `inner` is not owned; null means the shared CKrIOInterfaceC.
    CKrIOInterfacePak(CKrIOInterface* inner, const std::string& packagePath);
    ~CKrIOInterfacePak() override;
    CKrIOInterfacePak(const CKrIOInterfacePak&) = delete;
    CKrIOInterfacePak& operator=(const CKrIOInterfacePak&) = delete;

    // Fills the entry table. `name` is stored as given ("/" and "\\" kept, case kept); false when
    // the entry is negative in offset or size or the name is already present.
    bool AddEntry(const std::string& name, int offset, int size);
    const std::string& GetPackagePath() const { return m_packagePath; }

    // Mode beginning with "w": opens `path` itself through the inner interface for writing.
    // Otherwise the entry `path` of the package, positioned at its start; null for unknown names.
    void* Open(const std::string& path, const char* mode) override;
    void* OpenNew(const std::string& path, const char* mode) override;
    // Closes an owned inner handle, or keeps a borrowed one as the spare handle.
    int Close(void* handle) override;
    int Read(void* buffer, int elementSize, int count, void* handle) override;
    int Write(const void* buffer, int elementSize, int count, void* handle) override;
    int Tell(void* handle) override;
    int Seek(void* handle, int offset, int origin) override;
    bool IsEof(void* handle) override;
    int GetSize(void* handle) override;
    // -1 for unknown names.
    int GetEntrySize(const std::string& name) override;
    int GetEntryOffset(const std::string& name) override;
    int GetHandleOffset(void* handle) override;

private:
    struct PakHandle;
    const Entry* Find(const std::string& key) const;
    void* OpenEntry(const std::string& path, bool forceNew);

    CKrIOInterface* m_inner;
    std::string m_packagePath;
    void* m_spare = nullptr;
    std::vector<Entry> m_entries;
    std::map<std::string, size_t> m_index; // lower-cased name -> entry
};
