#include "service/ftp/list_output.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>

#include "platform/helper_thread.h"
#include "service/ftp/ftp_context.h"
#include "service/ftp/text_encoding.h"

namespace corvane {

struct TListOutput::EntryView {
  std::string_view name;
  TDirItemType type = TDirItemType::ditFile;
  std::uint64_t size = 0;
  bool size_avail = true;
  std::chrono::local_seconds modified{};
  std::optional<std::chrono::sys_seconds> modified_gmt;
  bool modified_avail = true;
  std::string_view owner, group;
  std::string_view owner_permissions, group_permissions, other_permissions;
  std::uint32_t link_count = 0;
  std::uint64_t blocks = 0;
  std::string_view linked;
};

namespace {

using std::chrono::days;
using std::chrono::floor;
using std::chrono::local_days;
using std::chrono::local_seconds;
using std::chrono::seconds;
using std::chrono::sys_days;
using std::chrono::sys_seconds;

// The system's separator between hours, minutes and seconds.
constexpr char kTimeSeparator = ':';
constexpr std::uint64_t kDirectoryListedSize = 512;
// A listing is polled for commands after its first line and then after every tenth.
constexpr std::size_t kLinesPerPoll = 10;

constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct CivilTime {
  int year;
  unsigned month;  // 1..12
  unsigned day;
  long hour, minute, second;
};

template <class Clock>
CivilTime ToCivil(std::chrono::time_point<Clock, seconds> when) {
  const auto day = floor<days>(when);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss<seconds> time{when - day};
  return {static_cast<int>(date.year()),
          static_cast<unsigned>(date.month()),
          static_cast<unsigned>(date.day()),
          static_cast<long>(time.hours().count()),
          static_cast<long>(time.minutes().count()),
          static_cast<long>(time.seconds().count())};
}

// The same day of the month six months before today, or the last day of that month when it
// is shorter (31 August gives 28 or 29 February).
local_days SixMonthsBefore(local_days today) {
  const std::chrono::year_month_day date{today};
  const std::chrono::year_month month = date.year() / date.month() - std::chrono::months{6};
  const std::chrono::day last = (month / std::chrono::last).day();
  return local_days{month / std::min(date.day(), last)};
}

bool IsDirectoryType(TDirItemType type) {
  return type == TDirItemType::ditDirectory || type == TDirItemType::ditSymbolicLinkDir;
}

bool IsLinkType(TDirItemType type) {
  return type == TDirItemType::ditSymbolicLink || type == TDirItemType::ditSymbolicLinkDir;
}

using EntryView = TListOutput::EntryView;

EntryView ViewOf(const TListOutputItem& item) {
  return {item.FileName,         item.ItemType,         item.Size,
          item.SizeAvail,        item.ModifiedDate,     item.ModifiedDateGMT,
          item.ModifiedAvail,    item.OwnerName,        item.GroupName,
          item.OwnerPermissions, item.GroupPermissions, item.OtherPermissions,
          item.LinkCount,        item.NumberBlocks,     item.LinkedItemName};
}

// A table row's permissions, indexed by writable * 2 + executable.
constexpr std::string_view kRowPermissions[] = {"r--", "r-x", "rw-", "rwx"};

std::string_view RowPermissions(const TListTableRow& row) {
  return kRowPermissions[(row.Writable ? 2 : 0) + (row.Executable ? 1 : 0)];
}

std::string_view RowName(const TListTable& table, const TListTableRow& row) {
  return std::string_view(table.Names).substr(row.NameOffset, row.NameSize);
}

EntryView ViewOf(const TListTable& table, const TListTableRow& row) {
  const std::string_view permissions = RowPermissions(row);
  EntryView view;
  view.name = RowName(table, row);
  view.type = row.Directory ? TDirItemType::ditDirectory : TDirItemType::ditFile;
  view.size = row.Size;
  view.modified = row.ModifiedDate;
  view.modified_gmt = row.ModifiedDateGMT;
  view.owner = table.OwnerName;
  view.group = table.GroupName;
  view.owner_permissions = view.group_permissions = view.other_permissions = permissions;
  return view;
}

// 0 for ".", 1 for "..", 2 for other names beginning with ".", 3 for the rest.
int NameGroup(std::string_view name) {
  if (name == ".") return 0;
  if (name == "..") return 1;
  return (!name.empty() && name.front() == '.') ? 2 : 3;
}

// The collation key of a name: comparing keys with strcmp orders as strcoll does.
std::string CollationKey(std::string_view view) {
  const std::string name(view);
  std::string key(name.size() * 4 + 1, '\0');
  std::size_t needed = std::strxfrm(key.data(), name.c_str(), key.size());
  if (needed >= key.size()) {
    key.resize(needed + 1);
    needed = std::strxfrm(key.data(), name.c_str(), key.size());
  }
  key.resize(needed);
  return key;
}

// Below this many entries a second thread costs more than it saves.
constexpr std::size_t kParallelMinimum = 16384;

// Sorts the two halves at once, one on a second thread, then merges them.
template <class Record, class Less>
void SortOnTwoThreads(std::vector<Record>& records, Less less) {
  const auto at = [&](std::size_t index) {
    return records.begin() + static_cast<std::ptrdiff_t>(index);
  };
  const bool split = RunOnTwoThreads(
      records.size(), kParallelMinimum,
      [&](int, std::size_t begin, std::size_t end) { std::sort(at(begin), at(end), less); });
  if (split) std::inplace_merge(records.begin(), at(records.size() / 2), records.end(), less);
}

bool IsPrintable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Encodes for the wire (EncodeListingLine) what was appended to text from start on.
void EncodeTail(std::string& text, std::size_t start, bool utf8) {
  if (IsPrintable(std::string_view(text).substr(start))) return;
  std::string line = EncodeListingLine(text.substr(start), utf8);
  text.resize(start);
  text += line;
}

// Whether the locale's collation is the order of the bytes (the C locales; C.UTF-8 orders by
// code point, which is byte order in UTF-8): names are then compared as they are, with no key.
bool CollationIsBytewise() {
  const char* name = std::setlocale(LC_COLLATE, nullptr);
  if (name == nullptr) return true;
  const std::string_view locale(name);
  return locale == "C" || locale == "POSIX" || locale == "C.UTF-8" || locale == "C.utf8";
}

// Appends an unsigned number in decimal, right-aligned in width (wider numbers are not cut).
void AppendNumber(std::string& out, std::uint64_t value, std::size_t width = 0, char fill = ' ') {
  char digits[24];
  char* end = digits + sizeof digits;
  char* begin = end;
  do {
    *--begin = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  const auto count = static_cast<std::size_t>(end - begin);
  if (count < width) out.append(width - count, fill);
  out.append(begin, count);
}

void AppendTwoDigits(std::string& out, long value) {
  AppendNumber(out, static_cast<std::uint64_t>(value), 2, '0');
}

// Formats the date column of long lines; entries of a directory often share their times, so
// the text of the last time is kept.
class ListDateFormatter {
 public:
  ListDateFormatter(bool full_time, const TListClock& clock)
      : full_time_(full_time), recent_since_(SixMonthsBefore(clock.Today)) {}

  void Append(std::string& out, local_seconds modified) {
    if (!last_ || modified != last_time_) {
      last_text_.clear();
      Format(last_text_, modified);
      last_time_ = modified;
      last_ = true;
    }
    out += last_text_;
  }

 private:
  void Format(std::string& out, local_seconds modified) const {
    const CivilTime t = ToCivil(modified);
    out += kMonthNames[(t.month + 11) % 12];
    out += ' ';
    AppendTwoDigits(out, t.day);
    if (full_time_) {
      out += ' ';
      AppendTwoDigits(out, t.hour);
      out += kTimeSeparator;
      AppendTwoDigits(out, t.minute);
      out += kTimeSeparator;
      AppendTwoDigits(out, t.second);
      out += ' ';
      AppendNumber(out, static_cast<std::uint64_t>(t.year), 4, '0');
    } else if (floor<days>(modified) >= recent_since_) {
      out += ' ';
      AppendTwoDigits(out, t.hour);
      out += kTimeSeparator;
      AppendTwoDigits(out, t.minute);
    } else {
      out += "  ";
      AppendNumber(out, static_cast<std::uint64_t>(t.year), 4, '0');
    }
  }

  bool full_time_;
  local_days recent_since_;
  bool last_ = false;
  local_seconds last_time_{};
  std::string last_text_;
};

void AppendPermission3(std::string& out, std::string_view text) {
  const std::size_t kept = std::min<std::size_t>(text.size(), 3);
  out.append(text, 0, kept);
  out.append(3 - kept, '-');
}

void AppendPadded(std::string& out, std::string_view text, std::size_t width) {
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
}

void AppendLongLine(std::string& out, const EntryView& item, ListDateFormatter& dates) {
  char type = '-';
  if (item.type == TDirItemType::ditDirectory) type = 'd';
  if (IsLinkType(item.type)) type = 'l';
  const std::uint64_t size =
      item.type == TDirItemType::ditDirectory ? kDirectoryListedSize : item.size;
  out += type;
  AppendPermission3(out, item.owner_permissions);
  AppendPermission3(out, item.group_permissions);
  AppendPermission3(out, item.other_permissions);
  out += ' ';
  AppendNumber(out, item.link_count == 0 ? 1u : item.link_count, 3);
  out += ' ';
  AppendPadded(out, item.owner, 8);
  out += ' ';
  AppendPadded(out, item.group, 8);
  out += ' ';
  AppendNumber(out, size, 8);
  out += ' ';
  dates.Append(out, item.modified);
  out += ' ';
  out += item.name;
  if (IsLinkType(item.type) && !item.linked.empty()) {
    out += " -> ";
    out += item.linked;
  }
}

void AppendFactLine(std::string& out, const EntryView& item, unsigned facts,
                    const TListClock& clock) {
  const std::size_t start = out.size();
  // Facts are case-insensitive; "Size" is written with a capital because lftp drops every
  // MLSD line that begins with a lower-case "s", and the size fact comes first.
  if ((facts & mlsSize) && item.size_avail) {
    out += "Size=";
    AppendNumber(out, item.size);
    out += ';';
  }
  if (facts & mlsType) {
    const char* type = "file";
    if (IsDirectoryType(item.type)) {
      type = item.name == "." ? "cdir" : item.name == ".." ? "pdir" : "dir";
    }
    out += "type=";
    out += type;
    out += ';';
  }
  if ((facts & mlsModify) && item.modified_avail) {
    const sys_seconds utc = item.modified_gmt
                                ? *item.modified_gmt
                                : sys_seconds{item.modified.time_since_epoch() - clock.UtcOffset};
    const CivilTime t = ToCivil(utc);
    out += "modify=";
    AppendNumber(out, static_cast<std::uint64_t>(t.year), 4, '0');
    AppendTwoDigits(out, t.month);
    AppendTwoDigits(out, t.day);
    AppendTwoDigits(out, t.hour);
    AppendTwoDigits(out, t.minute);
    AppendTwoDigits(out, t.second);
    out += ';';
  }
  if (out.size() != start) out += ' ';
  out += item.name;
}

}  // namespace

TListClock TListClock::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  TListClock clock;
  clock.Today =
      local_days{std::chrono::year{local.tm_year + 1900} / static_cast<unsigned>(local.tm_mon + 1) /
                 static_cast<unsigned>(local.tm_mday)};
  clock.UtcOffset = seconds{local.tm_gmtoff};
  return clock;
}

struct TListOutput::SortedLines {
  std::vector<std::string_view> lines;
  std::uint64_t blocks = 0;  // the selected entries' blocks, for the total line
  std::string scratch[2];    // where the lines that are not names lie
};

void TListOutput::SortLines(const TListClock* long_lines, bool utf8, SortedLines& out) const {
  const bool all = HasSwitch('a');
  // A line as one worker selects it: in its scratch (base null) or one of the names.
  struct Line {
    const char* base;
    std::size_t offset, size;
    std::uint32_t index;  // of the entry
    int group;
  };
  std::vector<Line> part[2];
  std::uint64_t blocks[2] = {0, 0};
  // Selects and formats a range of entries in reading order, encoding each line while it is
  // at hand; the two halves of a large listing are done at once.
  RunOnTwoThreads(Count(), kParallelMinimum, [&](int worker, std::size_t begin, std::size_t end) {
    std::string& scratch = out.scratch[worker];
    std::vector<Line>& lines = part[worker];
    lines.reserve(end - begin);
    std::optional<ListDateFormatter> dates;
    if (long_lines) {
      dates.emplace(HasSwitch('T'), *long_lines);
      scratch.reserve((end - begin) * 80);
    }
    for (std::size_t index = begin; index < end; ++index) {
      const std::string_view name = NameAt(index);
      const int group = NameGroup(name);
      if (!all && group < 2) continue;
      Line line{nullptr, scratch.size(), 0, static_cast<std::uint32_t>(index), group};
      if (long_lines) {
        const EntryView view = ViewAt(index);
        blocks[worker] += view.blocks;
        AppendLongLine(scratch, view, *dates);
        EncodeTail(scratch, line.offset, utf8);
      } else if (IsPrintable(name)) {
        line.base = name.data();
        line.offset = 0;
      } else {
        scratch += EncodeListingLine(std::string(name), utf8);
      }
      line.size = line.base ? name.size() : scratch.size() - line.offset;
      lines.push_back(line);
    }
  });
  out.blocks = blocks[0] + blocks[1];
  // Every scratch is complete now: the lines can point into them.
  std::vector<std::string_view> texts;
  std::vector<std::uint32_t> entries;
  std::vector<int> groups;
  const std::size_t selected = part[0].size() + part[1].size();
  texts.reserve(selected);
  entries.reserve(selected);
  groups.reserve(selected);
  for (int worker = 0; worker < 2; ++worker) {
    for (const Line& line : part[worker]) {
      const char* base = line.base ? line.base : out.scratch[worker].data();
      texts.emplace_back(base + line.offset, line.size);
      entries.push_back(line.index);
      groups.push_back(line.group);
    }
  }
  const auto name_of = [&](std::uint32_t position) { return NameAt(entries[position]); };
  std::vector<std::uint32_t> order;
  order.reserve(selected);
  if (CollationIsBytewise()) {
    // Sorted on small records: the group, the name's first 16 bytes as two big-endian
    // numbers (most comparisons end there), then the whole name.
    struct Record {
      std::uint64_t prefix[2];
      std::uint32_t position;
      int group;
    };
    std::vector<Record> records(selected);
    for (std::size_t position = 0; position < selected; ++position) {
      const std::string_view name = name_of(static_cast<std::uint32_t>(position));
      Record& record = records[position];
      record = {{0, 0}, static_cast<std::uint32_t>(position), groups[position]};
      for (std::size_t index = 0; index < 16; ++index) {
        const auto byte = index < name.size() ? static_cast<unsigned char>(name[index]) : 0u;
        record.prefix[index / 8] = (record.prefix[index / 8] << 8) | byte;
      }
    }
    SortOnTwoThreads(records, [&](const Record& a, const Record& b) {
      if (a.group != b.group) return a.group < b.group;
      if (a.prefix[0] != b.prefix[0]) return a.prefix[0] < b.prefix[0];
      if (a.prefix[1] != b.prefix[1]) return a.prefix[1] < b.prefix[1];
      return name_of(a.position) < name_of(b.position);
    });
    for (const Record& record : records) order.push_back(record.position);
  } else {
    struct Keyed {
      int group;
      std::string key;
      std::uint32_t position;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(selected);
    for (std::size_t position = 0; position < selected; ++position) {
      const auto at = static_cast<std::uint32_t>(position);
      keyed.push_back({groups[position], CollationKey(name_of(at)), at});
    }
    // One key per name up front, so sorting costs string comparisons and not collations.
    SortOnTwoThreads(keyed, [&](const Keyed& a, const Keyed& b) {
      if (a.group != b.group) return a.group < b.group;
      const int compared = a.key.compare(b.key);
      if (compared != 0) return compared < 0;
      return name_of(a.position) < name_of(b.position);
    });
    for (const Keyed& entry : keyed) order.push_back(entry.position);
  }
  out.lines.reserve(selected);
  for (const std::uint32_t position : order) out.lines.push_back(texts[position]);
}

std::string_view TListOutput::NameAt(std::size_t index) const {
  return items_.empty() ? RowName(table_, table_.Rows[index]) : items_[index].FileName;
}

void TListOutput::SetTable(TListTable table) {
  items_.clear();
  table_ = std::move(table);
}

void TListOutput::MakeItems() const {
  if (table_.Rows.empty()) return;
  items_.reserve(items_.size() + table_.Rows.size());
  for (const TListTableRow& row : table_.Rows) {
    const EntryView view = ViewOf(table_, row);
    TListOutputItem& item = items_.emplace_back();
    item.FileName = view.name;
    item.ItemType = view.type;
    item.Size = row.Size;
    item.ModifiedDate = item.CreationDate = item.LastAccessDate = row.ModifiedDate;
    item.ModifiedDateGMT = row.ModifiedDateGMT;
    item.OwnerName = table_.OwnerName;
    item.GroupName = table_.GroupName;
    item.OwnerPermissions = item.GroupPermissions = item.OtherPermissions = view.owner_permissions;
  }
  table_ = {};
}

const std::vector<TListOutputItem>& TListOutput::Items() const {
  MakeItems();
  return items_;
}

std::vector<TListOutputItem>& TListOutput::Items() {
  MakeItems();
  return items_;
}

TListOutput::EntryView TListOutput::ViewAt(std::size_t index) const {
  return items_.empty() ? ViewOf(table_, table_.Rows[index]) : ViewOf(items_[index]);
}

std::string FormatLongLine(const TListOutputItem& item, bool full_time, const TListClock& clock) {
  std::string line;
  line.reserve(64 + item.FileName.size());
  ListDateFormatter dates(full_time, clock);
  AppendLongLine(line, ViewOf(item), dates);
  return line;
}

std::string FormatFactLine(const TListOutputItem& item, unsigned facts, const TListClock& clock) {
  std::string line;
  line.reserve(64 + item.FileName.size());
  AppendFactLine(line, ViewOf(item), facts, clock);
  return line;
}

namespace {

// The lines of a wire text, without their line ends.
std::vector<std::string> SplitLines(const TListingText& text) {
  std::vector<std::string> lines;
  lines.reserve(text.line_count);
  std::size_t start = 0;
  for (std::size_t end; (end = text.bytes.find("\r\n", start)) != std::string::npos;
       start = end + 2)
    lines.push_back(text.bytes.substr(start, end - start));
  return lines;
}

}  // namespace

std::vector<std::string> TListOutput::LongLines(const TListClock& clock) const {
  TListingText text(true);
  WriteLongLines(clock, text);
  return SplitLines(text);
}

std::vector<std::string> TListOutput::NameLines(const TListClock& clock) const {
  TListingText text(true);
  WriteNameLines(clock, text);
  return SplitLines(text);
}

std::vector<std::string> TListOutput::FactLines(unsigned facts, const TListClock& clock) const {
  TListingText text(true);
  WriteFactLines(facts, clock, text);
  return SplitLines(text);
}

void TListingText::AppendLine(std::string_view line) {
  const std::size_t start = bytes.size();
  bytes += line;
  EndLine(start);
}

void TListingText::AppendEncodedLines(const std::vector<std::string_view>& lines) {
  // Where each line goes, and the polling points, first; then the bytes, the halves of a large
  // listing copied at once.
  std::vector<std::size_t> offsets(lines.size());
  std::size_t end = bytes.size();
  for (std::size_t index = 0; index < lines.size(); ++index) {
    offsets[index] = end;
    end += lines[index].size() + 2;
    if ((line_count + index) % kLinesPerPoll == 0) poll_offsets.push_back(end);
  }
  line_count += lines.size();
  bytes.resize(end);
  RunOnTwoThreads(lines.size(), kParallelMinimum, [&](int, std::size_t begin, std::size_t stop) {
    for (std::size_t index = begin; index < stop; ++index) {
      char* out = bytes.data() + offsets[index];
      std::memcpy(out, lines[index].data(), lines[index].size());
      std::memcpy(out + lines[index].size(), "\r\n", 2);
    }
  });
}

void TListingText::EndLine(std::size_t start) {
  EncodeTail(bytes, start, utf8);
  bytes += "\r\n";
  if (line_count % kLinesPerPoll == 0) poll_offsets.push_back(bytes.size());
  ++line_count;
}

void TListOutput::WriteLongLines(const TListClock& clock, TListingText& text) const {
  SortedLines sorted;
  SortLines(&clock, text.utf8, sorted);
  if (ExportTotalLine) text.AppendLine("total " + std::to_string(sorted.blocks));
  text.AppendEncodedLines(sorted.lines);
}

void TListOutput::WriteNameLines(const TListClock& clock, TListingText& text) const {
  if (HasSwitch('l')) return WriteLongLines(clock, text);
  SortedLines sorted;
  SortLines(nullptr, text.utf8, sorted);
  text.AppendEncodedLines(sorted.lines);
}

void TListOutput::WriteFactLines(unsigned facts, const TListClock& clock,
                                 TListingText& text) const {
  text.bytes.reserve(text.bytes.size() + Count() * 72);
  for (std::size_t index = 0; index < Count(); ++index) {
    const std::size_t start = text.bytes.size();
    AppendFactLine(text.bytes, ViewAt(index), facts, clock);
    text.EndLine(start);
  }
}

std::string EncodeListingLine(std::string line, bool utf8) {
  // Most lines are printable ASCII already and go out as they are.
  if (IsPrintable(line)) return line;
  std::string out = utf8 ? DecodeText(line, TTextEncoding::Utf8) : ToAscii7(line);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r' || c == '\n' || (!utf8 && (byte < 0x20 || byte == 0x7F))) c = '?';
  }
  return out;
}

std::string ReplySafeName(std::string name) {
  std::replace_if(
      name.begin(), name.end(), [](char c) { return c == '\r' || c == '\n'; }, '?');
  return name;
}

}  // namespace corvane
