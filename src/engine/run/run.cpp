#include "engine/run/run.h"

#include "core/checks.h"
#include "core/error.h"
#include "engine/run/ordered_pipeline.h"
#include "engine/fs/posix_file.h"
#include "engine/fs/rewrite.h"
#include "finder/dir_listing.h"
#include "finder/file_finder.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

namespace quillet::engine {

namespace {

// Read and processed afresh at most this often before the run gives up on a
// file that keeps changing under it.
constexpr int kTries = 3;

// What a run holds open at once, within the descriptors the process may have
// (a soft limit of 1024 is usual; some set 256). A staged rewrite holds up to
// three (old file, new file, directory); a file read ahead holds its walk
// directory. Together about half the limit, leaving the rest to the walk,
// the journal, the workers' reads and whatever the program has open.
struct HeldOpen {
    int stagedRewrites = kMaxStagedRewrites; // put in place together
    std::size_t rewritesAhead = kMaxRewritesAhead;
    std::size_t directoriesAhead = 256; // held by the files read ahead

    static HeldOpen forThisProcess() {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return {};
        const auto descriptors = static_cast<std::size_t>(limit.rlim_cur);
        HeldOpen held;
        held.stagedRewrites = StagedRewritesAllowed(kMaxStagedRewrites);
        held.rewritesAhead = std::clamp<std::size_t>(descriptors / 32, 2, kMaxRewritesAhead);
        held.directoriesAhead = std::clamp<std::size_t>(descriptors / 4, 8, held.directoriesAhead);
        return held;
    }
};

std::string withTrailingSlash(const std::string& directory) {
    if (!directory.empty() && directory.back() == '/')
        return directory;
    return directory + "/";
}

[[noreturn]] void cannotOpenDirectory(const std::string& directory, const std::string& reason) {
    std::string path = detail::fullPath(directory);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    throw Error("Cannot open directory \"" + path + "\". " + reason);
}

// One entry of the run, from the shape that produced it to its report. Its
// report is written only when its turn comes: entries wait in numbers behind
// staged rewrites, and each string held is memory to allocate and free.
struct Entry {
    FileLocation location;
    std::string listedName;  // list shapes: the entry as given; walk: empty
    std::int64_t total = -1; // list shapes: number of entries; walk: -1
    bool walked = false;     // found by a walk, not named by the user
};

// The one road every entry takes, whatever the shape and the threads:
// prepare (read and match, ahead on workers when there are several threads),
// then, in run order on this thread: check that the file is still the one
// read, commit, report.
class RunDriver {
public:
    RunDriver(const RunRequest& request, const RunEvents& events, RunTotals& totals)
        : m_request(request), m_events(events), m_totals(totals), m_operation(operationOf(request, events)),
          m_held(HeldOpen::forThisProcess()), m_streaming(streams(request, events)) {
        QUILLET_ASSERT(!(events.Matches && events.OnMatches), "matches go to one listener");
        if (request.Threads > 1 && !events.ChooseMatches) {
            m_pipeline.emplace(aheadOperation(), request.Threads - 1, m_held.directoriesAhead);
            if (m_pipeline->workers() == 0)
                m_pipeline.reset();
        }
    }

    bool stopped() const { return m_stopped; }

    // Takes the next entry in run order; returns whether the run must stop.
    bool add(Entry entry) {
        if (m_stopped)
            return true;
        if (!m_pipeline) {
            std::exception_ptr error;
            auto prepared = std::make_unique<PreparedFile>(prepare(entry, error));
            settle(entry, std::move(prepared), error, StagedRewrite());
            return m_stopped;
        }
        m_pipeline->submit(entry.location);
        m_waiting.push_back(std::move(entry));
        while (!m_stopped && m_pipeline->full())
            settleOldest();
        return m_stopped;
    }

    // Settles the entries still in flight (unless the run stopped).
    void finish() {
        while (m_pipeline && !m_stopped && !m_pipeline->empty())
            settleOldest();
        while (!m_stopped && !m_turns.empty())
            settleNextTurn();
        putStagedInPlace();
    }

private:
    struct Queued;

    // The operation as each file is prepared with it: the request's, with
    // what the listeners ask to be noted as a file is read.
    static FileOperation operationOf(const RunRequest& request, const RunEvents& events) {
        FileOperation op = request.Param;
        op.HashText = op.HashText || (events.OnChanged && events.ChangedNeedsTextHash);
        op.SearchThreads = std::max(1, request.Threads);
        return op;
    }

