#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CatalogueImages.h"
#include "HexRecords.h"
#include "ScratchDirectory.h"
#include "SimPlatform.h"
#include "SystemTexts.h"
#include "VendraFwUpgrade.h"

namespace {

using namespace system_texts;

constexpr char kWebFile[] = "FwToUpload.bin";
constexpr char kFixedHeader[] = "KorVan\r\n620418\r\n1.0.7\r\n";
constexpr std::size_t kBodyLine = 928;

using hex_records::record;

// An Intel HEX text whose assembled image is exactly `image`: records of up
// to 16 bytes from position 0, then one more record at the image's end, whose
// load offset becomes the image length.
std::string intelHexOf(const std::vector<std::uint8_t>& image) {
    constexpr std::size_t kRecordBytes = 16;
    const std::uint8_t trailing[1] = {0x5A};
    std::string text;
    unsigned segment = 0x10000;
    auto placeAt = [&](std::size_t position, const std::uint8_t* data, std::size_t count) {
        if ((position >> 16) != segment) {
            segment = static_cast<unsigned>(position >> 16);
            const std::uint8_t base[2] = {0x00, static_cast<std::uint8_t>(segment)};
            text += record(hex_records::kExtendedLinear, 0, {base[0], base[1]});
        }
        text += record(hex_records::kData, static_cast<std::uint16_t>(position & 0xFFFF),
                       {data, data + count});
    };
    for (std::size_t position = 0; position < image.size(); position += kRecordBytes) {
        const std::size_t count = std::min(kRecordBytes, image.size() - position);
        placeAt(position, image.data() + position, count);
    }
    placeAt(image.size(), trailing, 1);
    return text + ":00000001FF\r\n";
}

std::vector<std::uint8_t> imageOf(std::size_t length) {
    std::vector<std::uint8_t> image(length);
    std::uint32_t state = 12345;
    for (std::uint8_t& byte : image) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return image;
}

std::uint32_t checksumOf(const std::uint8_t* data, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) {
        sum += data[i];
    }
    return 0u - sum;
}

// The body as coreutils encodes the image, pads turned into "A".
std::string peerBodyOf(const ScratchDirectory& dir, const std::vector<std::uint8_t>& image) {
    writeWholeFile(dir / "image.bin", std::string(image.begin(), image.end()));
    const std::string command = "base64 -w0 '" + (dir / "image.bin").string() + "' > '" +
                                (dir / "image.b64").string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::string body = readWholeFile(dir / "image.b64");
    for (char& c : body) {
        c = c == '=' ? 'A' : c;
    }
    return body;
}

// The image as coreutils decodes the body of a web file, its pads put back.
std::string peerImageOf(const ScratchDirectory& dir, std::string body, std::size_t length) {
    const std::size_t pads = (3 - length % 3) % 3;
    body.replace(body.size() - pads, pads, pads, '=');
    writeWholeFile(dir / "body.b64", body);
    const std::string command =
        "base64 -d '" + (dir / "body.b64").string() + "' > '" + (dir / "body.bin").string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return readWholeFile(dir / "body.bin");
}

std::string linesOf(const std::string& body) {
    std::string text;
    for (std::size_t at = 0; at < body.size(); at += kBodyLine) {
        text += (at == 0 ? "" : "\r\n") + body.substr(at, kBodyLine);
    }
    return text;
}

struct WebFile {
    std::vector<std::string> header;  // lines 1 to 5
    std::vector<std::string> body;    // body lines without their line ends
};

WebFile splitWebFile(const std::string& file) {
    WebFile parts;
    std::size_t at = 0;
    for (int line = 0; line < 5; ++line) {
        const std::size_t end = file.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "header line " << line + 1 << " has no line end";
            return parts;
        }
        parts.header.push_back(file.substr(at, end - at));
        at = end + 2;
    }
    while (at < file.size()) {
        const std::size_t end = file.find("\r\n", at);
        parts.body.push_back(file.substr(at, end == std::string::npos ? end : end - at));
        at = end == std::string::npos ? file.size() : end + 2;
    }
    return parts;
}

std::string bodyText(const WebFile& parts) {
    std::string text;
    for (const std::string& line : parts.body) {
        text += line;
    }
    return text;
}

// What a run prints once the image text has been assembled.
std::string summaryOf(const std::vector<std::uint8_t>& image) {
    const std::string checksum = std::to_string(checksumOf(image.data(), image.size()));
    return "\r\n Firmware data is valid !\r\n\r\n Firmware CheckSum = " + checksum +
           " !\r\n\r\n Firmware CheckSum u = " + checksum +
           " !\r\n\r\n Firmware data length = " + std::to_string(image.size()) + " !\r\n";
}

std::size_t keysTaken() {
    return platform::sim::events(platform::sim::EventKind::Key).size();
}

