#include "ThumbnailPicker.h"

#include "TextMatch.h"

#include <nlohmann/json.hpp>

#include <optional>

namespace
{
using namespace TextMatch;

std::optional<int> WidthOf(const nlohmann::json& thumbnail)
{
    const auto width = thumbnail.find("width");
    if (width == thumbnail.end() || !width->is_number() || width->get<double>() <= 0)
        return std::nullopt;
    return int(width->get<double>());
}
} // namespace

bool ThumbnailPicker::LooksLikeJpegOrPng(const std::string& url)
{
    const std::string lower = Lower(url);
    if (!StartsWith(lower, "http://") && !StartsWith(lower, "https://"))
        return false;
    // Only the path names the kind: query and fragment often carry sizes and signatures.
    const std::string path = lower.substr(0, lower.find_first_of("?#"));
    return EndsWith(path, ".jpg") || EndsWith(path, ".jpeg") || EndsWith(path, ".png");
}

std::string ThumbnailPicker::Choose(const nlohmann::json& page)
{
    if (!page.is_object())
        return {};
    const auto list = page.find("thumbnails");
    if (list == page.end() || !list->is_array() || list->empty())
    {
        const auto single = page.find("thumbnail");
        if (single != page.end() && single->is_string() && LooksLikeJpegOrPng(*single))
            return *single;
        return {};
    }

    // Best first: the widest that fits the preview; failing that one of unknown width, the
    // later the better as the resolver lists them worst first; failing that the narrowest of
    // those that are too wide.
    std::string fitting, unknown, tooWide;
    int fittingWidth = 0, tooWideWidth = 0;
    for (const nlohmann::json& thumbnail : *list)
    {
        if (!thumbnail.is_object())
            continue;
        const auto urlField = thumbnail.find("url");
        if (urlField == thumbnail.end() || !urlField->is_string() || !LooksLikeJpegOrPng(*urlField))
            continue;
        const std::string url = *urlField;
        const std::optional<int> width = WidthOf(thumbnail);
        if (!width)
            unknown = url;
        else if (*width <= kMostWidth && *width >= fittingWidth)
        {
            fitting = url;
            fittingWidth = *width;
        }
        else if (*width > kMostWidth && (tooWide.empty() || *width < tooWideWidth))
        {
            tooWide = url;
            tooWideWidth = *width;
        }
    }
    if (!fitting.empty())
        return fitting;
    if (!unknown.empty())
        return unknown;
    return tooWide;
}
