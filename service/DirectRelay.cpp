#include "DirectRelay.h"

#include "ServiceLog.h"

#include <algorithm>
#include <cstdio>

namespace
{
constexpr int kStatusOk = 200;
constexpr int kStatusPartial = 206;
constexpr int kStatusUnsatisfiable = 416;
constexpr std::uint64_t kToEnd = RangedFetch::kToEnd;
constexpr long long kOpen = RequestedRange::kOpen;
// FNV-1a, 64 bits: the same tag for the same file in every run of the service.
constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;
constexpr std::size_t kTagDigits = 16;

// The bytes a client asks for: one range; anything else stands for the whole file.
struct Wanted
{
    bool part = false;
    std::uint64_t first = 0;
    std::uint64_t last = kToEnd;
};

Wanted WantedOf(const std::vector<RequestedRange>& ranges, std::optional<std::uintmax_t> size)
{
    if (ranges.size() != 1)
        return {};
    const RequestedRange& range = ranges.front();
    if (range.first == kOpen)
    {
        // The last N bytes need the length before the first request; without it, or of an
        // empty file, the whole file is the answer, as HTTP allows.
        if (range.last <= 0 || !size || *size == 0)
            return {};
        const auto count = std::uint64_t(range.last);
        return {true, *size > count ? *size - count : 0, kToEnd};
    }
    if (range.last != kOpen && range.last < range.first)
        return {};
    return {true, std::uint64_t(range.first),
            range.last == kOpen ? kToEnd : std::uint64_t(range.last)};
}
} // namespace

std::string DirectRelay::EntityTag(const std::string& label, std::uint64_t total,
                                   const std::string& validator)
{
    std::string identity = label;
    identity += '\n';
    identity += std::to_string(total);
    identity += '\n';
    identity += validator;
    std::uint64_t hash = kFnvOffset;
    for (const unsigned char c : identity)
        hash = (hash ^ c) * kFnvPrime;
    char digits[kTagDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return "\"" + std::string(digits) + "\"";
}

DirectRelay::Opened DirectRelay::Open(const DirectSource& source, const std::string& cookieFile,
                                      const Asked& asked, Clock::time_point deadline,
                                      std::string& error)
{
    fetch =
        std::make_unique<RangedFetch>(RangedFetch::Source{source.url, source.headers, cookieFile});
    headers.clear();
    length.reset();
    finished = false;
    Wanted wanted = WantedOf(asked.ranges, source.size);
    RangedFetch::Head head = RangedFetch::Head::Failed;
    std::string tag;
    for (;;)
    {
        head = fetch->Open(wanted.first, wanted.last, deadline, error);
        const bool bytes = head == RangedFetch::Head::Part || head == RangedFetch::Head::Whole;
        const std::optional<std::uint64_t> total = fetch->Total();
        tag = bytes && total ? EntityTag(label, *total, fetch->Validator()) : std::string();
        // A range holds for a file of known length, and only for the one its If-Range names:
        // any other comes whole, never as a part to be spliced onto another file's bytes.
        const bool rangeHolds = head == RangedFetch::Head::Part && total &&
                                (asked.ifRange.empty() || asked.ifRange == tag);
        if (!bytes || !wanted.part || rangeHolds)
            break;
        const bool narrower =
            head == RangedFetch::Head::Part && (wanted.first != 0 || wanted.last != kToEnd);
        wanted = Wanted();
        if (!narrower)
            break;
    }
    const std::optional<std::uint64_t> total = fetch->Total();
    switch (head)
    {
    case RangedFetch::Head::Refused:
        return Opened::Refused;
    case RangedFetch::Head::Failed:
        return Opened::Failed;
    case RangedFetch::Head::Unsatisfiable:
        // Every range of an empty file is unsatisfiable; the whole of it is nothing.
        if (!wanted.part && total != std::uint64_t{0})
        {
            error = "the source refused the file's first bytes";
            return Opened::Failed;
        }
        break;
    case RangedFetch::Head::Part:
    case RangedFetch::Head::Whole:
        break;
    }
    finished = head == RangedFetch::Head::Unsatisfiable;
    // Ranges are promised only where they can be kept: a source that sends its whole file to
    // every request takes none.
    headers.emplace_back("Accept-Ranges",
                         head == RangedFetch::Head::Part && total ? "bytes" : "none");
    if (!tag.empty())
        headers.emplace_back("ETag", tag);
    const std::uint64_t lastByte = total && *total > 0 ? std::min(wanted.last, *total - 1) : 0;
    if (wanted.part && (finished || wanted.first > lastByte))
    {
        status = kStatusUnsatisfiable;
        length = 0;
        finished = true;
        if (total)
            headers.emplace_back("Content-Range", "bytes */" + std::to_string(*total));
        return Opened::Ready;
    }
    if (wanted.part)
    {
        status = kStatusPartial;
        length = lastByte - wanted.first + 1;
        headers.emplace_back("Content-Range", "bytes " + std::to_string(wanted.first) + "-" +
                                                  std::to_string(lastByte) + "/" +
                                                  std::to_string(*total));
        return Opened::Ready;
    }
    status = kStatusOk;
    length = finished ? std::optional<std::uint64_t>(0) : total;
    return Opened::Ready;
}

void DirectRelay::Answer(const std::string& type, httplib::Response& res)
{
    res.status = status;
    for (const auto& [name, value] : headers)
        res.set_header(name, value);
    if (length == std::uint64_t{0})
        return res.set_content("", type);
    const std::shared_ptr<DirectRelay> self = shared_from_this();
    if (length)
        res.set_content_provider(std::size_t(*length), type,
                                 [self](std::size_t, std::size_t, httplib::DataSink& sink)
                                 { return self->Next(sink); });
    else
        res.set_chunked_content_provider(type, [self](std::size_t, httplib::DataSink& sink)
                                         { return self->Next(sink); });
}

bool DirectRelay::Next(httplib::DataSink& sink)
{
    if (finished)
    {
        // Asked again for a body of a stated length, the source ended before it was whole.
        if (length)
        {
            LogLine("stream " + label + " cut: the source ended early");
            return false;
        }
        sink.done();
        return true;
    }
    std::string error;
    const RangedFetch::Flow flow =
        fetch->Pump([&sink](const char* data, std::size_t size) { return sink.write(data, size); },
                    [&sink] { return sink.is_writable(); }, error);
    switch (flow)
    {
    case RangedFetch::Flow::More:
        return true;
    case RangedFetch::Flow::End:
        finished = true;
        if (!length)
            sink.done();
        return true;
    case RangedFetch::Flow::ClientGone:
    case RangedFetch::Flow::Failed:
        break;
    }
    LogLine("stream " + label + " cut: " + error);
    return false;
}
