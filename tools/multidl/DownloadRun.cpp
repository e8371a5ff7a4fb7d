#include "DownloadRun.h"

#include <unistd.h>

#include <sys/stat.h>

#include <cmath>
#include <set>

#include "Checksum.h"
#include "EngineSettings.h"
#include "Readout.h"
#include "Signals.h"
#include "StateFile.h"
#include "download/clMultiDownLoader.h"
#include "platform/Files.h"
#include "platform/Messages.h"

namespace multidl {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Short enough that a stop signal is taken at once, long enough that a
// stalled download costs no CPU worth the name.
constexpr platform::DWORD kWaitMs = 100;
constexpr milliseconds kTerminalRedraw{200};
constexpr milliseconds kPlainInterval{2000};
// Beside the save at the end, so that even a killed run leaves a map behind.
constexpr milliseconds kStateSaveInterval{5000};

std::string ErrorLine(const std::string& name, const std::string& error, std::int32_t code) {
  return "multidl: " + name + ": " + error + (code != 0 ? " (" + std::to_string(code) + ")" : "");
}

}  // namespace

DownloadRun::DownloadRun(const Settings& settings, Console& console)
    : settings_(settings), console_(console), folder_(AbsoluteFolder(settings.dir)) {}

DownloadRun::~DownloadRun() = default;

DownloadRun::Job* DownloadRun::JobOf(const void* item) {
  for (Job& job : jobs_) {
    if (job.item == item) return &job;
  }
  return nullptr;
}

int DownloadRun::RunningCount() const {
  int count = 0;
  for (const Job& job : jobs_) count += job.phase == Phase::kRunning ? 1 : 0;
  return count;
}

bool DownloadRun::AllDone() const {
  for (const Job& job : jobs_) {
    if (job.phase != Phase::kDone && !(stopping_ && job.phase == Phase::kPending)) return false;
  }
  return true;
}

bool DownloadRun::Plan() {
  control_ = std::make_unique<TclMultiDownLoader>();
  ApplyToControl(settings_, folder_, *control_);
  control_->SetOnError([this](TclMultiInternetControl*, TclInternetItem* item,
                              const std::string& error, std::int32_t code) {
    Job* job = JobOf(item);
    if (!job) return;
    if (code == static_cast<std::int32_t>(ERROR_HTTP_HEADER_NOT_FOUND)) {
      // A missing Last-Modified or Content-Type costs nothing here.
      console_.Message(ErrorLine(job->name, "warning: " + error, code));
      return;
    }
    if (IsLocalFileErrorText(error, code)) job->outcome.localFileError = true;
    console_.Message(ErrorLine(job->name, error, code));
  });
  control_->SetOnRetrying([this](TclMultiInternetControl*, TclInternetItem* item,
                                 const std::string& error, std::int32_t code, int pauseMs) {
    Job* job = JobOf(item);
    if (!job) return;
    job->retryReason = ShortReason(error, code);
    job->retryAt = Clock::now() + milliseconds(pauseMs);
    if (console_.GetMode() == Console::Mode::kPlain) {
      console_.Message("multidl: " + job->name + ": " + Note(*job));
    }
  });
  control_->SetOnProcessCompleted([this](TclMultiInternetControl*, TclInternetItem* item) {
    // Finished in the main loop, outside the engine's call.
    if (Job* job = JobOf(item)) job->phase = Phase::kCompleted;
  });

  std::set<std::string> files;
  jobs_.reserve(settings_.urls.size());
  for (const std::string& url : settings_.urls) {
    Job job;
    job.url = url;
    job.item = control_->DownLoadList().Add();
    try {
      job.item->SetURL(url);
    } catch (const std::exception&) {
      // Parsing the address loads the internet library. A missing one raises
      // again at the item's start, which reports it like any failed start.
    }
    job.localFile = LocalFileFor(settings_.output, job.item->LocalFile(), url, folder_);
    job.item->SetLocalFile(job.localFile);
    job.name = platform::ExtractFileName(job.localFile);
    ApplyToItem(settings_, *job.item);
    if (!files.insert(job.localFile).second) {
      console_.Message("multidl: two downloads would write " + job.localFile + " (use -o or -d)");
      return false;
    }
    jobs_.push_back(std::move(job));
  }
  return true;
}