    // Whether a file's matches go to RunEvents::Matches as they are found
    // (see MatchListener).
    static bool streams(const RunRequest& request, const RunEvents& events) {
        const FileOperation& op = request.Param;
        return events.Matches != nullptr && op.ListMatches && (op.DryRun || op.Operation == core::OpOnlySearch) &&
               !events.OnChanged && !events.ChooseMatches;
    }

    // Streaming, a worker lists at most this many matches of a file ahead
    // of its turn; a file with more is matched again at its turn, its
    // matches given as they are found.
    static constexpr std::int64_t kListedAhead = 4096;
    FileOperation aheadOperation() const {
        FileOperation op = m_operation;
        if (m_streaming && (op.MaxCount <= 0 || op.MaxCount > kListedAhead + 1))
            op.MaxCount = kListedAhead + 1;
        return op;
    }
    bool listedTooManyAhead(const PreparedFile& prepared) const {
        return m_streaming && prepared.MatchList.size() > static_cast<std::size_t>(kListedAhead);
    }

    // Passes a file's matches on to RunEvents::Matches under its entry.
    class EntryFeed final : public MatchFeed {
    public:
        EntryFeed(MatchListener& listener, const std::string& entry) : m_listener(listener), m_entry(entry) {}
        void begin(std::string_view text) override { m_listener.begin(m_entry, text); }
        void matches(std::span<const MatchLocation> batch) override { m_listener.matches(batch); }
        void end() override { m_listener.end(); }

    private:
        MatchListener& m_listener;
        const std::string& m_entry;
    };

    PreparedFile prepare(const Entry& entry, std::exception_ptr& error) {
        try {
            if (m_streaming) {
                EntryFeed feed(*m_events.Matches, resultEntry(entry));
                return PrepareFileAt(entry.location, m_operation, &feed);
            }
            return m_events.ChooseMatches ? prepareChosen(entry.location) : PrepareFileAt(entry.location, m_operation);
        } catch (...) {
            error = std::current_exception();
            return {};
        }
    }

    static const std::string& resultEntry(const Entry& entry) {
        return entry.walked ? entry.location.Path : entry.listedName;
    }

    // A file prepared with the changes RunEvents::ChooseMatches picks from
    // its matches. The second read must find the bytes the choice was made
    // on; if they changed, the new ones are asked about.
    PreparedFile prepareChosen(const FileLocation& location) {
        FileOperation listing = m_operation;
        listing.ListMatches = true;
        if (!m_request.Param.ListMatches)
            listing.ListMatchesUpTo = m_events.ChoiceListsUpTo;
        PreparedFile asked = PrepareFileAt(location, listing);
        for (int tries = 1;; ++tries) {
            if (!asked.Changed || asked.Matches <= 0) {
                if (!m_request.Param.ListMatches)
                    asked.MatchList.clear();
                return asked;
            }
            FileOperation chosen = m_operation;
            chosen.Match.Selection =
                m_events.ChooseMatches(location.Path, asked.oldText(), asked.MatchList, asked.Matches);
            PreparedFile prepared = PrepareFileAt(location, chosen);
            if (prepared.Identity == asked.Identity && !prepared.Torn && !asked.Torn)
                return prepared;
            if (tries >= kTries)
                throw Error("File changed while being processed: \"" + detail::fullPath(location.Path) + "\"");
            asked = PrepareFileAt(location, listing);
        }
    }

    // Takes the oldest file from the workers. It waits for its turn behind
    // a few others, while a worker stages its rewrite (the temporary file
    // written and synced): the run's thread then only checks and renames.
    // A file with nothing to write and none waiting before it (every file
    // of a search) is settled at once.
    void settleOldest() {
        Entry entry = std::move(m_waiting.front());
        m_waiting.pop_front();
        std::exception_ptr error;
        auto prepared = std::make_unique<PreparedFile>(m_pipeline->takeOldest(error));
        const bool ahead = !error && prepared->NeedsWrite && !stale(*prepared) && !madeByHooks(entry, *prepared);
        if (!ahead && m_turns.empty()) {
            settle(entry, std::move(prepared), error, StagedRewrite());
            return;
        }
        auto turn = std::make_shared<Turn>();
        turn->entry = std::move(entry);
        turn->prepared = std::move(prepared);
        turn->error = error;
        turn->ahead = ahead;
        if (ahead) {
            m_pipeline->assist([turn] {
                if (!turn->claimed.exchange(true)) // else its turn came first
                    stageAheadOf(*turn);
            });
        }
        m_turns.push_back(std::move(turn));
        if (m_turns.size() > m_held.rewritesAhead)
            settleNextTurn();
    }

