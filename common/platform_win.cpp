// Windows side of the platform layer.
#include "platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>
#include <sddl.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace quilora::platform {

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h && h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct LocalFreer {
    void operator()(void* p) const { ::LocalFree(p); }
};

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(const wchar_t* wide, int length) {
    if (length <= 0)
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, length, out.data(), n, nullptr, nullptr);
    return out;
}

// "D:P(A;;FA;;;<user>)": full access for the user this process runs as, and no
// one else; P keeps the folder's inherited entries out.
std::wstring OwnerOnlySddl() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
        return {};
    const Handle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(raw, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(raw, TokenUser, buffer.data(), size, &size))
        return {};
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    wchar_t* sid = nullptr;
    if (!::ConvertSidToStringSidW(user->User.Sid, &sid))
        return {};
    const std::unique_ptr<wchar_t, LocalFreer> owned(sid);
    return L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
}

bool WriteAll(HANDLE file, std::string_view text) {
    while (!text.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0)
            return false;
        text.remove_prefix(written);
    }
    return true;
}

} // namespace

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(Widen(utf8));
}

bool ReplaceFilePrivately(const std::filesystem::path& target, std::string_view text) {
    const std::wstring name = target.wstring();
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    // MoveFileEx would replace a read-only file only after its attribute is taken off.
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return false;

    const std::wstring sddl = OwnerOnlySddl();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sddl.empty() || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                                &descriptor, nullptr))
        return false;
    const std::unique_ptr<void, LocalFreer> ownedDescriptor(descriptor);
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};

    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = L".";
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path temp =
            folder / (L"." + target.filename().wstring() + L"." + std::to_wstring(::GetCurrentProcessId()) +
                      L"-" + std::to_wstring(serial++));
        // CREATE_NEW: never a file that was there before. No sharing while it is written.
        Handle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) {
            file.release();
            if (::GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return false;
        }
        const bool written = WriteAll(file.get(), text) && ::FlushFileBuffers(file.get());
        file.reset();
        if (written &&
            ::MoveFileExW(temp.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return false;
}

long CurrentProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

bool ProcessHasEnded(long pid) {
    if (pid <= 0)
        return true;
    Handle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    if (!process)
        return ::GetLastError() == ERROR_INVALID_PARAMETER; // no such process
    return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

bool IsTerminal(std::FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

void UseUtf8Console() {
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
}

std::vector<std::string> OdbcDriverNames() {
    std::vector<std::string> names;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(::SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return names;
    ::SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLWCHAR description[512];
    SQLWCHAR attributes[2048];
    SQLSMALLINT descriptionLength = 0, attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(::SQLDriversW(env, direction, description, 512, &descriptionLength, attributes, 2048,
                                       &attributesLength))) {
        names.push_back(Narrow(reinterpret_cast<const wchar_t*>(description), descriptionLength));
        direction = SQL_FETCH_NEXT;
    }
    ::SQLFreeHandle(SQL_HANDLE_ENV, env);
    return names;
}

} // namespace quilora::platform
