// The line formats of directory listings: LIST, NLST and MLSD/MLST fact lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "service/ftp/ftp_context.h"
#include "service/ftp/list_output.h"

namespace corvane {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

local_seconds Local(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
  return local_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s};
}

// Today is 20 June 2024, one hour east of UTC: dates from 20 December 2023 on are recent.
TListClock June20() {
  TListClock clock;
  clock.Today = local_days{2024y / June / 20};
  clock.UtcOffset = 1h;
  return clock;
}

TListOutputItem Item(const std::string& name, TDirItemType type, std::uint64_t size,
                     local_seconds modified, const std::string& permissions = "rw-") {
  TListOutputItem item;
  item.FileName = name;
  item.ItemType = type;
  item.Size = size;
  item.ModifiedDate = modified;
  item.OwnerName = "ftp";
  item.GroupName = "ftp";
  item.OwnerPermissions = item.GroupPermissions = item.OtherPermissions = permissions;
  return item;
}

constexpr TDirItemType kFile = TDirItemType::ditFile;
constexpr TDirItemType kDir = TDirItemType::ditDirectory;

struct LongLineCase {
  const char* what;
  TListOutputItem item;
  bool full_time;
  TListClock clock;
  const char* expected;
};

TEST(ListOutputTest, LongLineFormats) {
  TListOutputItem linked = Item("current", TDirItemType::ditSymbolicLink, 7, Local(2024, 5, 1, 8));
  linked.LinkedItemName = "releases/3.1";
  TListOutputItem long_owner = Item("big.iso", kFile, 123456789012ULL, Local(2024, 6, 1, 12));
  long_owner.OwnerName = "administrator";
  long_owner.LinkCount = 12;
  TListClock end_of_august;
  end_of_august.Today = local_days{2024y / August / 31};

  const std::vector<LongLineCase> cases = {
      {"recent file", Item("report.txt", kFile, 1234, Local(2024, 1, 5, 9, 7)), false, June20(),
       "-rw-rw-rw-   1 ftp      ftp          1234 Jan 05 09:07 report.txt"},
      {"directory shows 512", Item("photos", kDir, 0, Local(2024, 3, 30, 18, 0)), false, June20(),
       "drw-rw-rw-   1 ftp      ftp           512 Mar 30 18:00 photos"},
      {"read-only executable, two years old",
       Item("setup.exe", kFile, 40960, Local(2022, 7, 14, 10, 30), "r-x"), false, June20(),
       "-r-xr-xr-x   1 ftp      ftp         40960 Jul 14  2022 setup.exe"},
      {"seven months old shows the year", Item("old.txt", kFile, 5, Local(2023, 11, 20, 23, 59)),
       false, June20(), "-rw-rw-rw-   1 ftp      ftp             5 Nov 20  2023 old.txt"},
      {"six months to the day is recent", Item("edge.txt", kFile, 0, Local(2023, 12, 20, 0, 0)),
       false, June20(), "-rw-rw-rw-   1 ftp      ftp             0 Dec 20 00:00 edge.txt"},
      {"the day before is older", Item("edge.txt", kFile, 0, Local(2023, 12, 19, 23, 59)), false,
       June20(), "-rw-rw-rw-   1 ftp      ftp             0 Dec 19  2023 edge.txt"},
      {"a future date is recent", Item("next.txt", kFile, 0, Local(2025, 2, 3, 4, 5)), false,
       June20(), "-rw-rw-rw-   1 ftp      ftp             0 Feb 03 04:05 next.txt"},
      {"T on a recent date", Item("report.txt", kFile, 1234, Local(2024, 1, 5, 9, 7, 3)), true,
       June20(), "-rw-rw-rw-   1 ftp      ftp          1234 Jan 05 09:07:03 2024 report.txt"},
      {"T on an old date", Item("old.txt", kFile, 5, Local(2009, 12, 31, 23, 0, 58)), true,
       June20(), "-rw-rw-rw-   1 ftp      ftp             5 Dec 31 23:00:58 2009 old.txt"},
      {"hidden name", Item(".profile", kFile, 220, Local(2024, 6, 19, 7, 0)), false, June20(),
       "-rw-rw-rw-   1 ftp      ftp           220 Jun 19 07:00 .profile"},
      {"wide size and owner are never cut", long_owner, false, June20(),
       "-rw-rw-rw-  12 administrator ftp      123456789012 Jun 01 12:00 big.iso"},
      {"symbolic link with its target", linked, false, June20(),
       "lrw-rw-rw-   1 ftp      ftp             7 May 01 08:00 current -> releases/3.1"},
      {"31 August reaches back to 29 February", Item("leap", kFile, 0, Local(2024, 2, 29, 1, 2)),
       false, end_of_august, "-rw-rw-rw-   1 ftp      ftp             0 Feb 29 01:02 leap"},
      {"and not to 28 February", Item("leap", kFile, 0, Local(2024, 2, 28, 1, 2)), false,
       end_of_august, "-rw-rw-rw-   1 ftp      ftp             0 Feb 28  2024 leap"},
  };
  for (const LongLineCase& c : cases)
    EXPECT_EQ(FormatLongLine(c.item, c.full_time, c.clock), c.expected) << c.what;
}

