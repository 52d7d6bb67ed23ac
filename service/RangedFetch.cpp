#include "RangedFetch.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace
{
// The media address comes from a page on the web: nothing but http and https, redirects too.
const char* const kProtocols = "http,https";
constexpr long kMostRedirects = 5;
constexpr long kConnectLimitSeconds = 10;
// A source that sends nothing for this long has stalled; the client learns it by a cut.
constexpr long kStallSeconds = 30;
constexpr long kLowestSpeed = 1;
// libcurl's read buffer (held twice while the body waits paused), and the block the body is
// gathered into: libcurl hands it on in pieces of 16 KiB, and a write to the client for each
// cost a third of the relay's speed.
constexpr long kBufferBytes = 512L * 1024;
constexpr std::size_t kBlockBytes = std::size_t(kBufferBytes);
// How long a wait for the source lasts before the client and the service's end are looked at.
constexpr int kPollStepMs = 250;
constexpr long kStatusPartial = 206;
constexpr long kStatusOk = 200;
constexpr long kStatusForbidden = 403;
constexpr long kStatusGone = 410;
constexpr long kStatusUnsatisfiable = 416;

// Set once by the thread that ends the service, read by every fetch.
std::atomic<bool> closing{false};

bool IsCookieLine(const std::string& line)
{
    return strncasecmp(line.c_str(), "cookie:", std::strlen("cookie:")) == 0;
}
} // namespace

RangedFetch::RangedFetch(Source given)
    : source(std::move(given)), easy(curl_easy_init()), multi(curl_multi_init())
{
    if (easy && multi)
        SetUpHandle();
}

RangedFetch::~RangedFetch()
{
    if (inMulti)
        curl_multi_remove_handle(multi, easy);
    if (multi)
        curl_multi_cleanup(multi);
    if (easy)
        curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
    curl_slist_free_all(headersIfRange);
}

void RangedFetch::EndAll()
{
    closing.store(true);
}

void RangedFetch::SetUpHandle()
{
    // With yt-dlp's cookie file an older yt-dlp's Cookie header would be a second one. Without
    // it, that header goes to the media's host alone: libcurl sends no Cookie header it was
    // given to another host a redirect names.
    for (const std::string& line : source.headers)
        if (source.cookieFile.empty() || !IsCookieLine(line))
            headers = curl_slist_append(headers, line.c_str());
    curl_easy_setopt(easy, CURLOPT_URL, source.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kProtocols);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMostRedirects);
    // What yt-dlp speaks to the site; pausing a body between the head and the client's first
    // read is plain there.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectLimitSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowestSpeed);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kBufferBytes);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &RangedFetch::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &RangedFetch::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
#if LIBCURL_VERSION_NUM >= 0x075700
    // The end of a stream never waits for a name lookup that does not answer.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
#endif
    // The cookie engine scopes each cookie of the file to its site, redirects included, and
    // keeps those the source sets from one range to the next ("" reads no file).
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, source.cookieFile.c_str());
}

std::size_t RangedFetch::OnHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    static_cast<RangedFetch*>(self)->answer.Read(std::string(data, size * count));
    return size * count;
}

std::size_t RangedFetch::OnBody(char* data, std::size_t size, std::size_t count, void* fetch)
{
    auto* self = static_cast<RangedFetch*>(fetch);
    const std::size_t length = size * count;
    // The body of a redirect that is followed is not the file's.
    if (!self->answer.complete)
        return length;
    // Nobody reads yet: libcurl keeps the bytes until Pump lets them go.
    if (!self->writer)
    {
        self->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (self->AtFileEnd())
        return 0;
    if (!self->answer.checked && !self->FitsTheFirst(self->bodyError))
        return 0;
    self->answer.checked = true;
    const std::uint64_t room =
        self->last == kToEnd ? length
                             : std::min<std::uint64_t>(length, self->last + 1 - self->position);
    self->block.append(data, std::size_t(room));
    self->position += room;
    if (self->block.size() >= kBlockBytes && !self->PassBlock())
        return 0;
    // A source that sends more than it was asked for has sent all that is wanted.
    if (room < length)
    {
        self->reachedLast = true;
        return 0;
    }
    return length;
}

bool RangedFetch::FitsTheFirst(std::string& why) const
{
    if (answer.status != kStatusPartial || answer.rangeFirst != askedFirst ||
        (total && answer.total && *total != *answer.total))
    {
        // If-Range makes a changed file come whole, with 200: never spliced onto the old one.
        why = answer.status == kStatusOk ? "the source's file changed midway"
                                         : "the source answered " + std::to_string(answer.status) +
                                               " to the range from " + std::to_string(askedFirst);
        return false;
    }
    return true;
}

void RangedFetch::Request(std::uint64_t from)
{
    askedFirst = from;
    std::uint64_t end = from + kMostRangeBytes - 1;
    if (last != kToEnd)
        end = std::min(end, last);
    if (total && *total > 0)
        end = std::min(end, *total - 1);
    askedLast = end;
    rangeText = std::to_string(from) + "-" + std::to_string(end);
    if (inMulti)
        curl_multi_remove_handle(multi, easy);
    curl_easy_setopt(easy, CURLOPT_RANGE, rangeText.c_str());
    // After the first answer, a changed file comes whole instead of as the range asked for.
    if (!validator.empty() && !headersIfRange)
    {
        for (const curl_slist* item = headers; item; item = item->next)
            headersIfRange = curl_slist_append(headersIfRange, item->data);
        ifRangeLine = "If-Range: " + validator;
        headersIfRange = curl_slist_append(headersIfRange, ifRangeLine.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headersIfRange ? headersIfRange : headers);
    answer = RangeAnswer();
    ended = false;
    endedWith = CURLE_OK;
    reachedLast = false;
    bodyError.clear();
    curl_multi_add_handle(multi, easy);
    inMulti = true;
}

void RangedFetch::CollectEnd()
{
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi, &left))
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
        {
            ended = true;
            endedWith = message->data.result;
        }
}

