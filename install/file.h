#pragma once
// Binary reader/writer over one handle of a CKrIOInterface.
#include <cstddef>
#include <cstdint>
#include <string>

class CKrIOInterface;

class CKrFile
{
public:
    CKrFile();
    virtual ~CKrFile();
    CKrFile(const CKrFile&) = delete;
    CKrFile& operator=(const CKrFile&) = delete;

    // Write mode when the mode text contains "w" or "a". Closes a handle that is still open.
    bool Open(const std::string& path, const char* mode);
    // Reads the whole file through the current interface into one memory block and switches to
    // the shared memory interface until Close. False when the file does not open or cannot be read whole.
    bool LoadToMemory(const std::string& path);
    // io->Close's result, or 0 when nothing was open.
    int Close();

    bool IsOpen() const { return m_handle != nullptr; }
    bool IsWriteMode() const { return m_writeMode; }
    const std::string& GetFileName() const { return m_fileName; }
    void* GetHandle() const { return m_handle; }
    CKrIOInterface* GetIOInterface() const { return m_io; }
    // Not owned; null restores the shared CKrIOInterfaceC. Only while closed.
    void SetIOInterface(CKrIOInterface* io);

    void SetByteSwap(bool on) { m_byteSwap = on; }
    void SetAlign4(bool on) { m_align4 = on; }
    void SetScramble(bool on) { m_scramble = on; }

    // Reading or writing by the mode of Open. All return true only when every byte moved, so a
    // truncated file is noticed by the caller.
    bool SerializeInt32(int32_t* values, int n = 1);
    bool SerializeInt32(uint32_t* values, int n = 1);
    bool SerializeBytes(void* buffer, int n);
    // Length word (key in its top byte when scrambled), then the bytes. Reading needs room for the
    // stored length plus the terminating zero: a longer stored string is refused (false, nothing
    // written to `buffer` beyond an empty string). Writing leaves `buffer` unchanged.
    bool SerializeString(char* buffer, size_t bufferSize);
    // Reading refuses stored lengths above `maxLength`.
    bool SerializeString(std::string& text, size_t maxLength = 0xFFFFFF);

    // Plain pass-through to the interface; 0 / false when closed.
    int Read(void* buffer, int elementSize, int count);
    int Write(const void* buffer, int elementSize, int count);
    int Tell();
    int Seek(int offset, int origin);
    bool IsEof();
    int GetSize();

private:
    bool ReadString(std::string& text, size_t maxLength);
    bool WriteString(const char* text, size_t length);
    bool WritePadding(size_t length);

    bool m_writeMode = false;
    bool m_byteSwap = false;
    bool m_align4 = false;
    bool m_scramble = false;
    void* m_handle = nullptr;
    CKrIOInterface* m_io;
    CKrIOInterface* m_ioBeforeLoad = nullptr;
    std::string m_fileName;
};