constexpr char kTemporaryFile[] = "FwToUpload.bin.tmp";
constexpr char kEarlierFile[] = "earlier file, which must survive a failure";

std::string notWritten(const std::string& reason) {
    return "\r\nERROR: FwToUpload.bin not written: " + reason + "\r\n";
}

class WebFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::sim::reset();
        platform::sim::setConsoleInput("k");
        obtainSharedBuffers();
        dir.enter();
    }
    void TearDown() override {
        delete[] gHexFirmware;
        gHexFirmware = nullptr;
        releaseSharedBuffers();
    }

    // A working copy of `text` as the program entry makes one.
    void useImageText(const std::string& text) {
        delete[] gHexFirmware;
        gHexFirmware = new char[text.size() + 16]();
        std::memcpy(gHexFirmware, text.data(), text.size());
    }

    std::string expectedFileFor(const std::vector<std::uint8_t>& image) {
        return kFixedHeader + std::to_string(checksumOf(image.data(), image.size())) + "\r\n" +
               std::to_string(image.size()) + "\r\n" + linesOf(peerBodyOf(dir, image));
    }

    ScratchDirectory dir;
};

struct LayoutCase {
    std::size_t imageLength;
    std::vector<std::size_t> lineLengths;
    std::size_t padCount;
};

TEST_F(WebFileTest, BodyLinesForImagesAroundOneLine) {
    const LayoutCase cases[] = {
        {696, {928}, 0}, {697, {928, 4}, 2}, {698, {928, 4}, 1}, {1500, {928, 928, 144}, 0},
        {1, {4}, 2},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "image of " << c.imageLength << " bytes");
        const std::vector<std::uint8_t> image = imageOf(c.imageLength);
        useImageText(intelHexOf(image));

        ASSERT_EQ(createFirmwareFileForWeb(), 1);
        EXPECT_EQ(gDataConcatenatedLenght, static_cast<std::int32_t>(c.imageLength));

        const std::string file = readWholeFile(kWebFile);
        EXPECT_EQ(file, expectedFileFor(image));
        const WebFile parts = splitWebFile(file);
        std::vector<std::size_t> lengths;
        for (const std::string& line : parts.body) {
            lengths.push_back(line.size());
        }
        EXPECT_EQ(lengths, c.lineLengths);
        const std::string body = bodyText(parts);
        EXPECT_EQ(body.find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"),
                  std::string::npos);
        EXPECT_EQ(body.substr(body.size() - c.padCount), std::string(c.padCount, 'A'));
        EXPECT_EQ(peerImageOf(dir, body, c.imageLength), std::string(image.begin(), image.end()));
    }
}

TEST_F(WebFileTest, ConsoleOfARunEndsWithOneKey) {
    const std::vector<std::uint8_t> image = imageOf(1500);
    useImageText(intelHexOf(image));
    ASSERT_EQ(createFirmwareFileForWeb(), 1);
    EXPECT_EQ(platform::sim::consoleText(), summaryOf(image) + kPressAnyKey);
    EXPECT_EQ(keysTaken(), 1u);
    EXPECT_EQ(platform::sim::pendingConsoleInput(), "");
}

TEST_F(WebFileTest, LargestImageThatFitsIsWrittenInFull) {
    const std::vector<std::uint8_t> image = imageOf(460797);
    useImageText(intelHexOf(image));
    ASSERT_EQ(createFirmwareFileForWeb(), 1);
    const WebFile parts = splitWebFile(readWholeFile(kWebFile));
    EXPECT_EQ(bodyText(parts).size(), 614396u);
    EXPECT_EQ(readWholeFile(kWebFile), expectedFileFor(image));
}

TEST_F(WebFileTest, ImageTooLargeToEncodeLeavesNoFile) {
    const std::vector<std::uint8_t> image = imageOf(460798);
    useImageText(intelHexOf(image));
    EXPECT_EQ(createFirmwareFileForWeb(), 0);
    EXPECT_FALSE(std::filesystem::exists(kWebFile));
    EXPECT_EQ(platform::sim::consoleText(), summaryOf(image) + "\r\n ERROR BASE 64 !\r\n" +
                                                notWritten("the image is too large to encode") +
                                                kPressAnyKey);
    EXPECT_EQ(keysTaken(), 1u);
}

TEST_F(WebFileTest, AnEmptyImageGivesTheHeaderAlone) {
    const std::uint8_t onlyRecord[4] = {1, 2, 3, 4};
    useImageText(record(hex_records::kData, 0, {onlyRecord, onlyRecord + 4}) +
                 hex_records::kEndOfFile);
    ASSERT_EQ(createFirmwareFileForWeb(), 1);
    EXPECT_EQ(readWholeFile(kWebFile), std::string(kFixedHeader) + "0\r\n0\r\n");
    EXPECT_EQ(platform::sim::consoleText(), summaryOf({}) + kPressAnyKey);
}

