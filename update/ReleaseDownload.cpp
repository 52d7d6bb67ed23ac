#include "update/ReleaseDownload.h"

#include "config/SystemErrorText.h"

#include <curl/curl.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace
{
const char* const kUserAgent = "Norvik/2.0";
const char* const kWebProtocols = "http,https";
const char* const kSecureProtocol = "https";
constexpr long kMostRedirects = 10;
constexpr long kFirstErrorStatus = 400;

struct Transfer
{
    std::function<bool(const char*, std::size_t)> write;
    const std::atomic<bool>* cancel = nullptr;
    long long written = 0;
    long long mostBytes = 0;
    bool tooLong = false;
    bool writeFailed = false;
};

size_t Write(char* data, size_t size, size_t count, void* userdata)
{
    auto* transfer = static_cast<Transfer*>(userdata);
    const size_t bytes = size * count;
    if (transfer->written + (long long)bytes > transfer->mostBytes)
    {
        transfer->tooLong = true;
        return 0;
    }
    if (!transfer->write(data, bytes))
    {
        transfer->writeFailed = true;
        return 0;
    }
    transfer->written += (long long)bytes;
    return bytes;
}

int Progress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    // Non-zero aborts the transfer: how quitting or a closed program stops a long download.
    return static_cast<Transfer*>(userdata)->cancel->load() ? 1 : 0;
}

bool Fetch(const std::string& address, Transfer& transfer, const ReleaseDownload::Limits& limits,
           std::string& error)
{
    if (address.rfind("http://", 0) != 0 && address.rfind("https://", 0) != 0)
    {
        error = "\"" + address + "\" is not an http or https address";
        return false;
    }
    CURL* curl = curl_easy_init();
    if (!curl)
    {
        error = "no transfer could be made";
        return false;
    }
    transfer.mostBytes = limits.mostBytes;
    const bool secure = address.rfind("https://", 0) == 0;
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kWebProtocols);
    // The release site sends its files from another host; a secure start stays secure.
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, secure ? kSecureProtocol : kWebProtocols);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMostRedirects);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, long(limits.whole.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(limits.stall.count()));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.mostBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    // An error status ends the transfer before its body is taken for the file.
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    if (result == CURLE_OK && status < kFirstErrorStatus)
        return true;
    if (transfer.cancel->load())
        error = "cancelled";
    else if (transfer.tooLong || result == CURLE_FILESIZE_EXCEEDED)
        error = address + " is larger than " + std::to_string(limits.mostBytes) + " bytes";
    else if (transfer.writeFailed)
        error = "cannot write the download: " + SystemErrorText(errno).utf8_string();
    else if (status >= kFirstErrorStatus)
        error = address + " answered with status " + std::to_string(status);
    else
        error = address + ": " + curl_easy_strerror(result);
    return false;
}
} // namespace

bool ReleaseDownload::ToFile(const std::string& address, int fd, const Limits& limits,
                             const std::atomic<bool>& cancel, std::string& error)
{
    Transfer transfer;
    transfer.cancel = &cancel;
    transfer.write = [fd](const char* data, std::size_t size)
    {
        while (size > 0)
        {
            const ssize_t put = write(fd, data, size);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            data += put;
            size -= std::size_t(put);
        }
        return true;
    };
    return Fetch(address, transfer, limits, error);
}

bool ReleaseDownload::ToText(const std::string& address, std::string& text, const Limits& limits,
                             const std::atomic<bool>& cancel, std::string& error)
{
    text.clear();
    Transfer transfer;
    transfer.cancel = &cancel;
    transfer.write = [&text](const char* data, std::size_t size)
    {
        text.append(data, size);
        return true;
    };
    Limits textLimits = limits;
    textLimits.mostBytes = std::min(limits.mostBytes, kMostTextBytes);
    return Fetch(address, transfer, textLimits, error);
}
