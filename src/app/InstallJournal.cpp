#include "app/InstallJournal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "app/ULiveconst.h"
#include "app/UpdateList.h"
#include "platform/Files.h"

namespace app {
namespace {

constexpr const char* kMagic = "liveupdate-journal 1";

const std::pair<TclStepKind, const char*> kKindNames[] = {
    {TclStepKind::Copy, "copy"},         {TclStepKind::Replace, "replace"},
    {TclStepKind::Updater, "updater"},   {TclStepKind::Run, "run"},
    {TclStepKind::Register, "register"}, {TclStepKind::Delete, "delete"},
    {TclStepKind::Version, "version"},
};

std::optional<TclStepKind> KindNamed(const std::string& name) {
  for (const auto& [kind, text] : kKindNames) {
    if (name == text) return kind;
  }
  return std::nullopt;
}

std::string Encode(const std::string& value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (char c : value) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '%' || code <= 32 || code == 127) {
      text += '%';
      text += kDigits[code >> 4];
      text += kDigits[code & 15];
    } else {
      text += c;
    }
  }
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> Decode(const std::string& text) {
  std::string value;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      value += text[i];
      continue;
    }
    const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) return std::nullopt;
    value += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return value;
}

void Field(std::string& line, const char* name, const std::string& value) {
  if (!value.empty()) line += std::string(" ") + name + "=" + Encode(value);
}

std::string FormatStep(int number, const TclInstallStep& step) {
  std::string line = "step " + std::to_string(number) + " " + StepKindName(step.Kind);
  Field(line, "target", step.Target);
  Field(line, "source", step.Source);
  Field(line, "sha256", step.Sha256);
  Field(line, "kept", step.Kept);
  if (step.Program) line += " program=1";
  for (const std::string& folder : step.Folders) Field(line, "folder", folder);
  Field(line, "key", step.Key);
  // An empty old value is written too: only a missing one means "none".
  if (step.Old) line += " old=" + Encode(*step.Old);
  if (!step.Key.empty()) line += " new=" + Encode(step.New);
  return line;
}

std::optional<TclInstallStep> ParseStep(std::istringstream& words) {
  std::string kindName;
  words >> kindName;
  auto kind = KindNamed(kindName);
  if (!kind) return std::nullopt;
  TclInstallStep step;
  step.Kind = *kind;
  for (std::string word; words >> word;) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos) return std::nullopt;
    const std::string name = word.substr(0, equals);
    auto value = Decode(word.substr(equals + 1));
    if (!value) return std::nullopt;
    if (name == "target") step.Target = *value;
    else if (name == "source") step.Source = *value;
    else if (name == "sha256") step.Sha256 = *value;
    else if (name == "kept") step.Kept = *value;
    else if (name == "program") step.Program = *value == "1";
    else if (name == "folder") step.Folders.push_back(*value);
    else if (name == "key") step.Key = *value;
    else if (name == "old") step.Old = *value;
    else if (name == "new") step.New = *value;
    else return std::nullopt;
  }
  return step;
}

bool SyncAppend(const std::string& file, const std::string& data) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  ok = ::fdatasync(fd) == 0 && ok;
  ::close(fd);
  return ok;
}

}  // namespace

std::string StepKindName(TclStepKind kind) {
  for (const auto& [k, text] : kKindNames) {
    if (k == kind) return text;
  }
  return "?";
}

std::string FormatJournal(const TclInstallJournal& journal) {
  std::string text = std::string(kMagic) + "\nversion " + Encode(journal.Version) + "\n";
  for (std::size_t i = 0; i < journal.Steps.size(); ++i)
    text += FormatStep(static_cast<int>(i + 1), journal.Steps[i]) + "\n";
  text += "end " + std::to_string(journal.Steps.size()) + "\n";
  return text;
}

std::optional<TclInstallJournal> ParseJournal(const std::string& text) {
  TclInstallJournal journal;
  bool ended = false;
  bool first = true;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    // A line still being appended when the writer stopped is no record.
    if (end == std::string::npos) break;
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (first) {
      if (line != kMagic) return std::nullopt;
      first = false;
      continue;
    }
    std::istringstream words(line);
    std::string head;
    words >> head;
    if (head == "version" && !ended) {
      std::string value;
      words >> value;
      auto version = Decode(value);
      if (!version) return std::nullopt;
      journal.Version = *version;
    } else if (head == "step" && !ended) {
      std::size_t number = 0;
      if (!(words >> number) || number != journal.Steps.size() + 1) return std::nullopt;
      auto step = ParseStep(words);
      if (!step) return std::nullopt;
      journal.Steps.push_back(std::move(*step));
    } else if (head == "end" && !ended) {
      std::size_t count = 0;
      if (!(words >> count) || count != journal.Steps.size()) return std::nullopt;
      ended = true;
    } else if (head == "rollback" && ended) {
      journal.RollingBack = true;
    } else if (head == "done" && ended) {
      int number = 0;
      if (words >> number && number >= 1 && number <= static_cast<int>(journal.Steps.size()))
        journal.Done.insert(number);
    } else {
      return std::nullopt;
    }
  }
  if (!ended) return std::nullopt;
  return journal;
}

std::string JournalFile(const std::string& appFolder) {
  return StagingFile(appFolder, kJournalFileName);
}

bool WriteJournal(const std::string& appFolder, const TclInstallJournal& journal) {
  if (!platform::ForceDirectories(StagingFolder(appFolder))) return false;
  return platform::WriteFileAtomically(JournalFile(appFolder), FormatJournal(journal));
}

bool RecordStepDone(const std::string& appFolder, int step) {
  return AppendJournalLine(appFolder, "done " + std::to_string(step));
}

bool AppendJournalLine(const std::string& appFolder, const std::string& line) {
  return SyncAppend(JournalFile(appFolder), line + "\n");
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool RemoveJournal(const std::string& appFolder) {
  if (::unlink(JournalFile(appFolder).c_str()) != 0 && errno != ENOENT) return false;
  SyncFolder(StagingFolder(appFolder));
  return true;
}

}  // namespace app
