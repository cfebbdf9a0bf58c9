// The bytes a table file gets, and what happens when they cannot be written.
#include "export/table_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include <unistd.h>

#include "export/conversion_error.h"
#include "tests/support/idb_builder.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using idb::testing::ReadFile;
using idb::testing::TempDir;
using idb::testing::WriteFile;

namespace {


template <typename F>
std::optional<idb::ConversionError> CatchConversionError(F&& f) {
    try {
        f();
    } catch (const idb::ConversionError& e) {
        return e;
    }
    return std::nullopt;
}

bool Contains(std::string_view text, std::string_view piece) { return text.find(piece) != std::string_view::npos; }

}  // namespace

TEST(TableWriter, HeaderCellsAndRowsGiveTabsAndCrLf) {
    TempDir dir;
    idb::TableWriter out;
    out.Create(dir.path(), "T.txt");
    out.WriteHeader("A\tB\r\nC\tD");
    out.WriteCell("x");
    out.WriteCell("");
    out.EndRow();
    out.EndRow();  // a row without cells is just its line end
    out.WriteCell("\xC0\x01\n");  // cell bytes go out as they are
    out.EndRow();
    EXPECT_EQ(out.Rows(), 3);
    out.Close();
    EXPECT_EQ(ReadFile(dir / "T.txt"), "A\tB\r\nC\tD\r\nx\t\t\r\n\r\n\xC0\x01\n\t\r\n");
    EXPECT_EQ(out.Path(), dir / "T.txt");
}

TEST(TableWriter, OutputLargerThanItsBufferArrivesWholeAndInOrder) {
    TempDir dir;
    std::string expected = "H\r\n";
    {
        idb::TableWriter out;
        out.Create(dir.path(), "Big.txt");
        out.WriteHeader("H");
        for (int row = 0; row < 3000; ++row) {
            for (int cell = 0; cell < 20; ++cell) {
                const std::string text = std::to_string(row * 20 + cell);
                out.WriteCell(text);
                expected += text + "\t";
            }
            out.EndRow();
            expected += "\r\n";
        }
        // One cell longer than the whole buffer.
        const std::string huge(200 * 1024, 'z');
        out.WriteCell(huge);
        expected += huge + "\t";
        out.Close();
    }
    ASSERT_GT(expected.size(), 3u * 64 * 1024);
    EXPECT_EQ(ReadFile(dir / "Big.txt"), expected);
}

TEST(TableWriter, CreateReplacesAnExistingFile) {
    TempDir dir;
    WriteFile(dir / "T.txt", std::string(10000, 'o'));
    idb::TableWriter out;
    out.Create(dir.path(), "T.txt");
    out.WriteHeader("new");
    out.Close();
    EXPECT_EQ(ReadFile(dir / "T.txt"), "new\r\n");
}

TEST(TableWriter, SecondCreateFinishesTheFirstTable) {
    TempDir dir;
    idb::TableWriter out;
    out.Create(dir.path(), "A.txt");
    out.WriteCell("a");
    out.Create(dir.path(), "B.txt");
    EXPECT_EQ(out.Rows(), 0);
    out.WriteCell("b");
    out.Close();
    EXPECT_EQ(ReadFile(dir / "A.txt"), "a\t");
    EXPECT_EQ(ReadFile(dir / "B.txt"), "b\t");
}

TEST(TableWriter, DestructorKeepsWhatWasWritten) {
    TempDir dir;
    {
        idb::TableWriter out;
        out.Create(dir.path(), "T.txt");
        out.WriteHeader("H");
        out.WriteCell("half");
    }
    EXPECT_EQ(ReadFile(dir / "T.txt"), "H\r\nhalf\t");
}

TEST(TableWriter, DecimalSeparatorIsKeptForTheCells) {
    const idb::TableWriter comma(",");
    EXPECT_EQ(comma.DecimalSeparator(), ",");
    EXPECT_EQ(idb::FormatSingle(0.5f, comma.DecimalSeparator()), "0,5");
    EXPECT_EQ(idb::TableWriter().DecimalSeparator(), ".");
}

TEST(TableWriterFailure, CreateInAMissingFolderNamesThePathAndTheReason) {
    TempDir dir;
    idb::TableWriter out;
    const auto error = CatchConversionError([&] { out.Create(dir / "missing", "T.txt"); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->Code(), std::errc::no_such_file_or_directory);
    EXPECT_TRUE(Contains(error->what(), idb::QuotePath(dir / "missing" / "T.txt"))) << error->what();
    EXPECT_TRUE(Contains(error->what(), error->Code().message())) << error->what();
}

TEST(TableWriterFailure, FullDiskIsReportedByClose) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    idb::TableWriter out;
    out.Create("/dev", "full");
    out.WriteHeader("a small table that fits every buffer");
    out.WriteCell("x");
    out.EndRow();
    const auto error = CatchConversionError([&] { out.Close(); });
    ASSERT_TRUE(error.has_value()) << "a table that never reached the disk must not close quietly";
    EXPECT_EQ(error->Code(), std::errc::no_space_on_device);
    EXPECT_TRUE(Contains(error->what(), "\"/dev/full\"")) << error->what();
    EXPECT_TRUE(Contains(error->what(), error->Code().message())) << error->what();
    // The failed table is closed; closing again has nothing left to report.
    EXPECT_NO_THROW(out.Close());
}

TEST(TableWriterFailure, FullDiskIsReportedWhileWritingALargeTable) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    idb::TableWriter out;
    out.Create("/dev", "full");
    const auto error = CatchConversionError([&] {
        for (int i = 0; i < 100000; ++i) out.WriteCell("0123456789");
    });
    ASSERT_TRUE(error.has_value()) << "the first buffer that cannot go out must stop the writing";
    EXPECT_EQ(error->Code(), std::errc::no_space_on_device);
    EXPECT_TRUE(Contains(error->what(), "\"/dev/full\"")) << error->what();
}