TEST_F(WebFileTest, InvalidImageTextLeavesTheFileAlone) {
    writeWholeFile(kWebFile, "earlier file");
    useImageText(":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF01\r\n:00000001FF\r\n");
    EXPECT_EQ(createFirmwareFileForWeb(), 0);
    EXPECT_EQ(readWholeFile(kWebFile), "earlier file");
    EXPECT_EQ(platform::sim::consoleText(),
              "\r\n intel_hex_line_is_valid \r\n"
              ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF01\r\n"
              "\r\nERROR: Firmware data is not valid !\r\n");
    EXPECT_EQ(keysTaken(), 0u);
}

std::string kindOf(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    const fs::file_status status = fs::symlink_status(path);
    switch (status.type()) {
        case fs::file_type::not_found:
            return "none";
        case fs::file_type::regular:
            return "file";
        case fs::file_type::directory:
            return "directory";
        case fs::file_type::symlink:
            return "symlink";
        case fs::file_type::fifo:
            return "fifo";
        default:
            return "other";
    }
}

// Runs `body` in a child process; its exit status, or -1 when it did not exit.
// The child ends through exit, as a death test does, so that what it ran is
// counted by a coverage build.
template <typename Body>
int inChild(Body body) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        std::exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct PlaceCase {
    const char* name;
    // What holds the name before the run.
    void (*prepare)(const ScratchDirectory& dir);
    bool written;
    std::string fileMessages;  // the output file layer's own lines
    std::string reason;        // empty when written
    std::string kindAfter;     // what FwToUpload.bin is afterwards
};

// Whatever holds the name "FwToUpload.bin", the file appears whole or not at
// all: it goes to a temporary file in the same directory first and is renamed
// over the name once complete. A symlink is replaced, never written through; a
// FIFO or a directory is never opened; a failure leaves neither a partial file
// nor the temporary file, and says which file and why.
TEST_F(WebFileTest, WhatHoldsTheNameBeforehand) {
    const std::vector<PlaceCase> cases{
        {"a fresh directory", [](const ScratchDirectory&) {}, true, "", "", "file"},
        {"an existing file",
         [](const ScratchDirectory&) { writeWholeFile(kWebFile, kEarlierFile); }, true, "", "",
         "file"},
        {"a symlink to a file",
         [](const ScratchDirectory& d) {
             writeWholeFile(d / "target", kEarlierFile);
             std::filesystem::create_symlink(d / "target", kWebFile);
         },
         true, "", "", "file"},
        {"a dangling symlink",
         [](const ScratchDirectory& d) {
             std::filesystem::create_symlink(d / "missing", kWebFile);
         },
         true, "", "", "file"},
        {"a FIFO", [](const ScratchDirectory&) { ASSERT_EQ(mkfifo(kWebFile, 0600), 0); }, true, "",
         "", "file"},
        {"a directory",
         [](const ScratchDirectory&) { std::filesystem::create_directory(kWebFile); }, false, "",
         "Is a directory", "directory"},
        {"a temporary file left by someone else",
         [](const ScratchDirectory&) {
             writeWholeFile(kWebFile, kEarlierFile);
             writeWholeFile(kTemporaryFile, kEarlierFile);
         },
         false, kNoSuchFile, "cannot create FwToUpload.bin.tmp: File exists", "file"},
        {"a symlink in the temporary file's place",
         [](const ScratchDirectory& d) {
             writeWholeFile(d / "target", kEarlierFile);
             std::filesystem::create_symlink(d / "target", kTemporaryFile);
         },
         false, kNoSuchFile, "cannot create FwToUpload.bin.tmp: File exists", "none"},
    };
    const std::vector<std::uint8_t> image = imageOf(1500);
    for (const PlaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory place;
        place.enter();
        platform::sim::reset();
        platform::sim::setConsoleInput("k");
        c.prepare(place);
        const std::string temporaryBefore = kindOf(kTemporaryFile);
        useImageText(intelHexOf(image));

        EXPECT_EQ(createFirmwareFileForWeb(), c.written ? 1 : 0);

        EXPECT_EQ(platform::sim::consoleText(), summaryOf(image) + c.fileMessages +
                                                    (c.written ? "" : notWritten(c.reason)) +
                                                    kPressAnyKey);
        EXPECT_EQ(kindOf(kWebFile), c.kindAfter);
        if (c.written) {
            EXPECT_EQ(readWholeFile(kWebFile), expectedFileFor(image));
        } else if (c.kindAfter == "file") {
            EXPECT_EQ(readWholeFile(kWebFile), kEarlierFile);
        }
        EXPECT_EQ(kindOf(kTemporaryFile), temporaryBefore) << "the temporary file";
        if (std::filesystem::exists(place / "target")) {
            EXPECT_EQ(readWholeFile(place / "target"), kEarlierFile) << "a symlink's target";
        }
        EXPECT_FALSE(std::filesystem::exists(place / "missing"));
        std::filesystem::current_path(dir.path());
    }
}

