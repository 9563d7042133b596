#pragma once
// Move-only owners of Win32 handles; none of them can be copied, so none closes twice.

#include <windows.h>
#include <objbase.h>

#include <utility>

template <typename Traits>
class ScopedHandle {
public:
    using Type = typename Traits::Type;

    ScopedHandle() = default;
    explicit ScopedHandle(Type value) : value_(value) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : value_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~ScopedHandle() { Reset(); }

    Type Get() const { return value_; }
    bool IsValid() const { return value_ != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }

    Type Release()
    {
        Type value = value_;
        value_ = Traits::Invalid();
        return value;
    }

    void Reset(Type value = Traits::Invalid())
    {
        if (IsValid())
            Traits::Close(value_);
        value_ = value;
    }

    // For APIs that return the handle through an out parameter.
    Type* Receive()
    {
        Reset();
        return &value_;
    }

private:
    Type value_ = Traits::Invalid();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};

// CreateFile and friends report failure as INVALID_HANDLE_VALUE rather than null.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};

struct ChangeNotificationTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindCloseChangeNotification(h); }
};

struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::RegCloseKey(h); }
};

using UniqueHandle = ScopedHandle<KernelHandleTraits>;
using UniqueFileHandle = ScopedHandle<FileHandleTraits>;
using UniqueFindHandle = ScopedHandle<FindHandleTraits>;
using UniqueChangeNotification = ScopedHandle<ChangeNotificationTraits>;
using UniqueRegKey = ScopedHandle<RegKeyTraits>;

// The COM apartment of the calling thread, for as long as the object lives.
class ScopedComInit {
public:
    ScopedComInit() : hr_(::CoInitialize(nullptr)) {}
    ScopedComInit(const ScopedComInit&) = delete;
    ScopedComInit& operator=(const ScopedComInit&) = delete;
    ~ScopedComInit()
    {
        if (SUCCEEDED(hr_))
            ::CoUninitialize();
    }
    HRESULT Result() const { return hr_; }
    bool Succeeded() const { return SUCCEEDED(hr_); }

private:
    HRESULT hr_;
};

class CriticalSection {
public:
    CriticalSection() { ::InitializeCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { ::DeleteCriticalSection(&cs_); }
    void Enter() { ::EnterCriticalSection(&cs_); }
    void Leave() { ::LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
    ~CriticalSectionLock() { cs_.Leave(); }

private:
    CriticalSection& cs_;
};

// An SRW lock held exclusively for as long as the object lives. Uncontended, it stays in user mode.
class SrwExclusiveLock {
public:
    explicit SrwExclusiveLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    SrwExclusiveLock(const SrwExclusiveLock&) = delete;
    SrwExclusiveLock& operator=(const SrwExclusiveLock&) = delete;
    ~SrwExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK& lock_;
};
