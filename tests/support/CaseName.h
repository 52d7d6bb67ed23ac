#pragma once

// Names a parameterised case after what its PrintTo shows, so a listing reads
// "…/3_https_www_youtube_com_watch_v_AbCdEfGhIjK" instead of the raw bytes of the value.

#include <gtest/gtest.h>

#include <cctype>
#include <string>

struct CaseNameFromPrint
{
    template <class T> std::string operator()(const testing::TestParamInfo<T>& info) const
    {
        // Long enough to tell the cases apart; the index keeps equal texts apart.
        constexpr size_t kMaxTextLength = 48;
        const std::string shown = testing::PrintToString(info.param);
        std::string name = std::to_string(info.index);
        bool separated = false;
        for (const char c : shown)
        {
            if (name.size() >= kMaxTextLength)
                break;
            if (std::isalnum(static_cast<unsigned char>(c)))
            {
                if (!separated)
                    name += '_';
                name += c;
                separated = true;
            }
            else
                separated = false;
        }
        return name;
    }
};
