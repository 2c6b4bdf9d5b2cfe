#include "run_controller.h"

#include "text_bytes.h"
#include "user_dialogs.h"

#include <QLocale>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <utility>

namespace quillet::gui {

RunController::RunController(QObject* parent) : QObject(parent), m_frameTimer(new QTimer(this)) {
    m_frameTimer->setSingleShot(true);
    connect(m_frameTimer, &QTimer::timeout, this, &RunController::deliverNow);
}

RunController::~RunController() {
    stopAndWait();
}

void RunController::start(engine::RunRequest request, StopAtStart stop, RunAttachments attachments) {
    Q_ASSERT(!m_running);
    if (m_thread.joinable())
        m_thread.join();
    m_stop.store(stop == StopAtStart::Yes);
    m_running = true;
    m_sinceDelivery.invalidate();
    m_thread = std::thread(&RunController::work, this, std::move(request), std::move(attachments), m_generation);
}

void RunController::stopAndWait() {
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
    ++m_generation;
    m_running = false;
    m_frameTimer->stop();
    const std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_wakePending = false;
}

void RunController::queue(FileBatch batch, int generation) {
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        m_queue.append(std::move(batch));
        wake = !m_wakePending;
        m_wakePending = true;
    }
    if (wake)
        postDelivery(generation);
}

void RunController::queueLatest(const engine::FileReport& report, int generation) {
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        if (m_queue.isEmpty())
            m_queue.emplaceBack();
        m_queue.back().Report = report;
        wake = !m_wakePending;
        m_wakePending = true;
    }
    if (wake)
        postDelivery(generation);
}

void RunController::postDelivery(int generation) {
    QMetaObject::invokeMethod(
        this, [this, generation] { deliver(generation); }, Qt::QueuedConnection);
}

void RunController::deliver(int generation) {
    if (generation != m_generation || m_frameTimer->isActive())
        return;
    using std::chrono::milliseconds;
    const auto elapsed = m_sinceDelivery.isValid() ? milliseconds(m_sinceDelivery.elapsed()) : kDeliveryInterval;
    if (elapsed < kDeliveryInterval) {
        m_frameTimer->start(kDeliveryInterval - elapsed);
        return;
    }
    deliverNow();
}

void RunController::deliverNow() {
    QList<FileBatch> batches;
    {
        const std::lock_guard lock(m_mutex);
        batches.swap(m_queue);
        m_wakePending = false;
    }
    m_sinceDelivery.start();
    if (!batches.isEmpty())
        emit filesHandled(batches);
}

// Runs on the worker thread. The end of the run is posted to this object's
// thread; a posted call whose generation is stale belongs to an abandoned run.
void RunController::work(engine::RunRequest request, RunAttachments attachments, int generation) {
    std::vector<std::string> pendingResults;
    engine::RunEvents events;
    if (attachments.OnChanged)
        events.OnChanged = [onChanged = std::move(attachments.OnChanged)](
                               const std::string& path, std::string_view oldText, std::string_view newText,
                               const std::vector<core::KeptStretch>*, std::int64_t matches,
                               std::uint64_t textHash) { onChanged(path, oldText, newText, matches, textHash); };
    events.ChangedNeedsTextHash = true;
    events.OnMatches = std::move(attachments.OnMatches);
    events.ChooseMatches = std::move(attachments.ChooseMatches);
    events.ChoiceListsUpTo = attachments.ChoiceListsUpTo;
    events.ChangedNeedsNewText = attachments.ChangedNeedsNewText;
    const bool eachFile = attachments.Delivered == RunAttachments::Reports::EachFile;
    if (eachFile)
        events.OnResult = [&](const std::string& entry) { pendingResults.push_back(entry); };
    QStringList unreadable;
    events.OnUnreadableDirectory = [&](const std::string& directory, const std::string& reason) {
        QString path = pathFromBytes(directory);
        if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        unreadable << path + QStringLiteral(": ") + QString::fromLocal8Bit(reason);
    };
    events.OnFile = [&](const engine::FileReport& report, bool& stop) {
        if (eachFile) {
            queue(FileBatch{report, std::move(pendingResults)}, generation);
            pendingResults.clear();
        } else {
            queueLatest(report, generation);
        }
        stop = m_stop.load();
    };
    // Also before each file is put in place, so that the run may put the
    // files it staged in place together.
    events.StopRequested = [this] { return m_stop.load(); };

    std::int64_t filesDone = 0;
    engine::RunTotals totals;
    QString error;
    bool failedRun = false;
    std::optional<engine::RunKeepers> keepers;
    try {
        if (attachments.Keep) {
            keepers.emplace(std::move(*attachments.Keep));
            if (engine::CommitHooks* hooks = keepers->hooks())
                request.Hooks = hooks;
        }
        filesDone = engine::ExecuteRun(request, events, &totals);
    } catch (const std::exception& e) {
        failedRun = true;
        error = errorMessage(e);
    } catch (...) {
        failedRun = true;
        error = QStringLiteral("Unknown error");
    }
    // The journal is finished before the window hears of the end, so that an
    // undo right after finds the run complete.
    keepers.reset();

    QMetaObject::invokeMethod(
        this,
        [this, generation, filesDone, failedRun, error, unreadable, passedOver = totals.PassedOver] {
            if (generation != m_generation)
                return;
            if (m_thread.joinable())
                m_thread.join();
            m_frameTimer->stop();
            deliverNow();
            m_running = false;
            if (failedRun)
                emit failed(error);
            else
                emit finished(static_cast<qint64>(filesDone), unreadable, static_cast<qint64>(passedOver));
        },
        Qt::QueuedConnection);
}

QString finishedText(qint64 filesDone, const QStringList& unreadableFolders, qint64 passedOver) {
    constexpr qsizetype kNamed = 10;
    QString text = QStringLiteral("Finished! Found and Processed %1 files.").arg(filesDone);
    if (passedOver > 0)
        text += QStringLiteral(" Passed over %1 binary %2.")
                    .arg(passedOver)
                    .arg(passedOver == 1 ? QStringLiteral("file") : QStringLiteral("files"));
    if (unreadableFolders.isEmpty())
        return text;
    const qsizetype count = unreadableFolders.size();
    text += QStringLiteral("\n\nPassed over %1 %2 that could not be read:")
                .arg(count)
                .arg(count == 1 ? QStringLiteral("folder") : QStringLiteral("folders"));
    for (const QString& folder : unreadableFolders.first(std::min(count, kNamed)))
        text += QLatin1Char('\n') + folder;
    if (count > kNamed)
        text += QStringLiteral("\nand %1 more").arg(count - kNamed);
    return text;
}

QString listProgressText(std::int64_t done, std::int64_t total) {
    if (total <= 0)
        return {};
    const std::int64_t hundredths = done * 10000 / total;
    QString percent = QString::number(hundredths / 100);
    const std::int64_t fraction = hundredths % 100;
    if (fraction != 0) {
        percent += QLocale().decimalPoint();
        percent += fraction % 10 == 0 ? QString::number(fraction / 10)
                                      : QStringLiteral("%1").arg(fraction, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1/%2 = %3%").arg(done).arg(total).arg(percent);
}

int walkBarPosition(std::int64_t filesDone) {
    if (filesDone <= 0)
        return 0;
    const auto rest = static_cast<int>(filesDone % 100);
    return rest == 0 ? 100 : rest;
}

QString walkFileLabel(const QString& driveTail, const QString& directory, qsizetype pathCutLen, const QString& name) {
    return driveTail + directory.mid(pathCutLen, 255) + name;
}

QString fileNamePart(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace quillet::gui
