#include "download/Mp3Converter.h"
#include "support/FlvBuilder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/dir.h>
#include <wx/filename.h>

#include <fstream>
#include <iterator>
#include <string>

namespace
{

// Temporary files the converter leaves behind, if any.
size_t PartFiles(const wxString& folder)
{
    wxDir dir(folder);
    wxString name;
    size_t count = 0;
    for (bool more = dir.GetFirst(&name, ".NK-*.part", wxDIR_FILES | wxDIR_HIDDEN); more;
         more = dir.GetNext(&name))
        ++count;
    return count;
}

class Mp3ConverterTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(temp.Path().empty()); }

    TempDir temp;
    const wxString source = temp.File("video.flv");
    const wxString output = temp.File("song.mp3");
};
} // namespace

TEST_F(Mp3ConverterTest, WritesSoundOfEveryAudioTag)
{
    FlvBuilder flv;
    std::string expected;
    for (int i = 0; i < 300; ++i)
    {
        const std::string sound(100 + i, char('A' + i % 26));
        flv.Audio(sound).Video(2000 + i);
        expected += sound;
    }
    ASSERT_TRUE(WriteBytes(source, flv.Bytes()));
    ASSERT_TRUE(WriteBytes(output, "older file, kept"));

    wxString placed;
    EXPECT_TRUE(ConvertToMp3(source, output, nullptr, &placed));
    EXPECT_EQ(temp.File("song-1.mp3"), placed);
    EXPECT_TRUE(ReadBytes(placed) == expected);
    EXPECT_EQ("older file, kept", ReadBytes(output));
    EXPECT_EQ(0u, PartFiles(temp.Path()));
    EXPECT_EQ(flv.Bytes(), ReadBytes(source)) << "the source is not the converter's to change";
}

TEST_F(Mp3ConverterTest, SucceedsWithEmptyOutput)
{
    FlvBuilder videoOnly;
    videoOnly.Video(500).Video(600);
    // Too short to be judged: Feed never parses it and Finish's verdict is not reported.
    const std::string tinyNotFlv = "hello";
    for (const std::string& input : {videoOnly.Bytes(), tinyNotFlv, std::string()})
    {
        SCOPED_TRACE(input.size());
        ASSERT_TRUE(WriteBytes(source, input));
        wxRemoveFile(output);
        EXPECT_TRUE(ConvertToMp3(source, output));
        EXPECT_TRUE(wxFileExists(output));
        EXPECT_EQ("", ReadBytes(output));
        EXPECT_EQ(0u, PartFiles(temp.Path()));
    }
}

TEST_F(Mp3ConverterTest, NotFlvFailsWithoutOutput)
{
    FlvBuilder notFlv(FlvBuilder::kUsualHeaderLength, "MP4");
    notFlv.Audio("sound").Video(1000);
    ASSERT_TRUE(WriteBytes(source, notFlv.Bytes()));

    EXPECT_FALSE(ConvertToMp3(source, output));
    EXPECT_FALSE(wxFileName::Exists(output));
    EXPECT_EQ(0u, PartFiles(temp.Path()));
}

TEST_F(Mp3ConverterTest, SoundOtherThanMp3FailsWithoutOutput)
{
    const char kAacFlags = char(0xaf);
    FlvBuilder aac;
    aac.Video(1000).Tag(FlvBuilder::kAudioType, std::string(1, kAacFlags) + "aac-frame");
    ASSERT_TRUE(WriteBytes(source, aac.Bytes()));

    EXPECT_FALSE(ConvertToMp3(source, output));
    EXPECT_FALSE(wxFileName::Exists(output));
    EXPECT_EQ(0u, PartFiles(temp.Path()));
}

TEST_F(Mp3ConverterTest, FailureKeepsEarlierOutput)
{
    FlvBuilder notFlv(FlvBuilder::kUsualHeaderLength, "flv");
    notFlv.Audio("sound");
    const wxString unreadable = temp.File("folder.flv");
    ASSERT_TRUE(wxFileName::Mkdir(unreadable));
    ASSERT_TRUE(WriteBytes(source, notFlv.Bytes()));
    const std::string earlier("earlier song\0\xff\x01 bytes", 22);

    // Not FLV; missing; a folder, which opens but fails at the first read.
    for (const wxString& from : {source, temp.File("absent.flv"), unreadable})
    {
        SCOPED_TRACE(from.ToStdString());
        ASSERT_TRUE(WriteBytes(output, earlier));
        EXPECT_FALSE(ConvertToMp3(from, output));
        EXPECT_EQ(earlier, ReadBytes(output));
        EXPECT_EQ(0u, PartFiles(temp.Path()));
    }
}

TEST_F(Mp3ConverterTest, MissingSourceOrFolderFails)
{
    FlvBuilder flv;
    flv.Audio("sound");
    ASSERT_TRUE(WriteBytes(source, flv.Bytes()));

    EXPECT_FALSE(ConvertToMp3(temp.File("absent.flv"), output));
    EXPECT_FALSE(wxFileName::Exists(output));

    const wxString inMissingFolder = temp.File("no-such-folder/song.mp3");
    EXPECT_FALSE(ConvertToMp3(source, inMissingFolder));
    EXPECT_FALSE(wxFileName::Exists(inMissingFolder));
    EXPECT_EQ(0u, PartFiles(temp.Path()));
}

TEST_F(Mp3ConverterTest, StopRequestEndsWithoutOutputAndKeepsTheEarlierFile)
{
    FlvBuilder flv;
    flv.Audio("sound").Audio("more sound");
    ASSERT_TRUE(WriteBytes(source, flv.Bytes()));
    ASSERT_TRUE(WriteBytes(output, "earlier"));
    std::atomic<bool> stop{true};
    EXPECT_FALSE(ConvertToMp3(source, output, &stop));
    EXPECT_EQ("earlier", ReadBytes(output));
    EXPECT_EQ(0u, PartFiles(temp.Path()));
    stop.store(false);
    wxString placed;
    EXPECT_TRUE(ConvertToMp3(source, output, &stop, &placed));
    EXPECT_EQ("soundmore sound", ReadBytes(placed));
    EXPECT_EQ("earlier", ReadBytes(output));
}