TListOutput Listing(const std::vector<std::string>& names) {
  TListOutput listing;
  for (const std::string& name : names) {
    const bool directory = name.back() == '/';
    listing.Add() = Item(name, directory ? kDir : kFile, directory ? 0 : 1, Local(2024, 6, 1, 10));
  }
  for (TListOutputItem& item : listing.Items())
    if (item.FileName.back() == '/') item.FileName.pop_back();
  return listing;
}

TEST(ListOutputTest, SelectionAndOrder) {
  // The runner's collation is the C locale's: byte order, so upper case before lower case.
  TListOutput listing = Listing({"b", "B", ".b", "../", "./", "a", ".a", "_x", "sub/"});
  EXPECT_EQ(listing.NameLines(June20()),
            (std::vector<std::string>{".a", ".b", "B", "_x", "a", "b", "sub"}));
  listing.Switches = "-a";
  EXPECT_EQ(listing.NameLines(June20()),
            (std::vector<std::string>{".", "..", ".a", ".b", "B", "_x", "a", "b", "sub"}));
  // Any letter anywhere in the word counts; case counts.
  listing.Switches = "-xAl";
  const std::vector<std::string> long_lines = listing.NameLines(June20());
  ASSERT_EQ(long_lines.size(), 8u);
  EXPECT_EQ(long_lines[0], "total 0");
  EXPECT_EQ(long_lines[1], "-rw-rw-rw-   1 ftp      ftp             1 Jun 01 10:00 .a");
  EXPECT_EQ(long_lines[7], "drw-rw-rw-   1 ftp      ftp           512 Jun 01 10:00 sub");
}

TEST(ListOutputTest, ListAndNlstLines) {
  TListOutput empty;
  EXPECT_EQ(empty.LongLines(June20()), std::vector<std::string>{"total 0"});
  EXPECT_TRUE(empty.NameLines(June20()).empty());
  empty.Switches = "-l";
  EXPECT_EQ(empty.NameLines(June20()), std::vector<std::string>{"total 0"});

  // LIST is long whatever the switches; "a" adds "." and ".." first; "T" the full time.
  TListOutput listing = Listing({"z.txt", "./", "../"});
  listing.Switches = "-aT";
  EXPECT_EQ(listing.LongLines(June20()),
            (std::vector<std::string>{
                "total 0", "drw-rw-rw-   1 ftp      ftp           512 Jun 01 10:00:00 2024 .",
                "drw-rw-rw-   1 ftp      ftp           512 Jun 01 10:00:00 2024 ..",
                "-rw-rw-rw-   1 ftp      ftp             1 Jun 01 10:00:00 2024 z.txt"}));
  listing.Switches.clear();
  EXPECT_EQ(listing.LongLines(June20()).size(), 2u);
}

TEST(ListOutputTest, FactLines) {
  // Reading order is kept and nothing is left out.
  TListOutput listing = Listing({"sub/", "./", "report.txt", "../"});
  listing.Items()[2].Size = 1234;
  listing.Items()[2].ModifiedDate = Local(2011, 1, 5, 9, 7);
  const unsigned all = mlsType | mlsModify | mlsSize;
  EXPECT_EQ(listing.FactLines(all, June20()),
            (std::vector<std::string>{"Size=0;type=dir;modify=20240601090000; sub",
                                      "Size=0;type=cdir;modify=20240601090000; .",
                                      "Size=1234;type=file;modify=20110105080700; report.txt",
                                      "Size=0;type=pdir;modify=20240601090000; .."}));
  const TListOutputItem& report = listing.Items()[2];
  EXPECT_EQ(FormatFactLine(report, mlsSize, June20()), "Size=1234; report.txt");
  EXPECT_EQ(FormatFactLine(report, mlsModify | mlsType, June20()),
            "type=file;modify=20110105080700; report.txt");
  EXPECT_EQ(FormatFactLine(report, 0, June20()), "report.txt");

  // A UTC instant the handler knows wins over the current offset (daylight saving).
  TListOutputItem winter = report;
  winter.ModifiedDateGMT = sys_days{2011y / January / 5} + 8h + 7min;
  TListClock summer = June20();
  summer.UtcOffset = 2h;
  EXPECT_EQ(FormatFactLine(winter, mlsModify, summer), "modify=20110105080700; report.txt");
  EXPECT_EQ(FormatFactLine(report, mlsModify, summer), "modify=20110105070700; report.txt");

  TListOutputItem unknown = report;
  unknown.SizeAvail = false;
  unknown.ModifiedAvail = false;
  EXPECT_EQ(FormatFactLine(unknown, all, June20()), "type=file; report.txt");
}

