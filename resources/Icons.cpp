#include "resources/Icons.h"

#include <wx/image.h>
#include <wx/mstream.h>

#include <cstddef>

extern const unsigned char kNkIcon16[], kNkIcon32[], kNkIcon48[], kNkIcon128[];
extern const std::size_t kNkIcon16Size, kNkIcon32Size, kNkIcon48Size, kNkIcon128Size;

namespace
{
struct IconData
{
    int size;
    const unsigned char* bytes;
    std::size_t length;
};

const IconData kIcons[] = {
    {16, kNkIcon16, kNkIcon16Size},
    {32, kNkIcon32, kNkIcon32Size},
    {48, kNkIcon48, kNkIcon48Size},
    {128, kNkIcon128, kNkIcon128Size},
};
constexpr int kLargestWindowIcon = 48;

wxIcon Decode(const IconData& data)
{
    // Decoding needs the PNG handler even before start-up has registered all of them.
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
        wxImage::AddHandler(new wxPNGHandler);
    wxMemoryInputStream in(data.bytes, data.length);
    wxImage image(in, wxBITMAP_TYPE_PNG);
    wxIcon icon;
    if (image.IsOk())
        icon.CopyFromBitmap(wxBitmap(image));
    return icon;
}
} // namespace

wxIconBundle Icons::GetNkBundle()
{
    wxIconBundle bundle;
    for (const IconData& data : kIcons)
        if (data.size <= kLargestWindowIcon)
            bundle.AddIcon(Decode(data));
    return bundle;
}

wxIcon Icons::GetNk(int size)
{
    for (const IconData& data : kIcons)
        if (data.size >= size)
            return Decode(data);
    return Decode(kIcons[sizeof(kIcons) / sizeof(kIcons[0]) - 1]);
}
