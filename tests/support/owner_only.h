#pragma once
// Whether a file can be opened by its owner only: mode 0600 on Linux; on
// Windows a DACL whose every entry that lets someone in is for the user running the test.
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <aclapi.h>
#include <memory>
#include <vector>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace quilora::test {

#ifdef _WIN32
inline std::string OwnerOnlyProblem(const std::filesystem::path& file) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (::GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return "no security information";
    const std::unique_ptr<void, decltype(&::LocalFree)> owned(descriptor, &::LocalFree);
    if (!dacl)
        return "no DACL: open to everyone";
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    ::CloseHandle(token);
    const PSID me = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    if (dacl->AceCount == 0)
        return "an empty DACL";
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace))
            return "an unreadable entry";
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        if (!::EqualSid(const_cast<DWORD*>(&allowed->SidStart), me))
            return "an entry for someone else";
    }
    return {};
}
// A path the program holds in UTF-8 (a narrow path means the ANSI code page to Windows).
inline std::string OwnerOnlyProblem(const std::string& utf8) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return OwnerOnlyProblem(std::filesystem::path(wide));
}
#else
inline std::string OwnerOnlyProblem(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return "no such file";
    if ((st.st_mode & 0777) != 0600)
        return "mode " + std::to_string(st.st_mode & 0777) + " (octal digits as decimal), not 0600";
    return {};
}
#endif

} // namespace quilora::test