void DownloadRun::PrepareState(Job& job) {
  const std::string stateFile = StateFileName(job.localFile);
  if (!platform::FileExists(stateFile)) return;
  std::optional<SavedMap> saved = settings_.resume ? LoadStateFile(stateFile) : std::nullopt;
  if (saved && saved->url == UrlWithoutPassword(job.url)) {
    RestoreMap(*saved, job.item->ResourceState());
    job.item->SetMapDate(saved->mapDate);
    if (saved->hasValidators) job.item->SetMapValidators(saved->etag, saved->lastModified);
    // Whether the map is continued is known once the server has been asked.
    job.restoredBytes = job.item->ResourceState().BytesProceed();
    job.resumeReported = false;
    return;
  }
  // A map of another run would describe a file this run is about to rewrite.
  platform::DeleteFile(stateFile);
}

void DownloadRun::ReportResume(Job& job) {
  if (job.resumeReported || job.restoredBytes <= 0) return;
  job.resumeReported = true;
  if (console_.GetMode() == Console::Mode::kQuiet) return;
  const TclResourceState& state = job.item->ResourceState();
  if (job.item->ResumedMap()) {
    console_.Message("multidl: " + job.name + ": resuming, " + FormatBytes(job.restoredBytes) +
                     " of " + FormatBytes(state.ResourceSize()) + " kept");
  } else {
    console_.Message("multidl: " + job.name +
                     ": the file changed on the server since it was interrupted (or its part "
                     "is gone); fetching it afresh");
  }
}

std::string DownloadRun::Note(const Job& job) const {
  if (job.retryReason.empty()) return "";
  const auto left = std::chrono::duration<double>(job.retryAt - Clock::now()).count();
  if (left <= 0) return "";
  return "retrying in " + std::to_string(static_cast<long long>(std::ceil(left))) +
         " s: " + job.retryReason;
}

