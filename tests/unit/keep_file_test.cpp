#include "keep/keep_file.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(KeepFile, ReadsTheWordsOfAddWithDefaultsCommentsAndBlankLines) {
    const std::string text = "# web and games\n"
                             "\n"
                             "tcp 8080\n"
                             "UDP 27015 @ 27016 game server  # the LAN one\n"
                             "  TCP 2222 192.168.1.30 22 ssh#1 on the NAS # old box\r\n"
                             "TCP 443 192.168.1.30 # no comment";
    std::vector<cKeepEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseKeepFile(text, "keep.conf", entries, error)) << error;
    ASSERT_EQ(entries.size(), 4u);
    const auto Show = [](const cKeepEntry& e) {
        return std::to_string(e.line) + " " + e.mapping.protocol + " " +
               std::to_string(e.mapping.externalPort) + " " +
               (e.followsHost ? "@" : e.mapping.internalClient) + " " +
               std::to_string(e.mapping.internalPort) + " [" + e.mapping.description + "]";
    };
    EXPECT_EQ(Show(entries[0]), "3 TCP 8080 @ 8080 []");
    EXPECT_EQ(Show(entries[1]), "4 UDP 27015 @ 27016 [game server]");
    EXPECT_EQ(Show(entries[2]), "5 TCP 2222 192.168.1.30 22 [ssh#1 on the NAS]");
    EXPECT_EQ(Show(entries[3]), "6 TCP 443 192.168.1.30 443 []");
}

TEST(KeepFile, BadLinesNameFileLineAndReason) {
    const struct {
        const char* text;
        const char* error;
    } rows[] = {
        {"SCTP 80", "k:1: unknown protocol SCTP (TCP or UDP)"},
        {"TCP", "k:1: expected PROTO EXT_PORT [CLIENT [INT_PORT [COMMENT...]]]"},
        {"\nTCP 0", "k:2: external port out of range: 0 (1-65535)"},
        {"TCP 65536", "k:1: external port out of range: 65536 (1-65535)"},
        {"TCP 80x", "k:1: external port out of range: 80x (1-65535)"},
        {"TCP 7500-7509", "k:1: one port a line, not a range: 7500-7509"},
        {"TCP 80 @ 70000", "k:1: internal port out of range: 70000 (1-65535)"},
        {"TCP 80 8080", "k:1: client must be an IPv4 address or @: 8080"},
        {"TCP 80 192.168.1.256", "k:1: client must be an IPv4 address or @: 192.168.1.256"},
        {"TCP 80\n# x\ntcp 80 @ 81", "k:3: duplicate TCP 80 (first on line 1)"},
        {"TCP 80\nUDP 80", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        std::vector<cKeepEntry> entries;
        std::string error;
        const bool ok = ParseKeepFile(row.text, "k", entries, error);
        EXPECT_EQ(ok, row.error == nullptr);
        EXPECT_EQ(error, row.error ? row.error : "");
    }
}

TEST(KeepFile, HoldsAtMost1024Mappings) {
    std::string text;
    for (int port = 1; port <= kMaxKeptMappings; ++port)
        text += "TCP " + std::to_string(port) + "\n";
    std::vector<cKeepEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseKeepFile(text, "k", entries, error));
    EXPECT_EQ(entries.size(), 1024u);
    text += "UDP 1\n";
    EXPECT_FALSE(ParseKeepFile(text, "k", entries, error));
    EXPECT_EQ(error, "k:1025: more than 1024 mappings");
    EXPECT_EQ(entries.size(), 1024u); // the earlier set stays
}

TEST(KeepFile, UnreadableOrOversizedFileIsRefusedWhole) {
    std::vector<cKeepEntry> entries;
    std::string error;
    EXPECT_FALSE(ReadKeepFile("/nonexistent/keep.conf", entries, error));
    EXPECT_EQ(error, "/nonexistent/keep.conf: cannot be read: No such file or directory");
    const std::string path = ::testing::TempDir() + "keep_file_test_huge.conf";
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        const std::string line(1023, '#');
        for (int i = 0; i <= 1024; ++i)
            std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
    EXPECT_FALSE(ReadKeepFile(path, entries, error));
    EXPECT_EQ(error, path + ": larger than 1048576 bytes");
    std::remove(path.c_str());
}

} // namespace
