#include "download/DownloadLine.h"
#include "support/GermanLocale.h"

#include <gtest/gtest.h>

TEST(DownloadLine, ShowsProgressOnlyWhileTransferring)
{
    StreamRecord rec;
    rec.statusText = "Downloading";
    rec.type = "video/mp4";
    rec.title = "My clip";
    rec.outputPath = "/home/u/Videos/My clip.mp4";
    DownloadProgress progress;
    progress.transferring = true;
    progress.received = 12300000;
    progress.total = 29100000;
    progress.bytesPerSecond = 2100000;
    EXPECT_EQ("[Downloading] video/mp4 'My clip' > /home/u/Videos/My clip.mp4 (42%, 12.3 of 29.1 "
              "MB, 2.1 MB/s)",
              MakeDownloadLine(rec, Busy, progress));
    progress.total = -1;
    EXPECT_EQ("[Downloading] video/mp4 'My clip' > /home/u/Videos/My clip.mp4 (12.3 MB, 2.1 MB/s)",
              MakeDownloadLine(rec, Busy, progress));
    rec.statusText = "Done";
    EXPECT_EQ("[Done] video/mp4 'My clip' > /home/u/Videos/My clip.mp4",
              MakeDownloadLine(rec, Done, progress));
    progress.transferring = false;
    rec.statusText = "Finishing";
    EXPECT_EQ("[Finishing] video/mp4 'My clip' > /home/u/Videos/My clip.mp4",
              MakeDownloadLine(rec, Busy, progress));
}

TEST(DownloadLine, ProgressSpeaksTheLanguageAndNumberConventionsOfTheLocale)
{
    GermanLocale german;
    ASSERT_TRUE(german.Ready());
    StreamRecord rec;
    rec.statusText = "Wird heruntergeladen";
    rec.type = "video/mp4";
    rec.title = "Clip";
    rec.outputPath = "/v/Clip.mp4";
    DownloadProgress progress;
    progress.transferring = true;
    progress.received = 1234500000;
    progress.total = 2469000000;
    progress.bytesPerSecond = 2100000;
    EXPECT_EQ(
        wxString("[Wird heruntergeladen] video/mp4 'Clip' > /v/Clip.mp4 (50 %, 1.234,5 von 2.469,0 "
                 "MB, 2,1 MB/s)"),
        MakeDownloadLine(rec, Busy, progress));
    progress.total = -1;
    EXPECT_EQ(
        wxString("[Wird heruntergeladen] video/mp4 'Clip' > /v/Clip.mp4 (1.234,5 MB, 2,1 MB/s)"),
        MakeDownloadLine(rec, Busy, progress));
}