    void settleNextTurn() {
        const std::shared_ptr<Turn> turn = std::move(m_turns.front());
        m_turns.pop_front();
        if (turn->claimed.exchange(true)) { // a worker is staging it
            // Rather than sleep meanwhile, stage the files after it here.
            for (const std::shared_ptr<Turn>& later : m_turns) {
                if (turn->isStaged())
                    break;
                if (later->ahead && !later->claimed.exchange(true))
                    stageAheadOf(*later);
            }
            std::unique_lock lock(turn->mutex);
            turn->stagedChanged.wait(lock, [&] { return turn->staged; });
        }
        settle(turn->entry, std::move(turn->prepared), turn->error, std::move(turn->rewrite));
    }

    // A file read before this run replaced it (the same file named twice, a
    // hard link rewritten in place): its preparation is stale.
    // A file that shrank while it was read is stale too.
    bool stale(const PreparedFile& prepared) const {
        return prepared.Torn || (prepared.Opened && m_replaced.count(key(prepared.Identity)) != 0);
    }

    // A backup this run wrote beside an earlier file of the walk: never an
    // entry of the run itself.
    bool madeByHooks(const Entry& entry, const PreparedFile& prepared) const {
        return entry.walked && prepared.Opened && m_request.Hooks != nullptr &&
               m_request.Hooks->madeByHooks(prepared.Identity.Device, prepared.Identity.Inode);
    }

    enum class Settled { Done, Staged, Failed, Skipped };

    // Settles an entry in run order: reported at once, or, while rewrites
    // are staged, queued behind them.
    // `ahead`: the file's rewrite, if a worker staged it.
    void settle(Entry& entry, std::unique_ptr<PreparedFile> held, std::exception_ptr error, StagedRewrite ahead) {
        // A staged rewrite points into the prepared bytes (also the few an
        // operation made, which a move of their string would carry away):
        // they stay where they are, held by pointer, until it is finished.
        // Another name of a file already staged (a hard link, the same path
        // written twice) is handled once that rewrite is in place: it is then
        // stale and read again, and a rewrite in place would otherwise wait
        // for the lease the staged rewrite holds on the file.
        if (held->Opened && m_stagedInodes.count({held->Identity.Device, held->Identity.Inode}) != 0)
            putStagedInPlace();
        if (!error && listedTooManyAhead(*held)) {
            QUILLET_ASSERT(m_batch.empty(), "a run that writes nothing stages nothing");
            *held = PreparedFile();        // its bytes go before they are read again
            *held = prepare(entry, error); // its turn: its matches given as they are found
        }
        StagedRewrite staged = std::move(ahead);
        Settled settled = Settled::Done;
        try {
            settled = resolve(entry, *held, std::move(error), 1, staged, staging());
        } catch (...) {
            putStagedInPlace(); // the entries before this one come first
            throw;
        }
        if (settled == Settled::Skipped || settled == Settled::Failed)
            return;
        if (settled == Settled::Staged) {
            m_stagedBytes += held->Original.size();
            ++m_stagedFiles;
            m_stagedInodes.insert({held->Identity.Device, held->Identity.Inode});
        }
        if (settled == Settled::Done && m_batch.empty()) {
            reportMatches(entry, held.get());
            report(entry, verdictOf(*held));
            return;
        }
        // A file done already waits only for its report: its bytes go now,
        // and so does its hold on the walk's directory, whose descriptor
        // stays open while anything refers to it (thousands of files may wait
        // behind one staged rewrite, each in a directory of its own).
        const Verdict verdict = verdictOf(*held);
        if (settled == Settled::Done && held->MatchList.empty()) {
            held.reset();
            entry.location.Directory.reset();
        }
        m_batch.push_back({std::move(entry), std::move(held), std::move(staged), verdict});
        if (m_stagedFiles >= m_held.stagedRewrites || m_stagedBytes >= kMaxStagedBytes)
            putStagedInPlace();
    }

    // Rewrites are staged so that a batch of them shares its flushes (and
    // the hooks' records theirs), unless a person answers for each file
    // (RunEvents::ChoicesAreAsked).
    bool staging() const { return !m_request.Param.DryRun && !(m_events.ChooseMatches && m_events.ChoicesAreAsked); }

