#pragma once

#include <string>

// The sound data of a whole FLV file read in one pass, as the yardstick for the incremental
// extractor: it holds the complete input, so it needs no buffering and no resumption.
class FlvWholeFileReader
{
public:
    struct Result
    {
        bool isFlv = false;
        // The sound up to the first whole audio tag of another codec than MP3, if any.
        std::string sound;
        bool foreignSound = false;
        // The largest header or tag, by the sizes its fields declare, even where the input
        // ends inside it; bounds what the extractor may have to hold at once.
        size_t largestUnit = 0;
    };

    static Result Read(const std::string& file);
};
