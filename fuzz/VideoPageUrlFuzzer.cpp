// The watch-page test and the id taken from the address.
#include "fuzz/FuzzTargetSupport.h"
#include "fuzz/ParserInvariants.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzTargetSupport::InitialiseToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzTargetSupport::AbortIfBroken(ParserInvariants::CheckVideoPageInput(data, size));
    return 0;
}