// In a child process: the writer's result, then no temporary file, then the
// earlier file intact, each as one exit status.
int writeExpectingFailure() {
    if (createFirmwareFileForWeb() != 0) {
        return 10;
    }
    if (std::filesystem::exists(kTemporaryFile)) {
        return 11;
    }
    return readWholeFile(kWebFile) == kEarlierFile ? 0 : 12;
}

// The writer fails part way through the file: the file may grow to `limit`
// bytes only, the directory is read-only, or the filesystem is full. One byte
// short of the whole file, every write lands in the library's buffer and the
// failure shows only when the file is closed.
TEST_F(WebFileTest, AFailureLeavesTheEarlierFileAndNoTemporaryFile) {
    const std::vector<std::uint8_t> image = imageOf(6000);
    const rlim_t oneByteShort = expectedFileFor(image).size() - 1;
    useImageText(intelHexOf(image));
    writeWholeFile(kWebFile, kEarlierFile);
    for (const rlim_t limit : {rlim_t{10}, rlim_t{100}, rlim_t{2000}, rlim_t{7000}, oneByteShort}) {
        SCOPED_TRACE(limit);
        // The soft limit only, lifted again before the child ends: what the
        // child writes at its exit (a coverage build's data) is no part of the case.
        EXPECT_EQ(inChild([limit] {
                      std::signal(SIGXFSZ, SIG_IGN);
                      rlimit fileSize{};
                      getrlimit(RLIMIT_FSIZE, &fileSize);
                      const rlim_t unlimited = fileSize.rlim_cur;
                      fileSize.rlim_cur = limit;
                      setrlimit(RLIMIT_FSIZE, &fileSize);
                      const int result = writeExpectingFailure();
                      fileSize.rlim_cur = unlimited;
                      setrlimit(RLIMIT_FSIZE, &fileSize);
                      return result;
                  }),
                  0);
    }
    {
        SCOPED_TRACE("a read-only directory");
        std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
        std::filesystem::permissions(
            dir.path(), std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
            std::filesystem::perm_options::add);
        // Root writes anywhere: the child gives up root first.
        EXPECT_EQ(inChild([] {
                      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                          return 20;
                      }
                      return writeExpectingFailure();
                  }),
                  0);
        std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
}

// A small filesystem of its own, filled up, in a private mount namespace;
// that needs root.
TEST_F(WebFileTest, AFullFilesystemLeavesTheEarlierFileAndNoTemporaryFile) {
    useImageText(intelHexOf(imageOf(6000)));
    const int status = inChild([this] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return 77;
        }
        const std::string small = (dir / "small").string();
        std::filesystem::create_directory(small);
        if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
            return 77;
        }
        std::filesystem::current_path(small);
        writeWholeFile(kWebFile, kEarlierFile);
        {
            std::ofstream filler("filler", std::ios::binary);
            const std::string block(1024, 'f');
            while (filler.write(block.data(), block.size()) && filler.flush()) {
            }
        }
        return writeExpectingFailure();
    });
    if (status == 77) {
        GTEST_SKIP() << "no private mount namespace here (needs root): full filesystem not tried";
    }
    EXPECT_EQ(status, 0);
}

TEST_F(WebFileTest, SampleMicrocontrollerImage) {
    if (!kCatalogueHoldsSampleImages) {
        GTEST_SKIP() << "the catalogue holds a maker's images";
    }
    gHexFirmware = newImageWorkingCopy(0);
    ASSERT_NE(gHexFirmware, nullptr);
    ASSERT_EQ(createFirmwareFileForWeb(), 1);

    const std::string file = readWholeFile(kWebFile);
    const WebFile parts = splitWebFile(file);
    ASSERT_EQ(parts.header.size(), 5u);
    EXPECT_EQ(file.substr(0, 23), kFixedHeader);
    EXPECT_EQ(parts.header[3], "4278062306");
    EXPECT_EQ(parts.header[4], "127376");
    ASSERT_EQ(parts.body.size(), 184u);
    for (std::size_t i = 0; i + 1 < parts.body.size(); ++i) {
        EXPECT_EQ(parts.body[i].size(), kBodyLine) << "body line " << i + 1;
    }
    EXPECT_EQ(parts.body.back().size(), 12u);
    const std::string body = bodyText(parts);
    EXPECT_EQ(body.size(), 169836u);
    EXPECT_EQ(body.back(), 'A');

    const std::string image(reinterpret_cast<const char*>(gDataConcatenated), 127376);
    EXPECT_EQ(peerImageOf(dir, body, 127376), image);
}

}  // namespace
