#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FileAPI.h"
#include "ScratchDirectory.h"
#include "SimPlatform.h"
#include "SystemTexts.h"

namespace {

using namespace system_texts;

constexpr int kBinary = 1;

std::string times(int count, const std::string& line) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += line;
    }
    return text;
}

const std::uint8_t* bytes(const std::string& text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

std::uint32_t size32(const std::string& text) {
    return static_cast<std::uint32_t>(text.size());
}

class FileApiTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::sim::reset(); }
    ScratchDirectory dir;
    std::string pathOf(const std::string& name) const { return (dir / name).string(); }
};

TEST_F(FileApiTest, WritesAndCloseNeedAnOpenFile) {
    EXPECT_EQ(FileAPI_writeToFileBinary(bytes("abc"), 3), 0);
    EXPECT_EQ(FileAPI_writeToFile("abc"), 0);
    EXPECT_EQ(FileAPI_CloseFile(), 0);

    ASSERT_EQ(FileAPI_CreateFile(pathOf("a.bin").c_str(), kBinary), 1);
    EXPECT_EQ(FileAPI_CloseFile(), 1);
    EXPECT_EQ(FileAPI_CloseFile(), 0);
    EXPECT_EQ(FileAPI_writeToFile("late"), 0);
    EXPECT_EQ(readWholeFile(dir / "a.bin"), "");
    EXPECT_EQ(platform::sim::consoleText(), times(5, kNoFileOpen));
}

TEST_F(FileApiTest, EachOpenFailsWhereTheFileCannotBeOpened) {
    const std::string inMissingDirectory = pathOf("missing/a.bin");
    EXPECT_EQ(FileAPI_CreateFile(inMissingDirectory.c_str(), kBinary), 0);
    EXPECT_EQ(FileAPI_OpenFile_ToWrite(inMissingDirectory.c_str(), kBinary), 0);
    EXPECT_EQ(FileAPI_OpenFile_ToRead(pathOf("absent.bin").c_str(), kBinary), 0);
    EXPECT_EQ(FileAPI_OpenFile_ToRead(pathOf("absent.txt").c_str(), 0), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "absent.bin"));
    EXPECT_EQ(FileAPI_CloseFile(), 0);
    EXPECT_EQ(platform::sim::consoleText(), times(4, kNoSuchFile) + kNoFileOpen);
}

TEST_F(FileApiTest, AFailedOpenLeavesNoFileCurrent) {
    ASSERT_EQ(FileAPI_CreateFile(pathOf("first.bin").c_str(), kBinary), 1);
    ASSERT_EQ(FileAPI_writeToFile("kept"), 1);
    EXPECT_EQ(FileAPI_OpenFile_ToRead(pathOf("absent.bin").c_str(), kBinary), 0);
    EXPECT_EQ(FileAPI_writeToFile("lost"), 0);
    EXPECT_EQ(FileAPI_CloseFile(), 0);
    EXPECT_EQ(platform::sim::consoleText(), kNoSuchFile + times(2, kNoFileOpen));
}

TEST_F(FileApiTest, CreateEmptiesAndAppendAddsInEveryMode) {
    for (int isBinary : {1, 0, 2, -1}) {
        SCOPED_TRACE(isBinary);
        const std::string file = pathOf("mode" + std::to_string(isBinary) + ".txt");

        ASSERT_EQ(FileAPI_OpenFile_ToWrite(file.c_str(), isBinary), 1);
        EXPECT_EQ(FileAPI_writeToFile("one"), 1);
        EXPECT_EQ(FileAPI_CloseFile(), 1);
        ASSERT_EQ(FileAPI_OpenFile_ToWrite(file.c_str(), isBinary), 1);
        EXPECT_EQ(FileAPI_writeToFileBinary(bytes("two"), 3), 1);
        EXPECT_EQ(FileAPI_CloseFile(), 1);
        EXPECT_EQ(readWholeFile(file), "onetwo");

        ASSERT_EQ(FileAPI_CreateFile(file.c_str(), isBinary), 1);
        EXPECT_EQ(FileAPI_writeToFile("new"), 1);
        EXPECT_EQ(FileAPI_CloseFile(), 1);
        EXPECT_EQ(readWholeFile(file), "new");

        ASSERT_EQ(FileAPI_OpenFile_ToRead(file.c_str(), isBinary), 1);
        EXPECT_EQ(FileAPI_CloseFile(), 1);
    }
    EXPECT_EQ(platform::sim::consoleText(), "");
}

TEST_F(FileApiTest, ContentIsWrittenUnchanged) {
    const std::string binary("\0\r\n\xFF%d\x1A", 7);
    ASSERT_EQ(FileAPI_CreateFile(pathOf("data.bin").c_str(), kBinary), 1);
    EXPECT_EQ(FileAPI_writeToFile("100% %s %n\r\n"), 1);
    EXPECT_EQ(FileAPI_writeToFileBinary(bytes(binary), size32(binary)), 1);
    EXPECT_EQ(FileAPI_writeToFileBinary(bytes("ignored"), 0), 1);
    EXPECT_EQ(FileAPI_writeToFile(""), 1);
    EXPECT_EQ(FileAPI_CloseFile(), 1);
    EXPECT_EQ(readWholeFile(dir / "data.bin"), "100% %s %n\r\n" + binary);
    EXPECT_EQ(platform::sim::consoleText(), "");
}

// A stream opened for reading refuses every write, as a full disk would. The
// failure is the result alone: there is a file open, so no text applies.
TEST_F(FileApiTest, ARefusedWriteIsAFailure) {
    writeWholeFile(dir / "read.bin", "keep");
    ASSERT_EQ(FileAPI_OpenFile_ToRead(pathOf("read.bin").c_str(), kBinary), 1);
    EXPECT_EQ(FileAPI_writeToFileBinary(bytes("more"), 4), 0);
    EXPECT_EQ(FileAPI_writeToFile("more"), 0);
    EXPECT_EQ(FileAPI_writeToFileBinary(bytes("more"), 0), 1);
    EXPECT_EQ(FileAPI_CloseFile(), 1);
    EXPECT_EQ(readWholeFile(dir / "read.bin"), "keep");
    EXPECT_EQ(platform::sim::consoleText(), "");
}

// Sets a file size limit for the rest of the process: in a child process only.
void limitFileSize(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
}

// The bytes stay in the stream's buffer until the close, which then runs into
// the file size limit.
int writeThenCloseOverLimit(const std::string& file) {
    limitFileSize(8);
    FileAPI_CreateFile(file.c_str(), kBinary);
    const std::uint8_t written = FileAPI_writeToFile("more than eight bytes");
    const std::uint8_t closed = FileAPI_CloseFile();
    const std::uint8_t closedAgain = FileAPI_CloseFile();
    return written == 1 && closed == 0 && closedAgain == 0 ? 0 : 1;
}

TEST_F(FileApiTest, AFailedCloseIsAFailureAndClosesTheFile) {
    EXPECT_EXIT(std::exit(writeThenCloseOverLimit(pathOf("limited.bin"))),
                ::testing::ExitedWithCode(0), "");
}

}  // namespace
