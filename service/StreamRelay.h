#pragma once

#include "ProcessRunner.h"
#include "ResolverGate.h"
#include "ScratchFolder.h"

#include <httplib.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// Relays what a pipeline of programs writes as the body of one response, block by block.
// The response is sent chunked, so a pipeline that fails midway ends the transfer without
// its last chunk: the client sees a cut transfer, never a complete short file. A client that
// goes away, a pipeline that stalls, and the end of the relay itself all end the programs.
class StreamRelay
{
public:
    // label names the stream in the log.
    explicit StreamRelay(std::string name) : label(std::move(name)) {}

    // Starts the programs in the given folder, which the relay keeps until they are gone and
    // then removes, and waits, at most firstByteLimit, for their first output, so that a
    // pipeline that fails at once is answered with an error status instead of a body. False
    // with the reason when it failed before any byte. The turn, when given, is the resolver's
    // the programs run on; it is given back once they are gone.
    bool Begin(const std::vector<ProcessRunner::Command>& commands,
               std::unique_ptr<ScratchFolder> workFolder,
               std::chrono::steady_clock::duration firstByteLimit, std::string& error,
               std::unique_ptr<ResolverGate::Turn> heldTurn = nullptr);

    // One step of the content provider: passes the next block on, or ends the body. False
    // when the transfer must be cut (the reason is logged).
    bool Next(httplib::DataSink& sink);

private:
    bool Cut(const std::string& why);

    const std::string label;
    // Declared first, so it is given back only once the programs are ended and reaped.
    std::unique_ptr<ResolverGate::Turn> turn;
    // Declared before the run, so it is removed only once the programs are ended and reaped.
    std::unique_ptr<ScratchFolder> folder;
    ProcessRunner run;
    std::vector<char> block;
    std::size_t pending = 0; // bytes of block read but not yet sent
    bool ended = false;      // the output closed and the programs succeeded
    std::chrono::steady_clock::time_point lastData;
};
