#include "StreamRelay.h"

#include "ServiceLog.h"

namespace
{
constexpr std::size_t kBlockBytes = std::size_t{256} * 1024;
// How long one step waits for output before it looks at the client again.
constexpr auto kStepWait = std::chrono::milliseconds(250);
// A pipeline that writes nothing for this long has hung: the client would wait for ever.
constexpr auto kStallLimit = std::chrono::seconds(60);
// A program that closed its output ends at once; this bounds one that does not.
constexpr auto kFinishLimit = std::chrono::seconds(10);
} // namespace

bool StreamRelay::Begin(const std::vector<ProcessRunner::Command>& commands,
                        std::unique_ptr<ScratchFolder> workFolder,
                        std::chrono::steady_clock::duration firstByteLimit, std::string& error)
{
    block.resize(kBlockBytes);
    folder = std::move(workFolder);
    if (!run.StartPipeline(commands, error, folder ? folder->Path() : std::string()))
        return false;
    const auto deadline = ProcessRunner::Clock::now() + firstByteLimit;
    const auto result = run.Read(block.data(), block.size(), pending, deadline);
    lastData = ProcessRunner::Clock::now();
    switch (result)
    {
    case ProcessRunner::ReadResult::Data:
        return true;
    case ProcessRunner::ReadResult::End:
        if (!run.Finish(ProcessRunner::Clock::now() + kFinishLimit, error))
        {
            const std::string said = run.LastErrorLine();
            error = "the resolver " + error + (said.empty() ? "" : ": " + said);
            return false;
        }
        ended = true; // an empty stream, and a complete one
        return true;
    case ProcessRunner::ReadResult::TimedOut:
        run.Kill();
        error = "the resolver wrote nothing in time and was ended";
        return false;
    case ProcessRunner::ReadResult::Failed:
        break;
    }
    run.Kill();
    error = "the resolver's output could not be read";
    return false;
}

bool StreamRelay::Next(httplib::DataSink& sink)
{
    if (pending > 0)
    {
        const std::size_t count = pending;
        pending = 0;
        if (!sink.write(block.data(), count))
            return Cut("the client went away");
        return true;
    }
    if (ended)
    {
        sink.done();
        return true;
    }
    std::size_t got = 0;
    const auto result =
        run.Read(block.data(), block.size(), got, ProcessRunner::Clock::now() + kStepWait);
    const auto now = ProcessRunner::Clock::now();
    switch (result)
    {
    case ProcessRunner::ReadResult::Data:
        lastData = now;
        if (!sink.write(block.data(), got))
            return Cut("the client went away");
        return true;
    case ProcessRunner::ReadResult::TimedOut:
        if (!sink.is_writable())
            return Cut("the client went away");
        if (now - lastData > kStallLimit)
            return Cut("the resolver wrote nothing for " +
                       std::to_string(std::chrono::seconds(kStallLimit).count()) + " s");
        return true;
    case ProcessRunner::ReadResult::End:
    {
        std::string why;
        if (!run.Finish(now + kFinishLimit, why))
        {
            const std::string said = run.LastErrorLine();
            return Cut("the resolver " + why + (said.empty() ? "" : ": " + said));
        }
        ended = true;
        sink.done();
        return true;
    }
    case ProcessRunner::ReadResult::Failed:
        break;
    }
    return Cut("the resolver's output could not be read");
}

bool StreamRelay::Cut(const std::string& why)
{
    LogLine("stream " + label + " cut: " + why);
    run.Kill();
    return false;
}
