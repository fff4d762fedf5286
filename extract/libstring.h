// The extraction library's error word, its reference-counted strings, a list
// of conversion buffers freed together and two allocating conversions.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// ---- Error word and throw flag (the calling thread's own) ---------------------
//
// The int-result convention of the byte devices (extract/io/) and the HWP
// record reader: a failure sets the word and returns a failure value; while
// the throw flag is set (the HWP managers set it for their conversion) it is
// thrown instead, as a ReadError (extract/readerror.h) of reason
// LibraryError carrying the word. Nothing else is thrown for it.

constexpr int kLibErrorNone = 0;
constexpr int kLibErrorOutOfMemory = 2;
constexpr int kLibErrorUnexpectedRecord = 6;

int GetLibraryError();
int SetLibraryError(int code);
void ClearLibraryError();
// The error word and the throw flag are the calling thread's own.
// Sets the throw flag and returns its previous value.
int SetThrowOnError(int flag);
// Throws the error word as a ReadError while the throw flag is set.
void RaiseLibraryError();

// Formats into a caller's buffer of bufferChars characters (terminator
// included), Windows rules (%s wide). Returns the length, or -1 when the text
// did not fit (the buffer then holds as much as fits, terminated).
int FormatWide(char16_t* buffer, size_t bufferChars, const char16_t* format, ...);

// ---- Reference-counted strings -----------------------------------------------

// A wide string of one pointer to its text; in front of the text lies a header
// of reference count, length and capacity (characters, terminator excluded).
// Every empty string shares one static block (reference count -2). Operations
// that allocate return 0 and set the error word to 2 when the allocation
// fails, 1 otherwise.
class CRefString {
public:
    CRefString();
    CRefString(const char16_t* text);
    CRefString(const CRefString& other);
    CRefString& operator=(const CRefString& other);
    ~CRefString();

    const char16_t* GetString() const { return m_pchData; }
    operator const char16_t*() const { return m_pchData; }
    int GetLength() const;
    int GetCapacity() const;
    int GetRefCount() const;
    bool IsEmpty() const { return GetLength() == 0; }
    bool IsSharedEmpty() const;

    void Release();
    int AllocBuffer(int n);
    int CopyBeforeWrite();
    int AllocBeforeWrite(int n);
    int AssignCopy(int n, const char16_t* text);
    int AssignText(const char16_t* text);
    int AssignChar(char16_t c);
    int Assign(const CRefString& other);
    int ConcatCopy(int n1, const char16_t* t1, int n2, const char16_t* t2);
    int Append(int n, const char16_t* text);
    int AppendText(const char16_t* text);
    int AppendChar(char16_t c);
    char16_t* GetBuffer(int n);
    char16_t* ShiftToEnd(int n);
    void ReleaseBuffer(int length = -1);
    void SetAt(int index, char16_t c);
    int Find(char16_t c) const;
    int FindText(const char16_t* text) const;
    int CopyLeft(CRefString& destination, int n) const;
    int Replace(char16_t oldChar, char16_t newChar);
    int ReplaceText(const char16_t* oldText, const char16_t* newText);
    void TrimRight();
    void TrimLeft();
    void Empty();
    int FormatV(const char16_t* format, va_list args);
    int Format(const char16_t* format, ...);

private:
    char16_t* m_pchData;
};

// The narrow twin: construction, allocation and assignment.
class CRefStringA {
public:
    CRefStringA();
    CRefStringA(const CRefStringA&) = delete;
    CRefStringA& operator=(const CRefStringA&) = delete;
    ~CRefStringA();

    const char* GetString() const { return m_pchData; }
    int GetLength() const;
    int GetCapacity() const;
    bool IsSharedEmpty() const;

    void Release();
    int AllocBuffer(int n);
    int AllocBeforeWrite(int n);
    int AssignText(const char* text);

private:
    char* m_pchData;
};

// ---- Conversion buffers --------------------------------------------------------

// Heap buffers (malloc) that one piece of code frees together. Two inline
// slots; from the third buffer on the slots move to a heap array.
struct CConvBuffers {
    int count = 0;
    void** slots = inlineSlots;
    void* inlineSlots[2] = {nullptr, nullptr};

    CConvBuffers() = default;
    CConvBuffers(const CConvBuffers&) = delete;
    CConvBuffers& operator=(const CConvBuffers&) = delete;
    ~CConvBuffers() { FreeAll(); }

    // Keeps the pointer and returns it. When the slot array cannot grow, the
    // buffer is freed at once, the error word set to 2 and null returned.
    void* Add(void* p);
    // Frees every buffer and the heap slot array; the list is empty again.
    void FreeAll();
};

// Allocating conversions; the results belong to the buffer list. Null for a
// null text or a failed allocation.
char16_t* MultiByteToWideAlloc(unsigned codePage, const char* text, CConvBuffers& buffers);
char* WideToMultiByteAlloc(unsigned codePage, const char16_t* text, CConvBuffers& buffers);