TEST(ListOutputTest, WireEncodingKeepsLinesWhole) {
  struct Case {
    std::string line;
    bool utf8;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"caf\xC3\xA9.txt", false, "caf?.txt"},
      {"caf\xC3\xA9.txt", true, "caf\xC3\xA9.txt"},
      {"\xE6\x97\xA5\xE6\x9C\xAC", false, "??"},
      {"bad\xFF\xFEname", true, "bad??name"},
      {"bad\xFF\xFEname", false, "bad??name"},
      {"evil\r\n226 Done", false, "evil??226 Done"},
      {"evil\r\n226 Done", true, "evil??226 Done"},
      {"tab\there", false, "tab?here"},
      {"plain -rw-rw-rw- name", true, "plain -rw-rw-rw- name"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EncodeListingLine(c.line, c.utf8), c.expected) << c.line << " utf8=" << c.utf8;
  EXPECT_EQ(ReplySafeName("a\rb\nc"), "a?b?c");
}

// A listing large enough to be selected, formatted, sorted and written on two threads comes out
// exactly as each entry's own line, encoded and sorted one by one, with a polling point after
// lines 1, 11, 21, ...
TEST(ListOutputTest, LargeListingsMatchTheirLinesOneByOne) {
  constexpr std::size_t kEntries = 40000;
  TListOutput listing;
  std::vector<std::string> names;
  for (std::size_t index = 0; index < kEntries; ++index) {
    // Reading order is not name order; a few names need encoding, a few begin with ".".
    const std::size_t key = (index * 7919) % kEntries;
    std::string name = (key % 97 == 0 ? "." : "") + std::to_string(key) + "-entry";
    if (key % 501 == 0) name += "-caf\xC3\xA9";
    if (key % 777 == 0) name += "\r\nbad\xFF";
    TListOutputItem& item = listing.Add();
    item = Item(name, key % 5 == 0 ? kDir : kFile, key, Local(2024, 1 + key % 12, 1 + key % 28));
    item.NumberBlocks = key % 3;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::map<std::string, const TListOutputItem*> by_name;
  std::uint64_t blocks = 0;
  for (const TListOutputItem& item : listing.Items()) {
    by_name[item.FileName] = &item;
    blocks += item.NumberBlocks;
  }
  // The same entries as the compact table a directory listing fills.
  TListOutput table_listing;
  TListTable table;
  table.OwnerName = table.GroupName = "ftp";
  for (const TListOutputItem& item : listing.Items()) {
    TListTableRow& row = table.Rows.emplace_back();
    row.NameOffset = static_cast<std::uint32_t>(table.Names.size());
    row.NameSize = static_cast<std::uint32_t>(item.FileName.size());
    table.Names += item.FileName + '\0';
    row.Directory = item.ItemType == kDir;
    row.Size = item.Size;
    row.ModifiedDate = item.ModifiedDate;
  }
  table_listing.SetTable(std::move(table));
  for (const bool utf8 : {false, true}) {
    std::string expected_names;
    std::string expected_long = "total " + std::to_string(blocks) + "\r\n";
    for (const std::string& name : names) {
      expected_names += EncodeListingLine(name, utf8) + "\r\n";
      expected_long +=
          EncodeListingLine(FormatLongLine(*by_name.at(name), false, June20()), utf8) + "\r\n";
    }
    TListingText name_text(utf8), long_text(utf8);
    listing.WriteNameLines(June20(), name_text);
    listing.WriteLongLines(June20(), long_text);
    EXPECT_TRUE(name_text.bytes == expected_names) << "utf8=" << utf8;
    EXPECT_TRUE(long_text.bytes == expected_long) << "utf8=" << utf8;
    TListingText table_names(utf8), table_long(utf8);
    table_listing.WriteNameLines(June20(), table_names);
    table_listing.WriteLongLines(June20(), table_long);
    EXPECT_TRUE(table_names.bytes == expected_names) << "table, utf8=" << utf8;
    // Table rows carry no block counts: only the total line differs.
    EXPECT_TRUE(table_long.bytes.substr(table_long.bytes.find('\n')) ==
                long_text.bytes.substr(long_text.bytes.find('\n')))
        << "table, utf8=" << utf8;
    EXPECT_EQ(name_text.line_count, kEntries);
    EXPECT_EQ(long_text.line_count, kEntries + 1);
    // The points lie just past the ends of lines 1, 11, 21, ...
    std::vector<std::size_t> line_ends;
    for (std::size_t at = 0; (at = long_text.bytes.find("\r\n", at)) != std::string::npos;)
      line_ends.push_back(at += 2);
    std::vector<std::size_t> expected_points;
    for (std::size_t line = 0; line < line_ends.size(); line += 10)
      expected_points.push_back(line_ends[line]);
    EXPECT_EQ(long_text.poll_offsets, expected_points);
  }
}

TEST(ListOutputTest, ClockNowIsToday) {
  const TListClock clock = TListClock::Now();
  const auto utc_today = floor<days>(system_clock::now());
  const auto local_today = clock.Today.time_since_epoch();
  EXPECT_LE(std::chrono::abs(local_today - utc_today.time_since_epoch()), days{1});
  EXPECT_LE(std::chrono::abs(clock.UtcOffset), hours{15});
}

}  // namespace
}  // namespace corvane
