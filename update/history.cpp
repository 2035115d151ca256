#include "update/history.h"

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#else
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "platform/state_directory.h"

namespace varnel {

namespace {

#ifdef _WIN32
struct File {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~File() {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
};

std::string Why(const std::filesystem::path& path, const char* what) {
    return path.string() + ": " + what + ": Windows error " + std::to_string(::GetLastError());
}
#else
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

std::string Why(const std::filesystem::path& path, const char* what) {
    return path.string() + ": " + what + ": " + std::strerror(errno);
}
#endif

}  // namespace

std::filesystem::path DefaultHistoryPath() { return StateDirectory() / "history.jsonl"; }

bool AppendHistoryLine(const std::filesystem::path& path, const Json& record, std::string* error) {
    std::error_code ec;
    if (!path.parent_path().empty()) std::filesystem::create_directories(path.parent_path(), ec);
#ifdef _WIN32
    // The same on Windows: appended in one write, a torn last line closed.
    File file{::CreateFileA(path.string().c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE) {
        if (error) *error = Why(path, "cannot open");
        return false;
    }
    std::string line = record.dump() + "\n";
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.handle, &size) && size.QuadPart > 0) {
        LARGE_INTEGER at{};
        at.QuadPart = size.QuadPart - 1;
        char last = '\n';
        DWORD got = 0;
        if (::SetFilePointerEx(file.handle, at, nullptr, FILE_BEGIN) && ::ReadFile(file.handle, &last, 1, &got, nullptr) &&
            got == 1 && last != '\n')
            line.insert(0, "\n");
    }
    DWORD written = 0;
    if (!::WriteFile(file.handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        if (error) *error = Why(path, "cannot write");
        return false;
    }
    if (!::FlushFileBuffers(file.handle)) {
        if (error) *error = Why(path, "cannot sync");
        return false;
    }
    return true;
#else
    Fd file{::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644)};
    if (file.fd < 0) {
        if (error) *error = Why(path, "cannot open");
        return false;
    }
    std::string line = record.dump() + "\n";
    // A torn last line (no line end) is closed, in the same write.
    const off_t size = ::lseek(file.fd, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && ::pread(file.fd, &last, 1, size - 1) == 1 && last != '\n') line.insert(0, "\n");
    const ssize_t written = ::write(file.fd, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) {
        if (error) *error = written < 0 ? Why(path, "cannot write") : path.string() + ": the line was written only in part";
        return false;
    }
    if (::fsync(file.fd) != 0) {
        if (error) *error = Why(path, "cannot sync");
        return false;
    }
    return true;
#endif
}

bool ReadHistory(const std::filesystem::path& path, History& history, std::string* error) {
    history = {};
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return true;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = Why(path, "cannot read");
        return false;
    }
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (line.empty()) continue;
        Json record = Json::parse(line, nullptr, false);
        if (record.is_discarded() || !record.is_object()) {
            history.warnings.push_back(path.string() + ": line " + std::to_string(number) +
                                       " is damaged (a run cut off while it was written?) and was skipped");
            continue;
        }
        history.records.push_back(std::move(record));
    }
    if (in.bad()) {
        if (error) *error = Why(path, "cannot read");
        return false;
    }
    return true;
}

std::optional<std::string> FileSha256(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
#ifdef _WIN32
    // The system's CryptoAPI on Windows.
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return std::nullopt;
    const std::unique_ptr<void, void (*)(void*)> providerGuard(
        reinterpret_cast<void*>(provider), [](void* p) { ::CryptReleaseContext(reinterpret_cast<HCRYPTPROV>(p), 0); });
    HCRYPTHASH hash = 0;
    if (!::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) return std::nullopt;
    const std::unique_ptr<void, void (*)(void*)> hashGuard(
        reinterpret_cast<void*>(hash), [](void* h) { ::CryptDestroyHash(reinterpret_cast<HCRYPTHASH>(h)); });
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        if (!::CryptHashData(hash, reinterpret_cast<const BYTE*>(buffer), static_cast<DWORD>(in.gcount()), 0))
            return std::nullopt;
        if (in.eof()) break;
    }
    if (in.bad()) return std::nullopt;
    unsigned char digest[32];
    DWORD length = sizeof digest;
    if (!::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) return std::nullopt;
#else
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        if (EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(in.gcount())) != 1) return std::nullopt;
        if (in.eof()) break;
    }
    if (in.bad()) return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
#endif
    static const char* const kDigits = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 15];
    }
    return text;
}

}  // namespace varnel
