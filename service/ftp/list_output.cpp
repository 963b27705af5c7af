#include "service/ftp/list_output.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

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

std::string FormatListDate(local_seconds modified, bool full_time, const TListClock& clock) {
  const CivilTime t = ToCivil(modified);
  char buffer[64];
  const char sep = kTimeSeparator;
  const char* month = kMonthNames[(t.month + 11) % 12];
  if (full_time) {
    std::snprintf(buffer, sizeof buffer, "%s %02u %02ld%c%02ld%c%02ld %04d", month, t.day, t.hour,
                  sep, t.minute, sep, t.second, t.year);
  } else if (floor<days>(modified) >= SixMonthsBefore(clock.Today)) {
    std::snprintf(buffer, sizeof buffer, "%s %02u %02ld%c%02ld", month, t.day, t.hour, sep,
                  t.minute);
  } else {
    std::snprintf(buffer, sizeof buffer, "%s %02u  %04d", month, t.day, t.year);
  }
  return buffer;
}

// A permission text in exactly three characters.
std::string Permission3(const std::string& text) {
  std::string result = text.substr(0, 3);
  result.resize(3, '-');
  return result;
}

std::string PadRight(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
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

std::vector<const TListOutputItem*> TListOutput::SelectedSorted() const {
  struct Keyed {
    int group;
    std::string key;
    const TListOutputItem* item;
  };
  const bool all = HasSwitch('a');
  std::vector<Keyed> keyed;
  keyed.reserve(items_.size());
  for (const TListOutputItem& item : items_) {
    const int group = NameGroup(item.FileName);
    if (group < 2 && !all) continue;
    keyed.push_back({group, CollationKey(item.FileName), &item});
  }
  // One key per name up front, so sorting costs string comparisons and not collations.
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    if (a.group != b.group) return a.group < b.group;
    const int order = a.key.compare(b.key);
    if (order != 0) return order < 0;
    return a.item->FileName < b.item->FileName;
  });
  std::vector<const TListOutputItem*> result;
  result.reserve(keyed.size());
  for (const Keyed& entry : keyed) result.push_back(entry.item);
  return result;
}

std::string FormatLongLine(const TListOutputItem& item, bool full_time, const TListClock& clock) {
  char type = '-';
  if (item.ItemType == TDirItemType::ditDirectory) type = 'd';
  if (IsLinkType(item.ItemType)) type = 'l';
  const std::uint64_t size =
      item.ItemType == TDirItemType::ditDirectory ? kDirectoryListedSize : item.Size;
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, " %3u ", item.LinkCount == 0 ? 1u : item.LinkCount);
  char size_text[32];
  std::snprintf(size_text, sizeof size_text, " %8llu ", static_cast<unsigned long long>(size));

  std::string line;
  line.reserve(64 + item.FileName.size());
  line += type;
  line += Permission3(item.OwnerPermissions);
  line += Permission3(item.GroupPermissions);
  line += Permission3(item.OtherPermissions);
  line += numbers;
  line += PadRight(item.OwnerName, 8);
  line += ' ';
  line += PadRight(item.GroupName, 8);
  line += size_text;
  line += FormatListDate(item.ModifiedDate, full_time, clock);
  line += ' ';
  line += item.FileName;
  if (IsLinkType(item.ItemType) && !item.LinkedItemName.empty())
    line += " -> " + item.LinkedItemName;
  return line;
}

std::string FormatFactLine(const TListOutputItem& item, unsigned facts, const TListClock& clock) {
  std::string line;
  // Facts are case-insensitive; "Size" is written with a capital because lftp drops every
  // MLSD line that begins with a lower-case "s", and the size fact comes first.
  if ((facts & mlsSize) && item.SizeAvail) line += "Size=" + std::to_string(item.Size) + ";";
  if (facts & mlsType) {
    const char* type = "file";
    if (IsDirectoryType(item.ItemType)) {
      type = item.FileName == "." ? "cdir" : item.FileName == ".." ? "pdir" : "dir";
    }
    line += "type=";
    line += type;
    line += ';';
  }
  if ((facts & mlsModify) && item.ModifiedAvail) {
    const sys_seconds utc =
        item.ModifiedDateGMT ? *item.ModifiedDateGMT
                             : sys_seconds{item.ModifiedDate.time_since_epoch() - clock.UtcOffset};
    const CivilTime t = ToCivil(utc);
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "modify=%04d%02u%02u%02ld%02ld%02ld;", t.year, t.month,
                  t.day, t.hour, t.minute, t.second);
    line += buffer;
  }
  if (line.empty()) return item.FileName;
  return line + " " + item.FileName;
}

std::vector<std::string> TListOutput::LongLines(const TListClock& clock) const {
  const std::vector<const TListOutputItem*> selected = SelectedSorted();
  std::vector<std::string> lines;
  lines.reserve(selected.size() + 1);
  if (ExportTotalLine) {
    std::uint64_t blocks = 0;
    for (const TListOutputItem* item : selected) blocks += item->NumberBlocks;
    lines.push_back("total " + std::to_string(blocks));
  }
  const bool full_time = HasSwitch('T');
  for (const TListOutputItem* item : selected)
    lines.push_back(FormatLongLine(*item, full_time, clock));
  return lines;
}

std::vector<std::string> TListOutput::NameLines(const TListClock& clock) const {
  if (HasSwitch('l')) return LongLines(clock);
  const std::vector<const TListOutputItem*> selected = SelectedSorted();
  std::vector<std::string> lines;
  lines.reserve(selected.size());
  for (const TListOutputItem* item : selected) lines.push_back(item->FileName);
  return lines;
}

std::vector<std::string> TListOutput::FactLines(unsigned facts, const TListClock& clock) const {
  std::vector<std::string> lines;
  lines.reserve(items_.size());
  for (const TListOutputItem& item : items_) lines.push_back(FormatFactLine(item, facts, clock));
  return lines;
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
