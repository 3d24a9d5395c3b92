// The -timing log: a header, pacing lines only when the pacing changes, one
// line per frame with the camera, readable while the file is still open.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/TimingLog.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(TimingLog, LinesAreWrittenAsTheyCome) {
    char pattern[] = "/tmp/glidescape-timing.XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string path = pattern;
    {
        TimingLog log;
        std::string error;
        ASSERT_TRUE(log.Open(path, error)) << error;
        log.Pacing("present", 16667, true, true);
        log.Pacing("present", 16667, true, true);  // unchanged: not repeated
        Flight::Camera camera;
        camera.positionX = 1024;
        camera.positionY = -3;
        camera.heading = 2559;
        camera.altitude = 200;
        log.Frame(123456789012, 7, 32768, camera);
        log.Pacing("present", 16667, true, false);
        // Written out before the log is closed.
        EXPECT_EQ(ReadAll(path),
                  "# microseconds tick fraction x y heading altitude\n"
                  "# pacing present refresh 16667 us smooth 1 drawing 1\n"
                  "123456789012 7 32768 1024 -3 2559 200\n"
                  "# pacing present refresh 16667 us smooth 1 drawing 0\n");
    }
    std::remove(path.c_str());
    TimingLog log;
    std::string error;
    EXPECT_FALSE(log.Open("/nonexistent-folder/timing.log", error));
    EXPECT_NE(error.find("/nonexistent-folder/timing.log"), std::string::npos);
    log.Frame(1, 1, 0, Flight::Camera{});  // closed: nothing, no crash
}

}  // namespace