    // Reads, checks and commits one entry, reading it again while it turns
    // out to have changed. `rewrite` may come staged ahead; with
    // `keepStaged`, the rewrite is left staged there.
    // A failure raises, or with KeepGoing is reported and gives Failed.
    Settled resolve(Entry& entry, PreparedFile& prepared, std::exception_ptr error, int firstTry,
                    StagedRewrite& rewrite, bool keepStaged) {
        try {
            for (int tries = firstTry;; ++tries) {
                if (error)
                    std::rethrow_exception(error);
                if (madeByHooks(entry, prepared))
                    return Settled::Skipped;
                if (!stale(prepared)) {
                    const RewriteOutcome outcome = commit(entry, prepared, rewrite, keepStaged);
                    if (outcome != RewriteOutcome::NotTheFileRead)
                        return outcome == RewriteOutcome::Staged ? Settled::Staged : Settled::Done;
                }
                rewrite = StagedRewrite(); // what was staged ahead is of the bytes read before
                if (tries >= kTries)
                    throw Error("File changed while being processed: \"" + detail::fullPath(entry.location.Path) +
                                "\"");
                prepared = prepare(entry, error);
            }
        } catch (const Error& failure) {
            putStagedInPlace();
            failed(entry, failure);
            return Settled::Failed;
        }
    }

    // A file that cannot be processed: the run's end, or with KeepGoing a
    // report and the next file. Precondition (checked): called from a catch
    // block, whose exception it raises again.
    void failed(const Entry& entry, const Error& failure) {
        QUILLET_ASSERT(std::current_exception() != nullptr, "failed() from a catch block");
        if (!m_request.KeepGoing)
            throw;
        ++m_totals.Failed;
        if (m_events.OnFileError)
            m_events.OnFileError(entry.location.Path, failure.what());
    }

    // The rewrite of a prepared file, checked against the file as it was read.
    static RewriteRequest rewriteOf(const PreparedFile& prepared, CommitHooks* hooks) {
        RewriteRequest rewrite;
        rewrite.Expected = &prepared.Identity;
        rewrite.OldText = prepared.Original.view();
        rewrite.OldTextEndsFile = prepared.OriginalEndsFile;
        rewrite.Hooks = hooks;
        return rewrite;
    }

    // Puts the prepared content in place, or with keepStaged stages it in
    // `staged` (which may come staged ahead); Changed when the file is no
    // longer the one that was read.
    RewriteOutcome commit(Entry& entry, PreparedFile& prepared, StagedRewrite& staged, bool keepStaged) {
        if (!prepared.Changed)
            return RewriteOutcome::Replaced;
        if (prepared.NeedsWrite) {
            RewriteOutcome outcome = RewriteOutcome::Staged;
            if (staged.staged()) {
                outcome = staged.announce(m_request.Hooks);
            } else {
                const std::vector<std::string_view> pieces = prepared.newBytes();
                outcome = staged.stage(entry.location, pieces, rewriteOf(prepared, m_request.Hooks));
            }
            if (outcome == RewriteOutcome::Staged && keepStaged)
                return outcome;
            if (outcome == RewriteOutcome::Staged)
                outcome = staged.finish();
            if (outcome == RewriteOutcome::NotTheFileRead)
                return outcome;
        }
        replaced(entry, prepared);
        return RewriteOutcome::Replaced;
    }

    void replaced(const Entry& entry, const PreparedFile& prepared) {
        if (prepared.NeedsWrite)
            m_replaced.insert(key(prepared.Identity));
        if (m_events.OnChanged)
            m_events.OnChanged(entry.location.Path, prepared.oldText(),
                               m_events.ChangedNeedsNewText ? prepared.Result.joined() : std::string(),
                               prepared.Kept.empty() ? nullptr : &prepared.Kept, prepared.Matches, prepared.TextHash);
    }