RangedFetch::Head RangedFetch::Open(std::uint64_t first, std::uint64_t lastWanted,
                                    Clock::time_point deadline, std::string& error)
{
    if (!easy || !multi)
    {
        error = "libcurl could not start a transfer";
        return Head::Failed;
    }
    position = first;
    last = lastWanted;
    whole = false;
    paused = false;
    clientGone = false;
    total.reset();
    validator.clear();
    curl_slist_free_all(headersIfRange);
    headersIfRange = nullptr;
    Request(first);
    while (!answer.complete && !ended)
    {
        if (closing.load())
        {
            error = "the service is ending";
            return Head::Failed;
        }
        int running = 0;
        curl_multi_perform(multi, &running);
        CollectEnd();
        if (answer.complete || ended)
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
        {
            error = "the source did not answer in time";
            return Head::Failed;
        }
        curl_multi_poll(multi, nullptr, 0, int(std::min<long long>(left, kPollStepMs)), nullptr);
    }
    if (!answer.complete)
    {
        error = curl_easy_strerror(endedWith);
        return Head::Failed;
    }
    total = answer.total;
    switch (answer.status)
    {
    case kStatusForbidden:
    case kStatusGone:
        error = "the source answered " + std::to_string(answer.status);
        return Head::Refused;
    case kStatusUnsatisfiable:
        return Head::Unsatisfiable;
    case kStatusOk:
        whole = true;
        position = 0;
        last = kToEnd;
        total = answer.length;
        break;
    case kStatusPartial:
        if (answer.rangeFirst != first)
        {
            error = "the source sent another range than the one asked for";
            return Head::Failed;
        }
        break;
    default:
        error = "the source answered " + std::to_string(answer.status);
        return Head::Failed;
    }
    answer.checked = true;
    validator = answer.Validator();
    return whole ? Head::Whole : Head::Part;
}

bool RangedFetch::AtFileEnd() const
{
    // Without a length the file ends where the source has nothing more to give.
    return !total && answer.status == kStatusUnsatisfiable;
}

bool RangedFetch::AllPassed() const
{
    return whole || (last != kToEnd && position > last) || (total && position >= *total) ||
           AtFileEnd();
}

bool RangedFetch::PassBlock()
{
    if (!block.empty() && !(*writer)(block.data(), block.size()))
        clientGone = true;
    block.clear();
    return !clientGone;
}

RangedFetch::Flow RangedFetch::Pump(const Writer& write, const Presence& clientThere,
                                    std::string& error)
{
    writer = &write;
    block.reserve(kBlockBytes);
    const Flow flow = Drive(clientThere, error);
    // Whatever came is passed on, before an end and before a failure alike: the more of the
    // file a cut client keeps, the less it asks for again.
    if (flow != Flow::ClientGone && !PassBlock())
    {
        error = "the client went away";
        writer = nullptr;
        return Flow::ClientGone;
    }
    // The writer lives only as long as the call that gave it.
    writer = nullptr;
    return flow;
}

RangedFetch::Flow RangedFetch::Drive(const Presence& clientThere, std::string& error)
{
    if (paused)
    {
        paused = false;
        curl_easy_pause(easy, CURLPAUSE_CONT);
    }
    auto lastLook = Clock::now();
    for (;;)
    {
        if (clientGone)
        {
            error = "the client went away";
            return Flow::ClientGone;
        }
        if (closing.load())
        {
            error = "the service is ending";
            return Flow::Failed;
        }
        int running = 0;
        curl_multi_perform(multi, &running);
        CollectEnd();
        // What came in this round goes on now; a source that sends little must not be held up.
        if (!PassBlock())
            continue;
        if (ended)
        {
            if (endedWith != CURLE_OK && !reachedLast && !AtFileEnd())
            {
                error = !bodyError.empty() ? bodyError : curl_easy_strerror(endedWith);
                return Flow::Failed;
            }
            // An answer without a body (a refusal, say) was never looked at.
            if (!answer.checked && !AtFileEnd() && !FitsTheFirst(error))
                return Flow::Failed;
            if (AllPassed())
                return Flow::End;
            Request(position);
            return Flow::More;
        }
        curl_multi_poll(multi, nullptr, 0, kPollStepMs, nullptr);
        const auto now = Clock::now();
        if (now - lastLook >= std::chrono::milliseconds(kPollStepMs))
        {
            lastLook = now;
            if (!clientThere())
                clientGone = true;
        }
    }
}
