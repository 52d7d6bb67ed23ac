#pragma once

#include <wx/string.h>

// How a transfer ended.
enum class TransferOutcome
{
    Complete,         // the whole body is in the temporary file
    Stopped,          // the stop flag ended it
    SetupFailed,      // no transfer could be made
    TempFileFailed,   // the temporary file could not be opened
    HttpError,        // the server answered 400 or above
    ConnectionCut,    // the network cut the connection, and the resumes did not mend it
    NetworkFailed,    // any other failure of the connection or the protocol
    ReplyWithoutFile, // a reply that ended well without the file, or a part that did not fit
    FileFailed,       // the bytes did not reach the disk
};

struct TransferResult
{
    TransferOutcome outcome = TransferOutcome::Complete;
    // The status text the job ends with, in the user's language; empty when Complete.
    wxString error;
    // The status of the last response; 0 when none came.
    long httpStatus = 0;

    bool IsComplete() const { return outcome == TransferOutcome::Complete; }
};