    // Puts the staged rewrites in place, in run order, and reports them and
    // the entries queued behind them. After a stop the rest are given up.
    // The new content of every staged file goes to the disk together first;
    // then, with RunEvents::StopRequested, the files are put in place
    // together (the stop asked before each), their folders flushed
    // together, and reported; without it, one after the other, each
    // reported before the next is put in place.
    void putStagedInPlace() {
        std::vector<Queued> batch;
        batch.swap(m_batch);
        m_stagedFiles = 0;
        m_stagedBytes = 0;
        m_stagedInodes.clear();
        std::vector<StagedRewrite*> rewrites;
        for (Queued& queued : batch)
            if (queued.rewrite.staged())
                rewrites.push_back(&queued.rewrite);
        StagedRewrite::flushNewFiles(rewrites);
        std::vector<std::size_t> places; // in the batch, of the rewrites put in place together
        std::vector<FinishedRewrite> finished;
        for (std::size_t first = 0; first < batch.size() && !m_stopped;) {
            if (!batch[first].rewrite.staged()) {
                settleQueued(batch[first++], nullptr);
                continue;
            }
            const std::size_t end = togetherUntil(batch, first);
            rewrites.clear();
            places.clear();
            for (std::size_t i = first; i < end; ++i) {
                if (batch[i].rewrite.staged()) {
                    rewrites.push_back(&batch[i].rewrite);
                    places.push_back(i);
                }
            }
            finished.assign(rewrites.size(), FinishedRewrite());
            // The stop is read after a file, as OnFile's: never before the
            // run's first file, handled or put in place.
            const auto stopBeforeEach = [this, &finished] {
                const bool afterAFile =
                    m_totals.Handled > 0 || std::any_of(finished.begin(), finished.end(),
                                                        [](const FinishedRewrite& done) { return done.Placed; });
                return afterAFile && m_events.StopRequested();
            };
            const bool stopRequested = StagedRewrite::finishTogether(
                rewrites, finished,
                m_request.KeepGoing ? StagedRewrite::AfterError::GoOn : StagedRewrite::AfterError::Stop,
                m_events.StopRequested ? std::function<bool()>(stopBeforeEach) : std::function<bool()>());
            m_stopped = m_stopped || stopRequested;
            // A stop met on the way still reports every file put in place.
            std::size_t reportUntil = first;
            for (std::size_t k = 0; k < finished.size(); ++k)
                if (finished[k].Placed)
                    reportUntil = places[k] + 1;
            for (std::size_t i = first, k = 0; i < end; ++i) {
                const FinishedRewrite* own = k < places.size() && places[k] == i ? &finished[k++] : nullptr;
                if (m_stopped && i >= reportUntil)
                    break;
                settleQueued(batch[i], own);
            }
            first = end;
        }
        batch.clear(); // gives up what a stop left staged
        if (m_batch.empty())
            m_batch.swap(batch); // its room serves the next batch
    }

    // Where the rewrites put in place together from batch[first] (staged)
    // end: with RunEvents::StopRequested, at the end of the batch, or at the
    // file that makes MaxFiles matching files; otherwise after that one.
    std::size_t togetherUntil(const std::vector<Queued>& batch, std::size_t first) const {
        if (!m_events.StopRequested)
            return first + 1;
        std::int64_t matchesLeft = m_request.MaxFiles > 0 ? m_request.MaxFiles - m_totals.Matched : -1;
        for (std::size_t i = first; i < batch.size(); ++i)
            if (batch[i].verdict == Verdict::Match && matchesLeft > 0 && --matchesLeft == 0)
                return i + 1;
        return batch.size();
    }

    // Reports an entry queued behind staged rewrites, at its turn. `own`:
    // how its own rewrite was put in place; a file that changed meanwhile
    // is read and processed again (not after a stop).
    void settleQueued(Queued& queued, const FinishedRewrite* own) {
        if (own != nullptr) {
            if (own->Error) {
                try {
                    std::rethrow_exception(own->Error);
                } catch (const Error& failure) {
                    failed(queued.entry, failure);
                    return;
                }
            }
            if (own->Outcome == RewriteOutcome::NotTheFileRead) {
                if (m_stopped)
                    return;
                std::exception_ptr error;
                *queued.prepared = prepare(queued.entry, error);
                if (resolve(queued.entry, *queued.prepared, error, 2, queued.rewrite, false) != Settled::Done)
                    return;
                queued.verdict = verdictOf(*queued.prepared);
            } else {
                replaced(queued.entry, *queued.prepared);
            }
        }
        reportMatches(queued.entry, queued.prepared.get());
        report(queued.entry, queued.verdict);
    }

    // What a settled file comes to in the run's counts and reports.
    enum class Verdict : std::uint8_t { NoMatch, Match, PassedOver };
    static Verdict verdictOf(const PreparedFile& prepared) {
        if (prepared.PassedOver)
            return Verdict::PassedOver;
        return prepared.Matched ? Verdict::Match : Verdict::NoMatch;
    }

