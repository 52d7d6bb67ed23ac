// Reply reading and the stream type table.
#include "fuzz/FuzzTargetSupport.h"
#include "fuzz/ParserInvariants.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzTargetSupport::InitialiseToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzTargetSupport::AbortIfBroken(ParserInvariants::CheckReplyInput(data, size));
    return 0;
}
