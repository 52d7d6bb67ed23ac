#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a transfer that was cut needs to go on where it stopped: how many bytes of the body
// the temporary file holds, and the validator of the response that began them, so a server
// whose file has changed since sends it whole instead of a mismatched rest.
class TransferResume
{
public:
    // How the body of the response now arriving goes into the temporary file.
    enum class BodyStart
    {
        FromZero, // the whole file: replace what is kept
        Append,   // the rest after the kept bytes
        Unusable, // a part that does not start where the kept bytes end
    };

    // Forget the kept bytes: the next request asks for the whole file.
    void Reset();
    std::int64_t KeptBytes() const { return keptBytes; }
    void SetKeptBytes(std::int64_t bytes) { keptBytes = bytes; }
    // The validator the kept bytes came with (a strong ETag or a Last-Modified date), or none.
    const std::string& Validator() const { return validator; }
    // Takes up what an earlier run of the program left: its bytes and their validator.
    void Restore(std::int64_t bytes, const std::string& keptValidator);
    // The whole body has arrived; a retry needs no transfer at all.
    bool IsComplete() const { return complete; }
    void SetComplete(bool whole) { complete = whole; }

    // Extra request header lines: a range from the kept bytes on, conditional on the
    // validator when there is one; none when nothing is kept.
    std::vector<std::string> RequestHeaders() const;

    // Nothing is known yet of the response being received: a request is about to go out, or
    // a status line begins the next response.
    void ForgetResponse();
    // Fed every header line of every response in order, redirects included; a status line
    // begins a new response.
    void OnHeaderLine(const std::string& line);
    // The status of the response being received; 0 before the first status line.
    int ResponseStatus() const { return status; }
    // Called when the body of the final response begins (or, for an empty body, when it
    // ended): how to write it. A whole file also becomes the new basis: its validator is
    // kept and the kept bytes drop to zero.
    BodyStart StartBody();

    // Errors of a connection cut by the network, worth continuing after a pause; HTTP
    // errors and local failures are not.
    static bool IsConnectionCut(int curlCode);

private:
    std::int64_t keptBytes = 0;
    bool complete = false;
    // Strong ETag, or else Last-Modified, of the response that began the kept bytes.
    std::string validator;

    // The response being received.
    int status = 0;
    std::string etag;
    std::string lastModified;
    std::int64_t rangeStart = -1;
};