    // The matches of a file that were listed rather than given as found.
    void reportMatches(const Entry& entry, const PreparedFile* prepared) {
        if (prepared == nullptr || prepared->MatchList.empty())
            return;
        if (m_events.OnMatches)
            m_events.OnMatches(resultEntry(entry), prepared->oldText(), prepared->MatchList, prepared->Matches);
        if (m_events.Matches != nullptr) {
            m_events.Matches->begin(resultEntry(entry), prepared->oldText());
            m_events.Matches->matches(prepared->MatchList);
            m_events.Matches->end();
        }
    }

    void report(const Entry& entry, Verdict verdict) {
        if (verdict == Verdict::PassedOver) {
            // Neither handled nor counted, as a failed file; the stop flag is
            // read at the next file reported.
            ++m_totals.PassedOver;
            if (m_events.OnPassedOver)
                m_events.OnPassedOver(entry.location.Path, kBinaryPassedOver);
            return;
        }
        const bool matched = verdict == Verdict::Match;
        // Assigned into the strings of the last report, which keep their room.
        FileReport& report = m_report;
        if (entry.walked) {
            // The walk's directory path, which begins the entry's path.
            report.Directory.assign(entry.location.Path, 0, entry.location.Path.size() - entry.location.Name.size());
            report.Name = entry.location.Name;
        } else {
            report.Directory.clear();
            report.Name = entry.listedName;
        }
        report.FullPath = entry.location.Path;
        report.Total = entry.total;
        report.Matched = matched;
        report.Index = ++m_totals.Handled;
        if (matched) {
            ++m_totals.Matched;
            if (m_events.OnResult)
                m_events.OnResult(entry.walked ? entry.location.Path : entry.listedName);
        }
        bool stop = false;
        if (m_events.OnFile)
            m_events.OnFile(report, stop);
        if (m_request.MaxFiles > 0 && m_totals.Matched >= m_request.MaxFiles)
            stop = true;
        // Files put in place after a stop are still reported: the stop holds.
        m_stopped = m_stopped || stop;
    }

    using Key = std::tuple<dev_t, ino_t, std::int64_t, std::int64_t, std::int64_t>;
    static Key key(const FileIdentity& id) { return {id.Device, id.Inode, id.Size, id.ModifiedNs, id.ChangedNs}; }

    // A file taken from the workers, waiting for its turn; shared with the
    // worker that stages its rewrite ahead. Whoever claims it first owns
    // it: a worker, until it sets `staged`, or the file's turn.
    struct Turn {
        Entry entry;
        std::unique_ptr<PreparedFile> prepared;
        std::exception_ptr error;
        StagedRewrite rewrite;
        std::atomic<bool> claimed{false};
        // The run's thread sleeps until the worker that claimed the file is
        // done. An atomic wait would spin and yield first: with more threads
        // than cores, each yield gives the core to a worker reading ahead,
        // and the run's thread, which alone puts files in place, waits for
        // whole time slices.
        std::mutex mutex;
        std::condition_variable stagedChanged;
        bool staged = false; // guarded by mutex: the worker that claimed it is done
        bool ahead = false;  // its rewrite may be staged before its turn

        bool isStaged() {
            std::lock_guard lock(mutex);
            return staged;
        }
    };

    // Precondition: the caller has claimed the turn.
    // Whatever happens, the turn is marked staged: its thread waits for that.
    static void stageAheadOf(Turn& turn) noexcept {
        try {
            const PreparedFile& file = *turn.prepared;
            const std::vector<std::string_view> pieces = file.newBytes();
            turn.rewrite.stageAhead(turn.entry.location, pieces, rewriteOf(file, nullptr));
        } catch (...) {
            // Out of memory for the list of pieces: staged at its turn instead.
        }
        {
            std::lock_guard lock(turn.mutex);
            turn.staged = true;
        }
        turn.stagedChanged.notify_one();
    }

    // An entry settled after a staged rewrite, or one itself, waiting in run order.
    struct Queued {
        Entry entry;
        std::unique_ptr<PreparedFile> prepared; // never moved while staged; none once done
        StagedRewrite rewrite;
        Verdict verdict = Verdict::NoMatch;
    };
    // Bytes read of the files staged at once, so that large ones are not
    // held in memory together.
    static constexpr std::size_t kMaxStagedBytes = std::size_t{64} << 20;

