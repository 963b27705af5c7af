#include "service/ftp/list_output.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "service/ftp/ftp_context.h"
#include "service/ftp/text_encoding.h"

namespace corvane {
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

// 0 for ".", 1 for "..", 2 for other names beginning with ".", 3 for the rest.
int NameGroup(const std::string& name) {
  if (name == ".") return 0;
  if (name == "..") return 1;
  return (!name.empty() && name.front() == '.') ? 2 : 3;
}

// The collation key of a name: comparing keys with strcmp orders as strcoll does.
std::string CollationKey(const std::string& name) {
  std::string key(name.size() * 4 + 1, '\0');
  std::size_t needed = std::strxfrm(key.data(), name.c_str(), key.size());
  if (needed >= key.size()) {
    key.resize(needed + 1);
    needed = std::strxfrm(key.data(), name.c_str(), key.size());
  }
  key.resize(needed);
  return key;
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

void AppendPermission3(std::string& out, const std::string& text) {
  const std::size_t kept = std::min<std::size_t>(text.size(), 3);
  out.append(text, 0, kept);
  out.append(3 - kept, '-');
}

void AppendPadded(std::string& out, const std::string& text, std::size_t width) {
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
}

void AppendLongLine(std::string& out, const TListOutputItem& item, ListDateFormatter& dates) {
  char type = '-';
  if (item.ItemType == TDirItemType::ditDirectory) type = 'd';
  if (IsLinkType(item.ItemType)) type = 'l';
  const std::uint64_t size =
      item.ItemType == TDirItemType::ditDirectory ? kDirectoryListedSize : item.Size;
  out += type;
  AppendPermission3(out, item.OwnerPermissions);
  AppendPermission3(out, item.GroupPermissions);
  AppendPermission3(out, item.OtherPermissions);
  out += ' ';
  AppendNumber(out, item.LinkCount == 0 ? 1u : item.LinkCount, 3);
  out += ' ';
  AppendPadded(out, item.OwnerName, 8);
  out += ' ';
  AppendPadded(out, item.GroupName, 8);
  out += ' ';
  AppendNumber(out, size, 8);
  out += ' ';
  dates.Append(out, item.ModifiedDate);
  out += ' ';
  out += item.FileName;
  if (IsLinkType(item.ItemType) && !item.LinkedItemName.empty()) {
    out += " -> ";
    out += item.LinkedItemName;
  }
}

void AppendFactLine(std::string& out, const TListOutputItem& item, unsigned facts,
                    const TListClock& clock) {
  const std::size_t start = out.size();
  // Facts are case-insensitive; "Size" is written with a capital because lftp drops every
  // MLSD line that begins with a lower-case "s", and the size fact comes first.
  if ((facts & mlsSize) && item.SizeAvail) {
    out += "Size=";
    AppendNumber(out, item.Size);
    out += ';';
  }
  if (facts & mlsType) {
    const char* type = "file";
    if (IsDirectoryType(item.ItemType)) {
      type = item.FileName == "." ? "cdir" : item.FileName == ".." ? "pdir" : "dir";
    }
    out += "type=";
    out += type;
    out += ';';
  }
  if ((facts & mlsModify) && item.ModifiedAvail) {
    const sys_seconds utc =
        item.ModifiedDateGMT ? *item.ModifiedDateGMT
                             : sys_seconds{item.ModifiedDate.time_since_epoch() - clock.UtcOffset};
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
  out += item.FileName;
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

std::vector<TListOutput::Selected> TListOutput::SelectedSorted(const ScratchFormat& format,
                                                               std::string* scratch) const {
  const bool all = HasSwitch('a');
  // Selects in reading order, formatting into scratch while each entry is at hand: the items
  // are large and sorted order visits them at random.
  const auto select = [&](auto&& add) {
    for (const TListOutputItem& item : items_) {
      const int group = NameGroup(item.FileName);
      if (!all && group < 2) continue;
      Selected selected{&item, 0, 0};
      if (scratch) {
        selected.begin = scratch->size();
        format(item, *scratch);
        selected.end = scratch->size();
      }
      add(group, selected);
    }
  };
  std::vector<Selected> result;
  result.reserve(items_.size());
  if (CollationIsBytewise()) {
    // Sorted on small records held together: the group, the name's first 16 bytes as two
    // big-endian numbers (most comparisons end there), then the whole name.
    struct Record {
      std::uint64_t prefix[2];
      int group;
      std::string_view name;
      Selected selected;
    };
    std::vector<Record> records;
    records.reserve(items_.size());
    select([&](int group, const Selected& selected) {
      const std::string& name = selected.item->FileName;
      Record record{{0, 0}, group, name, selected};
      for (std::size_t index = 0; index < 16; ++index) {
        const auto byte = index < name.size() ? static_cast<unsigned char>(name[index]) : 0u;
        record.prefix[index / 8] = (record.prefix[index / 8] << 8) | byte;
      }
      records.push_back(record);
    });
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
      if (a.group != b.group) return a.group < b.group;
      if (a.prefix[0] != b.prefix[0]) return a.prefix[0] < b.prefix[0];
      if (a.prefix[1] != b.prefix[1]) return a.prefix[1] < b.prefix[1];
      return a.name < b.name;
    });
    for (const Record& record : records) result.push_back(record.selected);
    return result;
  }
  struct Keyed {
    int group;
    std::string key;
    Selected selected;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(items_.size());
  select([&](int group, const Selected& selected) {
    keyed.push_back({group, CollationKey(selected.item->FileName), selected});
  });
  // One key per name up front, so sorting costs string comparisons and not collations.
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    if (a.group != b.group) return a.group < b.group;
    const int order = a.key.compare(b.key);
    if (order != 0) return order < 0;
    return a.selected.item->FileName < b.selected.item->FileName;
  });
  for (const Keyed& entry : keyed) result.push_back(entry.selected);
  return result;
}

std::string FormatLongLine(const TListOutputItem& item, bool full_time, const TListClock& clock) {
  std::string line;
  line.reserve(64 + item.FileName.size());
  ListDateFormatter dates(full_time, clock);
  AppendLongLine(line, item, dates);
  return line;
}

std::string FormatFactLine(const TListOutputItem& item, unsigned facts, const TListClock& clock) {
  std::string line;
  line.reserve(64 + item.FileName.size());
  AppendFactLine(line, item, facts, clock);
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

void TListingText::EndLine(std::size_t start) {
  const bool printable = std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                                     bytes.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  if (!printable) {
    std::string line = EncodeListingLine(bytes.substr(start), utf8);
    bytes.resize(start);
    bytes += line;
  }
  bytes += "\r\n";
  if (line_count % kLinesPerPoll == 0) poll_offsets.push_back(bytes.size());
  ++line_count;
}

void TListOutput::WriteLongLines(const TListClock& clock, TListingText& text) const {
  ListDateFormatter dates(HasSwitch('T'), clock);
  std::string scratch;
  scratch.reserve(items_.size() * 80);
  const std::vector<Selected> selected = SelectedSorted(
      [&](const TListOutputItem& item, std::string& out) { AppendLongLine(out, item, dates); },
      &scratch);
  text.bytes.reserve(text.bytes.size() + scratch.size() + selected.size() * 2 + 16);
  if (ExportTotalLine) {
    std::uint64_t blocks = 0;
    for (const Selected& entry : selected) blocks += entry.item->NumberBlocks;
    text.AppendLine("total " + std::to_string(blocks));
  }
  for (const Selected& entry : selected)
    text.AppendLine(std::string_view(scratch).substr(entry.begin, entry.end - entry.begin));
}

void TListOutput::WriteNameLines(const TListClock& clock, TListingText& text) const {
  if (HasSwitch('l')) return WriteLongLines(clock, text);
  const std::vector<Selected> selected = SelectedSorted({}, nullptr);
  text.bytes.reserve(text.bytes.size() + selected.size() * 32);
  for (const Selected& entry : selected) text.AppendLine(entry.item->FileName);
}

void TListOutput::WriteFactLines(unsigned facts, const TListClock& clock,
                                 TListingText& text) const {
  text.bytes.reserve(text.bytes.size() + items_.size() * 72);
  for (const TListOutputItem& item : items_) {
    const std::size_t start = text.bytes.size();
    AppendFactLine(text.bytes, item, facts, clock);
    text.EndLine(start);
  }
}

std::string EncodeListingLine(std::string line, bool utf8) {
  // Most lines are printable ASCII already and go out as they are.
  if (std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
    return line;
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
