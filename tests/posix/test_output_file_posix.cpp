// writeSnapshot over real POSIX files: the rewrite in place and what each
// failure leaves behind.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "snapshot/output_file.hpp"
#include "tests/file_bytes.hpp"
#include "terminal/screen.hpp"

namespace vtsnap {
namespace {

using vtsnap::test::kBom;

void feed(Screen& screen, std::string_view bytes) {
    screen.feedBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vtsnap-snapshot-XXXXXX";
        fd_ = mkstemp(pattern);
        ASSERT_GE(fd_, 0);
        path_ = pattern;
    }
    void TearDown() override {
        if (fd_ >= 0) close(fd_);
        unlink(path_.c_str());
    }

    std::string contents() const {
        std::string out;
        const int reader = open(path_.c_str(), O_RDONLY);
        char buffer[4096];
        ssize_t n;
        while ((n = read(reader, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
        close(reader);
        return out;
    }
    void replaceWith(std::string_view bytes) const {
        ASSERT_EQ(pwrite(fd_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        ASSERT_EQ(ftruncate(fd_, static_cast<off_t>(bytes.size())), 0);
    }

    int fd_ = -1;
    std::string path_;
    Screen screen_{120, 10};
};

TEST_F(OutputFileTest, ABlankScreenLeavesOnlyTheByteOrderMark) {
    replaceWith(std::string(5000, 'x'));
    lseek(fd_, 1234, SEEK_SET);  // wherever the position was left
    EXPECT_TRUE(writeSnapshot(screen_, OutputFile(fd_), false));
    EXPECT_EQ(contents(), kBom);
}

TEST_F(OutputFileTest, AShorterSnapshotLeavesNoStaleTail) {
    feed(screen_, "a long first line\r\nand a second one\r\n");
    ASSERT_TRUE(writeSnapshot(screen_, OutputFile(fd_), false));
    EXPECT_EQ(contents(), std::string(kBom) + "a long first line\r\nand a second one\r\n");
    feed(screen_, "\x1b[2J\x1b[Hshort\r\n");
    ASSERT_TRUE(writeSnapshot(screen_, OutputFile(fd_), false));
    EXPECT_EQ(contents(), std::string(kBom) + "short\r\n");
}

TEST_F(OutputFileTest, AReaderHoldingTheFileDoesNotStopTheRewrite) {
    const int reader = open(path_.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    feed(screen_, "\x1b[31mred\x1b[m");
    ASSERT_TRUE(writeSnapshot(screen_, OutputFile(fd_), true));
    char buffer[64];
    ssize_t n = pread(reader, buffer, sizeof buffer, 0);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), std::string(kBom) + "\x1b[31mred\x1b[0m\r\n");
    feed(screen_, "\x1b[H\x1b[K");
    ASSERT_TRUE(writeSnapshot(screen_, OutputFile(fd_), true));
    n = pread(reader, buffer, sizeof buffer, 0);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), kBom);
    close(reader);
}

TEST_F(OutputFileTest, AnUnchangedScreenIsWrittenAgain) {
    feed(screen_, "same");
    ASSERT_TRUE(writeSnapshot(screen_, OutputFile(fd_), false));
    const std::string first = contents();
    replaceWith("someone else's bytes, longer than the snapshot");
    ASSERT_TRUE(writeSnapshot(screen_, OutputFile(fd_), false));
    EXPECT_EQ(contents(), first);
    EXPECT_EQ(first, std::string(kBom) + "same\r\n");
}

TEST_F(OutputFileTest, AWideCharacterAtTheEdgeGoesWholeToTheNextRow) {
    feed(screen_, std::string(119, 'x') + "\xF0\x9F\x98\x80");
    EXPECT_TRUE(writeSnapshot(screen_, OutputFile(fd_), false));
    EXPECT_EQ(contents(), std::string(kBom) + std::string(119, 'x') + "\r\n\xF0\x9F\x98\x80\r\n");
}

TEST_F(OutputFileTest, FailuresReportFalse) {
    feed(screen_, "text");

    // Cannot seek: a pipe; nothing is written into it.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_FALSE(writeSnapshot(screen_, OutputFile(fds[1]), false));
    close(fds[1]);
    char byte;
    EXPECT_EQ(read(fds[0], &byte, 1), 0);
    close(fds[0]);

    // Cannot write: opened for reading only; the file keeps what it held.
    replaceWith("previous");
    const int readOnly = open(path_.c_str(), O_RDONLY);
    EXPECT_FALSE(writeSnapshot(screen_, OutputFile(readOnly), false));
    close(readOnly);
    EXPECT_EQ(contents(), "previous");

    // No room to write.
    const int full = open("/dev/full", O_WRONLY);
    if (full >= 0) {
        EXPECT_FALSE(writeSnapshot(screen_, OutputFile(full), false));
        close(full);
    }

    // Written, but the file cannot be cut there.
    const int null = open("/dev/null", O_WRONLY);
    ASSERT_GE(null, 0);
    EXPECT_FALSE(writeSnapshot(screen_, OutputFile(null), false));
    close(null);
}

}  // namespace
}  // namespace vtsnap
