#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

enum class TDirItemType { ditDirectory, ditFile, ditSymbolicLink, ditSymbolicLinkDir };

// One entry of a directory listing, as the listing handler fills it in.
struct TListOutputItem {
  std::string FileName;  // no directory part
  TDirItemType ItemType = TDirItemType::ditFile;
  std::uint64_t Size = 0;
  bool SizeAvail = true;
  std::chrono::local_seconds ModifiedDate{};  // local time
  // The same instant in UTC when the handler knows it; otherwise fact lines derive it from
  // ModifiedDate with the current offset from UTC.
  std::optional<std::chrono::sys_seconds> ModifiedDateGMT;
  bool ModifiedAvail = true;
  std::chrono::local_seconds CreationDate{};
  std::chrono::local_seconds LastAccessDate{};
  std::string OwnerName;
  std::string GroupName;
  // Three characters each, such as "rw-".
  std::string OwnerPermissions;
  std::string GroupPermissions;
  std::string OtherPermissions;
  std::uint32_t LinkCount = 0;
  std::uint64_t NumberBlocks = 0;
  std::string LinkedItemName;
  std::string UniqueID;
  std::string MLSTPermissions;
};

// A whole directory as the server's listing handler reads it, held compactly: the names in one
// buffer (each followed by a NUL) and a small row per entry. Every row shows the table's owner
// and group names, and the same permissions for owner, group and others: "r", then "w" when
// writable, then "x" when executable.
struct TListTableRow {
  std::uint32_t NameOffset = 0;
  std::uint32_t NameSize = 0;
  bool Directory = false;
  bool Writable = true;
  bool Executable = false;
  std::uint64_t Size = 0;
  std::chrono::local_seconds ModifiedDate{};
  std::chrono::sys_seconds ModifiedDateGMT{};
};

struct TListTable {
  std::string Names;
  std::vector<TListTableRow> Rows;
  std::string OwnerName;
  std::string GroupName;
};

// The moment a listing is formatted against: today's local date (for the recent/older date
// forms) and the current offset of local time from UTC (for fact lines). Tests set both.
struct TListClock {
  std::chrono::local_days Today{};
  std::chrono::seconds UtcOffset{0};

  static TListClock Now();
};

// The bytes of a listing as they go on the wire, in one buffer: every line encoded for the
// connection (EncodeListingLine) and ended by CR LF, and the points after which a transfer
// polls its control connection: the end of line 1, then of every tenth line (11, 21, ...).
struct TListingText {
  std::string bytes;
  std::vector<std::size_t> poll_offsets;  // offsets in bytes just past those lines
  std::size_t line_count = 0;
  bool utf8 = false;  // how lines are encoded

  explicit TListingText(bool utf8_lines = false) : utf8(utf8_lines) {}
  void AppendLine(std::string_view line);
  // Appends lines that are encoded already, each followed by CR LF, with their polling points.
  void AppendEncodedLines(const std::vector<std::string_view>& lines);
  // Ends the line that was appended to bytes from start on: encodes it in place when it holds
  // anything but printable ASCII, then adds CR LF and the polling point.
  void EndLine(std::size_t start);
};

// The entries of one listed directory and the options in effect; formats itself into the
// lines of LIST, NLST and MLSD/MLST. Lines carry no line end and are internal UTF-8.
class TListOutput {
 public:
  // The option word of the command ("-la"); only "l", "a" and "T" have an effect.
  std::string Switches;
  // LIST writes a "total" line (always on in this server). Listings are always Unix style.
  bool ExportTotalLine = true;

  // The returned entry stays valid until the next Add beyond the reserved room.
  TListOutputItem& Add() { return Items().emplace_back(); }
  // Room for count entries in all, so a large directory is read without moving entries.
  void Reserve(std::size_t count) { Items().reserve(count); }
  // Replaces the entries by a whole directory in compact form; the lines are formatted from it
  // directly. Items() turns it into entries when they are asked for.
  void SetTable(TListTable table);
  std::size_t Count() const { return items_.size() + table_.Rows.size(); }
  const std::vector<TListOutputItem>& Items() const;
  std::vector<TListOutputItem>& Items();

  // What the lines show of one entry, whether it is held as an item or as a table row.
  struct EntryView;

  bool HasSwitch(char letter) const { return Switches.find(letter) != std::string::npos; }

  // The lines below are returned as a UTF-8 wire text holds them (EncodeListingLine), without
  // line ends.
  // LIST, STAT with a path and NLST with "l": the total line, then one long line per selected
  // entry in name order.
  std::vector<std::string> LongLines(const TListClock& clock) const;
  // NLST: bare names in name order; the long lines when the switches hold "l".
  std::vector<std::string> NameLines(const TListClock& clock) const;
  // MLSD and MLST: one fact line per entry, every entry in reading order. facts is a
  // TMlsFact bit set.
  std::vector<std::string> FactLines(unsigned facts, const TListClock& clock) const;

  // The same lines written straight into a listing's wire text.
  void WriteLongLines(const TListClock& clock, TListingText& text) const;
  void WriteNameLines(const TListClock& clock, TListingText& text) const;
  void WriteFactLines(unsigned facts, const TListClock& clock, TListingText& text) const;

 private:
  // The lines of the entries LIST and NLST show ("." and ".." only with "a"), in name order:
  // names beginning with "." first ("." then ".."), then the locale's collation (LC_COLLATE),
  // case-sensitive. Each line is encoded for the wire, without its line end; with long_lines
  // it is the entry's long line, otherwise its name.
  struct SortedLines;
  void SortLines(const TListClock* long_lines, bool utf8, SortedLines& out) const;
  std::string_view NameAt(std::size_t index) const;
  EntryView ViewAt(std::size_t index) const;
  // The table's rows as entries, once.
  void MakeItems() const;

  // Either holds the entries; the table only until items are asked for.
  mutable std::vector<TListOutputItem> items_;
  mutable TListTable table_;
};

// One LIST line of an entry; full_time is the "T" switch.
std::string FormatLongLine(const TListOutputItem& item, bool full_time, const TListClock& clock);
// One MLSD/MLST fact line of an entry.
std::string FormatFactLine(const TListOutputItem& item, unsigned facts, const TListClock& clock);

// A listing line as it goes on the wire: UTF-8 (invalid sequences become "?") when utf8 is
// set, otherwise 7-bit US-ASCII with "?" for every other character. Either way CR and LF
// (and in ASCII every control character) become "?" so a file name cannot start a new line.
std::string EncodeListingLine(std::string line, bool utf8);
// A file name made safe for a reply line: CR and LF become "?".
std::string ReplySafeName(std::string name);

}  // namespace corvane
