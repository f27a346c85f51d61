#include "book/book_settings.h"

#include <filesystem>
#include <fstream>

#include "common/platform.h"
#include "common/profile.h"
#include "common/settings.h"

namespace quilora::book {

std::string ReadPasswordFile(const std::string& path) {
    std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
    if (!in)
        throw UsageError("无法读取密码文件 " + path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

BookSettings ReadBookSettings(const std::string& configPath, const std::optional<std::string>& passwordFile) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(platform::PathFromUtf8(configPath), ec))
        throw UsageError("找不到配置文件 " + configPath);
    const ProfileFile profile(configPath);
    BookSettings s;
    s.configPath = configPath;
    s.connect = ReadConnect(profile);
    s.hosts = ReadPortalHosts(profile);
    s.cardNo = ReadCardNo(profile);
    if (s.cardNo.empty())
        throw UsageError("配置文件 " + configPath + " 中没有卡号（CardNo）");
    s.password = passwordFile ? ReadPasswordFile(*passwordFile) : ReadPassword(profile);
    if (s.password.empty())
        throw UsageError(passwordFile ? "密码文件 " + *passwordFile + " 的第一行是空的"
                                      : "没有密码：配置文件中没有 Passwd，也没有给出 --password-file");
    return s;
}

} // namespace quilora::book
