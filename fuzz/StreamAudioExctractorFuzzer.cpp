// The FLV audio extractor fed in chunks the input chooses, against a whole-file reading.
#include "fuzz/FuzzTargetSupport.h"
#include "fuzz/ParserInvariants.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzTargetSupport::InitialiseToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzTargetSupport::AbortIfBroken(ParserInvariants::CheckExtractorInput(data, size));
    return 0;
}