void DownloadRun::Start(Job& job) {
  job.phase = Phase::kRunning;
  job.started = Clock::now();
  struct stat st {};
  if (::stat(job.localFile.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    console_.Message("multidl: " + job.name + ": " + job.localFile + " is a folder");
    job.outcome.localFileError = true;
    job.phase = Phase::kCompleted;
    return;
  }
  const std::string folder = platform::ExtractFileDir(job.localFile);
  if (!folder.empty() &&
      (!platform::ForceDirectories(folder) || ::access(folder.c_str(), W_OK) != 0)) {
    console_.Message("multidl: " + job.name + ": cannot write to the folder " + folder);
    job.outcome.localFileError = true;
    job.phase = Phase::kCompleted;
    return;
  }
  PrepareState(job);
  const std::string stateFile = StateFileName(job.localFile);
  if (!platform::FileExists(stateFile)) ReserveStateFile(stateFile, job.url);
  try {
    job.outcome.started = true;
    control_->Start(job.item, true);
  } catch (const std::exception& e) {
    console_.Message(ErrorLine(job.name, e.what(), 0));
    job.phase = Phase::kCompleted;
  }
}

void DownloadRun::StartNext() {
  while (!stopping_ && next_ < jobs_.size() && RunningCount() < settings_.jobs)
    Start(jobs_[next_++]);
}

bool DownloadRun::SaveState(const Job& job) {
  const TclResourceState& state = job.item->ResourceState();
  if (state.Count() == 0 || state.ResourceSize() <= 0 || !platform::FileExists(job.localFile))
    return false;
  if (!SaveStateFile(StateFileName(job.localFile),
                     CaptureMap(state, job.item->MapDate(), job.item->MapETag(),
                                job.item->MapLastModified(), job.url)) &&
      !job.outcome.localFileError) {
    // After a local file error (a full disk) that error said it all.
    console_.Message("multidl: " + job.name + ": cannot write the state file " +
                     StateFileName(job.localFile));
  }
  return true;
}

void DownloadRun::Finish(Job& job) {
  job.phase = Phase::kDone;
  if (job.item->ResourceInfo()) ReportResume(job);
  ItemOutcome& outcome = job.outcome;
  TclDownLoadItem& item = *job.item;
  const TclResourceState& state = item.ResourceState();
  const TclResourceInfo* info = item.ResourceInfo();
  outcome.interrupted = outcome.interrupted || (stopping_ && state.Status() == psTerminated);
  outcome.status = state.Status();
  outcome.resourceSize = info ? info->Size() : 0;
  outcome.bytesProceed = state.BytesProceed();
  outcome.sizeRefused = outcome.resourceSize > 0 &&
                        ((settings_.minSize > 0 && outcome.resourceSize < settings_.minSize) ||
                         (settings_.maxSize > 0 && outcome.resourceSize > settings_.maxSize));
  outcome.dataPhase = outcome.started && state.Count() > 0 && !outcome.sizeRefused;
  const bool complete = AllBytesArrived(outcome);
  if (complete && !settings_.checksumType.empty()) {
    outcome.checksumChecked = true;
    const std::optional<std::string> digest = FileDigest(settings_.checksumType, job.localFile);
    if (!digest) {
      outcome.localFileError = true;
      console_.Message("multidl: " + job.name + ": cannot read the file to check it");
    } else if (*digest != settings_.checksumHex) {
      console_.Message("multidl: " + job.name + ": " + settings_.checksumType + " mismatch: got " +
                       *digest + ", expected " + settings_.checksumHex);
    } else {
      outcome.checksumMatched = true;
    }
  }
  if (complete) {
    platform::DeleteFile(StateFileName(job.localFile));
  } else if (!outcome.started || !SaveState(job)) {
    // No map to keep: the place kept for one goes.
    platform::DeleteFile(StateFileName(job.localFile));
  }

  const double seconds = std::chrono::duration<double>(Clock::now() - job.started).count();
  const ExitCode code = ItemExitCode(outcome);
  if (code == kExitOk) {
    if (console_.GetMode() != Console::Mode::kQuiet) {
      console_.Message("done: " + job.localFile + " (" + FormatBytes(outcome.bytesProceed) +
                       " in " + FormatDuration(seconds) + ")");
    }
  } else if (code == kExitInterrupted) {
    if (console_.GetMode() != Console::Mode::kQuiet) {
      console_.Message("stopped: " + job.localFile + " (" + FormatBytes(outcome.bytesProceed) +
                       " kept; resume with -c)");
    }
  } else if (code == kExitSizeLimit) {
    console_.Message("refused: " + job.localFile + " (" + FormatBytes(outcome.resourceSize) +
                     " is outside the size limits)");
  } else {
    console_.Message("failed: " + job.localFile + " (exit status " + std::to_string(code) + ")");
  }
}

void DownloadRun::StopAll() {
  stopping_ = true;
  for (Job& job : jobs_) {
    if (job.phase != Phase::kRunning) continue;
    job.outcome.interrupted = true;
    job.item->Stop();
  }
}

void DownloadRun::SaveRunningStates() {
  for (const Job& job : jobs_) {
    if (job.phase == Phase::kRunning && job.item->DataPhase()) SaveState(job);
  }
}

void DownloadRun::Redraw(bool force) {
  const Console::Mode mode = console_.GetMode();
  if (mode == Console::Mode::kQuiet) return;
  const auto now = Clock::now();
  if (!force &&
      now - lastRedraw_ < (mode == Console::Mode::kTerminal ? kTerminalRedraw : kPlainInterval))
    return;
  lastRedraw_ = now;
  std::vector<std::string> lines;
  const int width = console_.Width();
  for (const Job& job : jobs_) {
    if (job.phase != Phase::kRunning) continue;
    const TclResourceState& state = job.item->ResourceState();
    ReadoutItem readout{job.name, &state, state.Speed(), Note(job)};
    lines.push_back(mode == Console::Mode::kTerminal ? RenderItemLine(readout, width)
                                                     : RenderPlainLine(readout));
  }
  if (mode == Console::Mode::kTerminal) {
    console_.Frame(lines);
  } else if (!force) {
    console_.Plain(lines);
  }
}

int DownloadRun::Execute() {
  if (!Plan()) return kExitUsage;
  lastRedraw_ = lastSave_ = Clock::now();
  for (;;) {
    if (StopSignal() != 0 && !stopping_) StopAll();
    for (Job& job : jobs_) {
      if (job.phase == Phase::kRunning && job.item->DataPhase()) ReportResume(job);
      if (job.phase == Phase::kCompleted) Finish(job);
    }
    StartNext();
    if (AllDone()) break;
    platform::WaitMessage(kWaitMs);
    platform::ProcessMessages();
    Redraw(false);
    if (Clock::now() - lastSave_ >= kStateSaveInterval) {
      lastSave_ = Clock::now();
      SaveRunningStates();
    }
  }
  console_.Clear();
  std::vector<ItemOutcome> outcomes;
  for (const Job& job : jobs_) {
    outcomes.push_back(job.outcome);
    // An item the stop kept from starting was interrupted as much as a running one.
    if (stopping_ && job.phase == Phase::kPending) outcomes.back().interrupted = true;
  }
  return RunExitCode(outcomes);
}

}  // namespace multidl