    const RunRequest& m_request;
    const RunEvents& m_events;
    RunTotals& m_totals;
    const FileOperation m_operation; // see operationOf
    const HeldOpen m_held;
    std::vector<Queued> m_batch;
    int m_stagedFiles = 0;
    std::size_t m_stagedBytes = 0;
    std::set<std::pair<dev_t, ino_t>> m_stagedInodes; // the files staged in m_batch
    std::optional<OrderedPipeline> m_pipeline;
    std::deque<Entry> m_waiting;               // submitted to the pipeline, in run order
    std::deque<std::shared_ptr<Turn>> m_turns; // taken from it, in run order
    std::set<Key> m_replaced;                  // files this run replaced, as they were read
    FileReport m_report;                       // the last one handed to OnFile
    bool m_stopped = false;
    const bool m_streaming; // matches given as they are found (RunEvents::Matches)
};

std::vector<std::string> listDirectory(const RunRequest& request) {
    std::string reason;
    std::vector<std::string> names = finder::ListMatchingFiles(request.Directory, request.Mask, &reason);
    if (!reason.empty())
        cannotOpenDirectory(request.Directory, reason);
    return names;
}

void runList(const RunRequest& request, RunDriver& driver) {
    const std::string root =
        request.Shape == RunShape::DirectoryListing ? withTrailingSlash(request.Directory) : std::string();
    const std::vector<std::string> listed = request.Shape == RunShape::DirectoryListing && request.Entries.empty()
                                                ? listDirectory(request)
                                                : std::vector<std::string>();
    const std::vector<std::string>& entries = request.Entries.empty() ? listed : request.Entries;

    std::int64_t total = 0;
    for (const std::string& entry : entries)
        total += entry.empty() ? 0 : 1;
    for (const std::string& name : entries) {
        if (name.empty())
            continue;
        Entry entry;
        entry.location = FileLocation::atPath(root + name);
        entry.listedName = name;
        entry.total = total;
        if (driver.add(std::move(entry)))
            return;
    }
    driver.finish();
}

void runWalk(const RunRequest& request, const RunEvents& events, RunDriver& driver) {
    finder::TFileFinder fileFinder;
    fileFinder.FileAttr = finder::faAnyFile;
    fileFinder.Root = withTrailingSlash(request.Directory);
    fileFinder.SubFolders = true;
    fileFinder.FuzzySearch = true;
    fileFinder.IgnoreCase = true;
    fileFinder.Filename = request.Mask;
    // Sizes are not needed to bound what is read ahead (see OrderedPipeline).
    fileFinder.Detail = finder::EntryDetail::TypeOnly;
    fileFinder.ProcessMessages = false;
    std::optional<std::string> rootError;
    fileFinder.OnDirectoryError = [&](const std::string& directory, const std::string& reason) {
        if (directory == fileFinder.Root)
            rootError = reason;
        else if (events.OnUnreadableDirectory)
            events.OnUnreadableDirectory(directory, reason);
    };
    if (request.Hooks != nullptr)
        fileFinder.SkipDirectory = [&request](dev_t device, ino_t inode) {
            return request.Hooks->madeByHooks(device, inode);
        };
    fileFinder.OnFileFound = [&](finder::TFileFinder& sender, const std::string&, finder::TSearchRec found,
                                 bool& stop) {
        // Directories (also one whose name fits the mask), symlinks met in a
        // directory, FIFOs and devices are passed over: only regular files are
        // processed, each once.
        if (!found.isRegularFile())
            return;
        Entry entry;
        entry.location = FileLocation::inDirectory(sender.CurrentDirectory(), std::move(found.Name));
        entry.walked = true;
        stop = driver.add(std::move(entry));
    };
    fileFinder.Start();
    if (rootError)
        cannotOpenDirectory(request.Directory, *rootError);
    driver.finish();
}

} // namespace

std::int64_t ExecuteRun(const RunRequest& request, const RunEvents& events, RunTotals* totals) {
    RunTotals own;
    RunTotals& counts = totals != nullptr ? *totals : own;
    counts = RunTotals{};
    RunDriver driver(request, events, counts);
    if (request.Shape == RunShape::DirectoryWalk) {
        runWalk(request, events, driver);
        return counts.Matched;
    }
    runList(request, driver);
    return counts.Handled;
}

} // namespace quillet::engine
